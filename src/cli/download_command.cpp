// download: the counter's history flash into a dump file, as the window's "Download" button does.
#include <charconv>
#include <filesystem>
#include <iostream>
#include <ostream>

#include "cli/command.h"
#include "cli/device_rig.h"
#include "cli/progress_display.h"
#include "core/common/clock.h"
#include "core/common/text_format.h"
#include "core/files/dump_after_download.h"
#include "core/files/file_saver.h"
#include "core/files/writer_options.h"
#include "core/history/download.h"
#include "core/history/download_new.h"
#include "core/i18n/language_dictionary.h"
#include "core/platform/folder_check.h"
#include "core/platform/interrupt_watch.h"
#include "core/protocol/model_table.h"
#include "core/settings/settings_store.h"
#include "core/store/last_download.h"
#include "core/store/counter_store.h"
#include "core/tools/clock_sync.h"

namespace norvane::cli {
namespace {

// The download dialog's type texts, lower-cased as the window keeps them.
constexpr std::string_view kBinaryType = "binary files (*.bin)";
constexpr std::string_view kBothType = "both files (bin and csv)";

struct DownloadArgs {
  std::string out;
  DownloadOptions options;
  bool csv = false;
};

std::optional<int> ParseArgs(const CommandContext& context, DownloadArgs& args) {
  const std::vector<std::string>& paths = context.args;
  args.options.end_mode = context.options.Has("--all") ? 1 : 0;
  args.options.only_new = context.options.Has("--new");
  args.csv = context.options.Has("--csv");
  args.options.speed = DownloadOptionsFromSettings(SettingsStore(context.settings_path).Load()).speed;
  if (const std::optional<std::string> v = context.options.Value("--speed")) {
    int speed = -1;
    const auto [end, ec] = std::from_chars(v->data(), v->data() + v->size(), speed);
    if (ec != std::errc{} || end != v->data() + v->size() || speed < 0 || speed > 100)
      return context.Usage("--speed takes a whole number from 0 to 100, not '" + *v + "'");
    args.options.speed = speed;
  }
  if (paths.size() != 1) return context.Usage("download needs one output file");
  args.out = paths.front();
  return std::nullopt;
}

// Why the download did not give a dump, as a user reads it.
std::string EndText(DownloadEnd end) {
  switch (end) {
    case DownloadEnd::kStopped: return "download stopped";
    case DownloadEnd::kTooManyFailures: return "the counter stopped answering";
    case DownloadEnd::kPortLost: return "the port was lost during the download";
    case DownloadEnd::kUnsynched: return "the counter is not in download mode";
    case DownloadEnd::kHistoryDiffers: return "the counter's history changed during the download";
    default: return "the download did not start";
  }
}

// A download cut short by the line keeps what arrived; a stop asked for, or prompts instead of
// flash, keep nothing.
std::string KeepWhatArrived(const DownloadReport& report, const HistoryDump& dump, const std::string& path) {
  const bool cut_short = report.end == DownloadEnd::kTooManyFailures || report.end == DownloadEnd::kPortLost;
  if (!cut_short || report.bytes == 0) return EndText(report.end) + ": nothing saved";
  const SaveResult kept = KeepPartialDownload(dump, report.bytes, path, TemporaryFolder());
  const std::string arrived = Format(": %u of %u bytes arrived", static_cast<unsigned>(report.bytes),
                                     static_cast<unsigned>(report.image_size));
  if (!kept.saved()) return EndText(report.end) + arrived + ", and could not be kept: " + kept.error;
  return EndText(report.end) + arrived + ", kept in " + kept.path;
}

// The counter's last download, for --new; nothing (and why, on the display) when there is none.
std::vector<uint8_t> LastDownloadOf(const CommandContext& context, const std::string& version, uint32_t image_size,
                                    UserNotifier& display) {
  try {
    const auto opened = store::OpenStore(context.store_path.string());
    store::CounterStore& db = *opened;
    if (auto last = store::FindLastDownload(db, version, image_size)) return std::move(last->data);
    display.Status("No earlier download of this counter is kept: downloading all of it.");
  } catch (const store::StoreError& e) {
    display.Status(std::string("The store cannot be read (") + e.what() + "): downloading all of it.");
  }
  return {};
}

// Kept after every saved download, so the next --new reads on from it.
void KeepForNextTime(const CommandContext& context, const store::CounterInfo& info, const HistoryDump& dump,
                     int64_t now, UserNotifier& display) {
  try {
    const auto opened = store::OpenStore(context.store_path.string());
    store::CounterStore& db = *opened;
    const ImageView image = dump.image();
    store::KeepLastDownload(db, db.RegisterCounter(info, now), {image.data(), image.size()}, now);
  } catch (const store::StoreError& e) {
    display.Status(std::string("The store could not keep this download for the next --new: ") + e.what());
  }
}

}  // namespace

int RunDownload(CommandContext& context) {
  DownloadArgs args;
  if (auto code = ParseArgs(context, args)) return *code;
  if (!context.port) return context.Usage("download needs --port DEV");
  const std::optional<int> model = ChosenModel(context);
  if (!model) return context.Fail("unknown model '" + *context.model + "' (see the model list in the README)");
  TraceFile trace;
  if (auto problem = OpenTrace(context, trace)) return context.Fail(*problem);

  // Absolute, so the folder remembered as FileDownloadPath means the same to the window.
  std::string path = std::filesystem::absolute(args.out).string();
  // For both files the CSV goes beside the dump as OUT.csv, not OUT.bin.csv.
  if (args.csv && path.ends_with(".bin")) path.resize(path.size() - 4);
  const std::string_view type_text = args.csv ? kBothType : kBinaryType;
  // Refused before the port is touched: minutes of reading are worth nothing if the file
  // cannot be written at the end.
  if (auto problem = CheckFolderWritable(std::filesystem::path(path).parent_path().string()))
    return context.Fail(*problem + ": nothing downloaded");

  // Before any thread starts, so every later thread leaves Ctrl+C to the watch.
  InterruptWatch watch;

  const bool terminal = &context.err == &std::cerr && StandardErrorIsTerminal();
  ProgressDisplay display(context.err, terminal);
  DeviceRig rig(PortCatalogue::DiscoverMachine(ExtraPaths(context)), display);
  const std::optional<int> port = rig.ports.Resolve(*context.port);
  if (!port) return context.Usage("--port needs a port number or a device path, not '" + *context.port + "'");
  rig.SetTrace(trace.trace.get());

  SystemClock clock;
  DataSet data(clock.Now());
  SettingsStore settings(context.settings_path);
  const Settings stored = settings.Load();
  data.conversion = stored.calibration;
  DeviceSession session({rig.line, display, rig.state, &data.dump, nullptr});

  session.SelectModelFromList(*model);
  const IdentifyResult identified = session.ConnectAndIdentify(*port);
  if (!identified.port_open) return context.Fail(Format("COM%d could not be opened", *port));
  if (!identified.family) return context.Fail("Please try again!");
  // The entry the reply names sets the history size, unless --model chose it; the family stays
  // the one the counter gave, which picks the heartbeat and configuration commands.
  if (!context.model && rig.state.selected_model >= 0) session.SelectModelFromList(rig.state.selected_model);
  rig.state.family.store(*identified.family);
  if (watch.interrupted()) return context.Fail(EndText(DownloadEnd::kStopped) + ": nothing saved");

  DownloadRequest request{args.options, path, std::string(type_text)};
  if (args.options.only_new) request.previous = LastDownloadOf(context, rig.state.model_text, data.dump.image_size(), display);
  HistoryDownload download({rig.line, rig.state, data.dump, display, &settings, &display});
  DownloadReport report;
  for (;;) {
    if (!download.StartDownload(request)) return context.Fail(EndText(DownloadEnd::kNotStarted));
    {
      // Made after the download and gone before it, so Ctrl+C never reaches a download that is
      // being destroyed; an interrupt that came before it stops the download at once.
      const InterruptHook stop(watch, [&download] { download.RequestStop(); });
      report = download.Wait();
    }
    display.Finish(report.bytes - report.start);
    // Never spliced: another history on this port, or a cleared one, is read from its start.
    if (report.end != DownloadEnd::kHistoryDiffers || request.previous.empty()) break;
    display.Status(kHistoryDiffersText);
    request.previous.clear();
  }
  if (!report.complete()) return context.Fail(KeepWhatArrived(report, data.dump, path));
  // One clock reading into the store after each whole download, so that a station which is only
  // ever downloaded still has its clock judged.
  std::atomic<bool> sync_retry{false};
  ClockSync clock_sync(session, clock, sync_retry, nullptr, {}, KeepClockReadings(context, rig, display));
  const auto read_clock = [&] {
    if (!context.store_path.empty()) clock_sync.ReadAfterDownload();
  };
  const ImageView image = data.dump.image();
  if (!request.previous.empty() && ImageDataEnd({image.data(), image.size()}) == request.previous.size()) {
    read_clock();
    context.out << kNoNewDataText << "\n";
    return kExitOk;
  }

  LanguageDictionary dictionary;
  dictionary.LoadAtStartUp(ReadLanguageFileSetting(settings.Key()), display);
  FileSaver saver(data, dictionary, clock, display);
  saver.set_options(MakeWriterOptions(stored, data.conversion, dictionary));
  const DumpAfterDownload saved = SaveDumpAfterDownload(rig.line, rig.state, saver, data, type_text, path);
  if (!saved.config.complete())
    display.Status(Format("The configuration block did not arrive in full (%d of %d bytes); the rest is 0xFF.",
                          saved.config.received, static_cast<int>(saved.config.block.size())));
  if (!saved.save.dump.saved()) {
    const std::string failed =
        "cannot write " + saved.save.dump.path + (saved.save.dump.error.empty() ? "" : ": " + saved.save.dump.error);
    // The flash took minutes to read: it is kept where it can be, and named.
    const SaveResult kept = KeepUnsavedDownload(data.dump, path, TemporaryFolder());
    if (!kept.saved()) return context.Fail(failed + "; nor could the download be kept: " + kept.error);
    return context.Fail(failed + "; the download is kept in " + kept.path);
  }
  // The history and the download kept for the next --new go to one counter, the one the window
  // and monitoring file this counter under.
  const store::CounterInfo identity = IdentifiedCounter(rig.state, rig.ports, *port);
  // The dump is safe on disk; the store is a second home for the history, so trouble there is
  // reported but does not fail the download.
  if (!context.store_path.empty()) {
    try {
      const auto opened = store::OpenStore(context.store_path.string());
    store::CounterStore& db = *opened;
      const store::CounterId counter = db.RegisterCounter(identity, clock.Now());
      const store::ImportResult r = db.ImportHistory(counter, data.dump.image(), clock);
      display.Status(Format("%zu of %zu history records were new to the store %s.", r.added, r.records,
                            context.store_path.string().c_str()));
    } catch (const std::exception& e) {
      display.Status("The history could not be imported into the store " + context.store_path.string() + ": " + e.what());
    }
  }
  // Kept once the import is done: the next import takes the rows they share as stored.
  KeepForNextTime(context, identity, data.dump, clock.Now(), display);
  read_clock();
  context.out << saved.save.dump.path << "\n";
  if (saved.save.csv) {
    if (!saved.save.csv->saved())
      return context.Fail("the dump was written, the CSV was not: " + saved.save.csv->path +
                          (saved.save.csv->error.empty() ? "" : ": " + saved.save.csv->error));
    context.out << saved.save.csv->path << "\n";
  }
  return kExitOk;
}

}  // namespace norvane::cli
