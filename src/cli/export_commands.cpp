// export and realtime-export: write the program's export files from saved images and recordings.
#include <ostream>

#include "cli/command.h"
#include "cli/image_loading.h"
#include "core/common/clock.h"
#include "core/files/file_saver.h"
#include "core/files/local_time.h"
#include "core/files/realtime_binary.h"
#include "core/files/writer_options.h"
#include "core/i18n/language_dictionary.h"
#include "core/platform/file_read.h"
#include "core/settings/settings_store.h"

namespace norvane::cli {
namespace {

// The save's status entry is the command's result, so it goes to stdout; messages to stderr.
class ExportNotifier final : public UserNotifier {
 public:
  ExportNotifier(std::ostream& out, std::ostream& err) : out_(out), err_(err) {}
  void Message(std::string_view text, std::string_view) override { err_ << "norvane-cli: " << text << "\n"; }
  void Status(std::string_view line) override { out_ << line; }
  bool Ask(std::string_view, std::string_view) override { return false; }

 private:
  std::ostream& out_;
  std::ostream& err_;
};

struct ExportArgs {
  std::string in;
  std::string out;
  bool semicolon = false;
};

// IN OUT [--semicolon]; an exit code when they are wrong.
std::optional<int> ParseArgs(const CommandContext& context, ExportArgs& args) {
  const std::vector<std::string>& paths = context.args;
  args.semicolon = context.options.Has("--semicolon");
  if (paths.size() != 2) return context.Usage(std::string(context.command.name) + " needs an input and an output file");
  args.in = paths[0];
  args.out = paths[1];
  return std::nullopt;
}

// The dictionary the window would use, so column titles follow the chosen language.
void LoadDictionary(const CommandContext& context, LanguageDictionary& dictionary, UserNotifier& notifier) {
  SettingsStore store(context.settings_path);
  dictionary.LoadAtStartUp(ReadLanguageFileSetting(store.Key()), notifier);
}

int Finish(const CommandContext& context, const SaveResult& result) {
  if (result.saved()) return kExitOk;
  return context.Fail("cannot write " + result.path + (result.error.empty() ? "" : ": " + result.error));
}

// The SaveByType pattern an output name asks for.
std::optional<std::string_view> PatternForName(std::string_view name) {
  static constexpr std::pair<std::string_view, std::string_view> kEndings[] = {
      {".csv", "*.csv"}, {".html", "*.html"}, {".htm", "*.htm"}, {".R@H", "*.R@H"},
      {".r@h", "*.R@H"}, {".rbn", "*.rbn"},   {".bin", "*.bin"}};
  for (const auto& [ending, pattern] : kEndings)
    if (name.ends_with(ending)) return pattern;
  return std::nullopt;
}

}  // namespace

int RunExport(CommandContext& context) {
  ExportArgs args;
  if (auto code = ParseArgs(context, args)) return *code;
  ExportNotifier notifier(context.out, context.err);
  SystemClock clock;
  DataSet data(clock.Now());
  if (int code = LoadImage(context, args.in, data)) return code;
  LanguageDictionary dictionary;
  LoadDictionary(context, dictionary, notifier);
  const Settings settings = SettingsStore(context.settings_path).Load();

  FileSaver saver(data, dictionary, clock, notifier);
  saver.set_options(MakeWriterOptions(settings, data.conversion, dictionary, args.semicolon));
  return Finish(context, saver.ExportHistoryCsv("*.csv", args.out));
}

int RunRealtimeExport(CommandContext& context) {
  ExportArgs args;
  if (auto code = ParseArgs(context, args)) return *code;
  const auto pattern = PatternForName(args.out);
  if (!pattern) return context.Usage("OUT must end in .csv, .html, .htm, .R@H, .r@h, .rbn or .bin");

  std::string error;
  // A day of seconds, each at most a 7-byte value record, after the stamp.
  const auto file = ReadFilePrefix(args.in, 12 + 7 * uint64_t{RealtimeSeries::kCapacity} + 1, &error);
  if (!file) return context.Fail("cannot read " + args.in + ": " + error);
  const auto recording = ParseRealtimeBinary(file->bytes, &error);
  if (!recording) return context.Fail(args.in + ": " + error);

  ExportNotifier notifier(context.out, context.err);
  SystemClock clock;
  DataSet data(clock.Now());
  data.realtime.Restore(TimeFromLocal(clock, LocalFromStamp(recording->start)), recording->start, recording->counts);
  const Settings settings = SettingsStore(context.settings_path).Load();
  data.conversion = settings.calibration;
  LanguageDictionary dictionary;
  LoadDictionary(context, dictionary, notifier);

  FileSaver saver(data, dictionary, clock, notifier);
  saver.set_options(MakeWriterOptions(settings, data.conversion, dictionary, args.semicolon));
  return Finish(context, saver.SaveByType(*pattern, args.out));
}

}  // namespace norvane::cli
