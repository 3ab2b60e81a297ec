// config: decode, convert, read, write, set and factory-reset the counter's configuration.
#include <charconv>
#include <chrono>
#include <ostream>

#include "cli/command.h"
#include "cli/device_rig.h"
#include "cli/stream_notifier.h"
#include "cli/text_output.h"
#include "core/common/text_format.h"
#include "core/config/config_transfer.h"
#include "core/settings/settings_store.h"

namespace norvane::cli {
namespace {

using F = EditorField;

constexpr std::string_view kRadonRefusal = "This feature is not available on this model.";

// The fields in the order they are printed, with calibration and the conversion table after.
constexpr F kFirstFields[] = {F::kAlarm, F::kSpeaker, F::kBacklight, F::kBacklightLevel, F::kSwivel, F::kLed,
                              F::kCpmAlarm, F::kUsvAlarm};
constexpr F kLaterFields[] = {F::kSsid, F::kPassword, F::kWebsite, F::kUrl, F::kUserId, F::kCounterId,
                              F::kPeriod, F::kSaveType, F::kTubeSelect, F::kDeadTime, F::kDeadTime1,
                              F::kDeadTime2, F::kMediumCpm, F::kHighCpm};

void PrintFields(std::ostream& out, const ConfigEditor& editor, int family, bool json) {
  const ConfigForm& form = editor.form();
  // "swivel" is the box the family shows there: the vibrate switch on family 7.
  auto shown = [&](F f) { return f == F::kSwivel ? *FieldForKey("swivel", family) : f; };
  if (json) {
    Json document = Json::object();
    for (F f : kFirstFields) document[std::string(FieldKey(f))] = JsonText(form[shown(f)]);
    Json& calibration = document["calibration"] = Json::array();
    for (int p = 0; p < kCalibrationPoints; ++p)
      calibration.push_back({{"cpm", JsonText(form[CalibrationCpm(p)])}, {"usv", JsonText(form[CalibrationUsv(p)])}});
    for (F f : kLaterFields) document[std::string(FieldKey(f))] = JsonText(form[f]);
    // An erased block converts to a table of NaN rates: those become null.
    Json& table = document["conversion_table"] = Json::array();
    for (const auto& point : editor.conversion()) table.push_back({{"cpm", point.cpm}, {"usv", point.usv}});
    PrintJson(out, document);
    return;
  }
  auto line = [&](std::string_view key, std::string_view value) {
    out << key << std::string(key.size() < 17 ? 17 - key.size() : 1, ' ') << Printable(value) << "\n";
  };
  for (F f : kFirstFields) line(FieldKey(f), form[shown(f)]);
  for (int p = 0; p < kCalibrationPoints; ++p) {
    line(FieldKey(CalibrationCpm(p)), form[CalibrationCpm(p)]);
    line(FieldKey(CalibrationUsv(p)), form[CalibrationUsv(p)]);
  }
  for (F f : kLaterFields) line(FieldKey(f), form[f]);
  for (size_t p = 0; p < editor.conversion().size(); ++p)
    line(Format("conversion_%zu", p + 1),
         Format("%u CPM  ", editor.conversion()[p].cpm) + ExactNumber(editor.conversion()[p].usv) + " uSv/h");
}

// Progress on stderr: a line when the text changes, at most once a second, and always the last.
class StderrProgress final : public TransferProgress {
 public:
  explicit StderrProgress(std::ostream& err) : err_(err) {}
  void Progress(int, int, std::string_view text) override {
    const auto now = std::chrono::steady_clock::now();
    if (text.empty() || text == last_) return;
    last_ = std::string(text);
    const bool final = text.find("100%") != std::string_view::npos;
    if (!final && now - printed_ < std::chrono::seconds(1)) return;
    printed_ = now;
    err_ << text << "\n";
  }
  void Hide() override {}

 private:
  std::ostream& err_;
  std::string last_;
  std::chrono::steady_clock::time_point printed_{};
};

struct Options {
  explicit Options(const CommandContext& context)
      : positional(context.args.begin() + 1, context.args.end()), sets(context.options.Values("--set")),
        family(context.options.Value("--family")), json(context.options.Has("--json")),
        yes(context.options.Has("--yes")) {}
  std::vector<std::string> positional;  // after the subcommand
  std::vector<std::string> sets;
  std::optional<std::string> family;
  bool json = false;
  bool yes = false;
};

// --family: the configuration layouts exist for families 0-8; radon monitors have no editor.
std::optional<int> ParseFamily(const CommandContext& context, const Options& o, int& exit_code) {
  if (!o.family) {
    exit_code = context.Usage("--family F is needed (0, 1, 4, 5, 6, 7 or 8)");
    return std::nullopt;
  }
  int family = -1;
  const auto [end, ec] = std::from_chars(o.family->data(), o.family->data() + o.family->size(), family);
  if (ec != std::errc{} || end != o.family->data() + o.family->size() || family < 0 || family > 17) {
    exit_code = context.Usage("--family needs a model family number, not '" + *o.family + "'");
    return std::nullopt;
  }
  if (family >= 16) {
    exit_code = context.Fail(kRadonRefusal);
    return std::nullopt;
  }
  if (family > 8) family = 8;  // every family above 8 keeps the extended layout
  return family;
}

// Applies FIELD=VALUE texts to the editor's boxes, as typing into them would. `to_counter`
// refuses fields that a write would not carry to the counter, instead of pretending.
std::optional<std::string> ApplySets(const std::vector<std::string>& sets, int family, bool to_counter,
                                     ConfigForm& form) {
  for (const std::string& s : sets) {
    const size_t eq = s.find('=');
    if (eq == std::string::npos || eq == 0) return "'" + s + "' is not FIELD=VALUE";
    const std::string key = s.substr(0, eq);
    const std::optional<F> field = FieldForKey(key, family);
    if (!field) return "unknown field '" + key + "' (see 'config decode --json' for the names)";
    if (!StoredAt(family, *field)) return "family " + std::to_string(family) + " counters do not keep '" + key + "'";
    if (to_counter && !WrittenToCounter(family, *field))
      return "'" + key + "' lies beyond the bytes a configuration write sends to a family " + std::to_string(family) +
             " counter (0-126); it would not reach the counter";
    form[*field] = s.substr(eq + 1);
  }
  return std::nullopt;
}

ConversionTable StartingTable(const CommandContext& context) {
  return SettingsStore(context.settings_path).Load().calibration;
}

// An editor over an erased block, for work on configuration files without a counter.
struct FileEditor {
  explicit FileEditor(const CommandContext& context)
      : notifier(context.err), table(StartingTable(context)), editor(block, table, notifier) {
    block.fill(kErased);
  }
  StreamNotifier notifier;
  ConfigBlock block;
  ConversionTable table;
  ConfigEditor editor;
};

int Decode(CommandContext& context, const Options& o) {
  if (o.positional.size() != 1 || !o.sets.empty()) return context.Usage("config decode needs one FILE");
  int code = 0;
  const std::optional<int> family = ParseFamily(context, o, code);
  if (!family) return code;
  FileEditor file(context);
  if (!file.editor.LoadFromFile(*family, o.positional[0])) return kExitFailure;
  PrintFields(context.out, file.editor, *family, o.json);
  return kExitOk;
}

int Convert(CommandContext& context, const Options& o) {
  if (o.positional.size() != 2) return context.Usage("config convert needs IN and OUT");
  int code = 0;
  const std::optional<int> family = ParseFamily(context, o, code);
  if (!family) return code;
  FileEditor file(context);
  ConfigEditor& editor = file.editor;
  if (!editor.LoadFromFile(*family, o.positional[0])) return kExitFailure;
  if (auto problem = ApplySets(o.sets, *family, false, editor.form())) return context.Fail(*problem);
  const std::string& out = o.positional[1];
  const bool csv = out.size() >= 4 && out.compare(out.size() - 4, 4, ".csv") == 0;
  const std::string written = editor.SaveToFile(*family, out, csv ? ConfigFileFormat::kCsv : ConfigFileFormat::kBinary);
  if (written.empty()) return kExitFailure;
  context.out << written << "\n";
  return kExitOk;
}

// Everything a device subcommand holds; the editor's port is released before the rig goes.
struct ConfigDevice {
  ConfigDevice(const CommandContext& context, PortCatalogue ports)
      : notifier(context.err), rig(std::move(ports), notifier), table(StartingTable(context)),
        editor(block, table, notifier), progress(context.err), port(rig.session),
        transfer(port, editor, progress) {
    block.fill(kErased);
  }
  ~ConfigDevice() { port.Release(); }

  StreamNotifier notifier;
  DeviceRig rig;
  ConfigBlock block;
  ConversionTable table;
  ConfigEditor editor;
  StderrProgress progress;
  EditorPort port;
  ConfigTransfer transfer;
};

int RunOnDevice(CommandContext& context, const std::string& sub, const Options& o) {
  if (!context.port) return context.Usage("config " + sub + " needs --port DEV");
  if (sub == "read" && (o.positional.size() != 1 || !o.sets.empty())) return context.Usage("config read needs OUT");
  if (sub == "write" && o.positional.size() != 1) return context.Usage("config write needs IN");
  if (sub == "set" && o.positional.empty() && o.sets.empty())
    return context.Usage("config set needs FIELD=VALUE arguments");
  if (sub == "factory-reset") {
    if (!o.positional.empty() || !o.sets.empty()) return context.Usage("config factory-reset takes only --yes");
    if (!o.yes) return context.Usage("a factory reset cannot be undone: add --yes to go ahead");
  }
  if (o.family) return context.Usage("--family is for files; a counter tells its own");
  const std::optional<int> model = ChosenModel(context);
  if (!model) return context.Fail("unknown model '" + *context.model + "' (see the model list in the README)");
  TraceFile trace;
  if (auto problem = OpenTrace(context, trace)) return context.Fail(*problem);

  ConfigDevice device(context, PortCatalogue::DiscoverMachine(ExtraPaths(context)));
  DeviceRig& rig = device.rig;
  const std::optional<int> port = rig.ports.Resolve(*context.port);
  if (!port) return context.Usage("--port needs a port number or a device path, not '" + *context.port + "'");
  rig.SetTrace(trace.trace.get());
  rig.session.SelectModelFromList(*model);
  const IdentifyResult identified = rig.session.ConnectAndIdentify(*port);
  if (!identified.port_open) return context.Fail(Format("COM%d could not be opened", *port));
  if (!identified.family) return context.Fail("Please try again!");
  if (rig.state.model_text.find("Radon") != std::string::npos) return context.Fail(kRadonRefusal);
  const int family = rig.state.family.load();

  const auto failed = [&](TransferOutcome outcome) { return outcome != TransferOutcome::kDone; };
  if (sub == "read") {
    if (failed(device.transfer.Read())) return kExitFailure;
    if (SaveConfigFile(device.block, o.positional[0].ends_with(".csv") ? ConfigFileFormat::kCsv : ConfigFileFormat::kBinary,
                       o.positional[0], device.notifier).empty())
      return kExitFailure;
    PrintFields(context.out, device.editor, family, o.json);
    return kExitOk;
  }
  if (sub == "factory-reset") {
    if (failed(device.transfer.FactoryReset())) return kExitFailure;
    PrintFields(context.out, device.editor, family, o.json);
    return kExitOk;
  }
  // write and set: the block comes from a file or from the counter, then the edits, then the write.
  std::vector<std::string> sets = o.sets;
  if (sub == "write") {
    if (!device.editor.LoadFromFile(family, o.positional[0])) return kExitFailure;
  } else {
    sets.insert(sets.end(), o.positional.begin(), o.positional.end());
    if (failed(device.transfer.Read())) return kExitFailure;
  }
  if (auto problem = ApplySets(sets, family, true, device.editor.form())) return context.Fail(*problem);
  return failed(device.transfer.Write()) ? kExitFailure : kExitOk;
}

}  // namespace

int RunConfig(CommandContext& context) {
  if (context.args.empty()) return context.Usage("config needs a subcommand: decode, convert, read, write, set, factory-reset");
  const std::string sub = context.args.front();
  const Options o(context);
  if (sub == "decode") return Decode(context, o);
  if (sub == "convert") return Convert(context, o);
  if (sub == "read" || sub == "write" || sub == "set" || sub == "factory-reset") return RunOnDevice(context, sub, o);
  return context.Usage("unknown config subcommand '" + sub + "'");
}

}  // namespace norvane::cli
