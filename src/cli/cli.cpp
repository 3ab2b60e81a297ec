#include "cli/cli.h"

#include <ostream>

#include "cli/command.h"
#include "core/common/program_version.h"
#include "core/platform/settings_location.h"
#include "core/platform/store_location.h"
#include "core/platform/terminal_width.h"
#include "core/settings/settings_store.h"

namespace norvane::cli {
namespace {

constexpr OptionEntry kGlobalOptions[] = {
    {"--settings", "FILE", "settings file (default: $NORVANE_SETTINGS, else ~/.config/norvane-data-viewer/settings.reg)"},
    {"--store", "FILE", "long-term store (default: $NORVANE_STORE, else ~/.local/share/norvane-data-viewer/store.sqlite)"},
    {"--no-store", "", "monitor, record and download leave the store alone"},
    {"--model", "NAME", "counter model as the model list names it, e.g. ZQT-400"},
    {"--port", "DEV", "serial port: a number from 'ports' or a device path"},
    {"--trace", "FILE", "log every byte to and from the counter as hex"},
    {"--help", "", "show this text", {}, "-h"},
};
// Only before a command: after it, --version is the simulator's version reply.
constexpr OptionEntry kProgramOptions[] = {
    {"--version", "", "show the program's name and version"},
};

constexpr OptionEntry kJson[] = {{"--json", "", "print JSON"}};
constexpr OptionEntry kSemicolon[] = {{"--semicolon", "", "separate the CSV's columns with semicolons"}};
constexpr OptionEntry kWindowOptions[] = {
    {"--pos", "N", "the byte position the window starts at"},
    {"--json", "", "print JSON"},
};
constexpr OptionEntry kDownloadOptions[] = {
    {"--all", "", "read the whole flash, not only up to the first erased 1024 bytes"},
    {"--new", "", "read only what the counter logged since its last download"},
    {"--speed", "N", "download speed from 0 to 100 (the settings' by default)"},
    {"--csv", "", "also write the history CSV beside the dump"},
};
constexpr OptionEntry kConfigOptions[] = {
    {"--family", "F", "the model family of a file's layout (decode, convert)"},
    {"--set", "FIELD=VALUE", "change a field before the file or the counter is written; repeatable"},
    {"--json", "", "print JSON"},
    {"--yes", "", "go ahead with a factory reset"},
};
constexpr OptionEntry kSendOptions[] = {
    {"--text", "", "send the parameters as typed, not as hex digits"},
    {"--listen", "MS", "milliseconds to collect the reply (default 1000)"},
};
constexpr OptionEntry kWifiOptions[] = {
    {"--json", "", "print JSON", "show"},
    {"--ssid", "S", "the WiFi network's name", "set"},
    {"--password", "P", "the WiFi network's password", "set"},
    {"--website", "W", "the web map's website", "set"},
    {"--url", "U", "the web map's URL", "set"},
    {"--user-id", "I", "the web map's user ID", "set"},
    {"--counter-id", "C", "the web map's counter ID", "set"},
    {"--period", "N", "minutes between submissions", "set"},
    {"--yes", "", "write the counter's settings", "set"},
};
constexpr OptionEntry kMonitorOptions[] = {
    {"--seconds", "N", "stop after N seconds"},
    {"--out", "DIR", "folder for the saved files"},
    {"--autosave", "S", "save every S seconds"},
    {"--type", "TYPE", "type of the automatic saves: ALL, csv, htm, html, rbn or r@h"},
    {"--submit", "", "post readings to the web map"},
    {"--demo", "", "made-up counts, no counter"},
    {"--quiet", "", "print nothing each second"},
};
constexpr OptionEntry kRecordOptions[] = {
    {"--log", "FILE", "append the log to FILE instead of standard error"},
    {"--submit", "", "post readings to the web map"},
    {"--echo", "", "print each measured second"},
    {"--seconds", "N", "stop after N polls"},
    {"--mqtt", "URL", "publish to an MQTT broker (mqtt://user@host:1883/prefix, or mqtts://)"},
    {"--mqtt-password-file", "FILE", "the MQTT password from the first line of FILE"},
    {"--mqtt-ca", "FILE", "CA certificates for mqtts://"},
    {"--mqtt-every", "N", "seconds between state messages (default 1)"},
    {"--discovery-prefix", "P", "Home Assistant's discovery prefix (default homeassistant)"},
    {"--metrics", "ADDR:PORT", "serve /metrics for Prometheus"},
    {"--alarm-rate", "PER_YEAR", "false alarms a year the alarm thresholds allow (default 1)"},
    {"--alarm-usv-h", "USV_H", "also raise the alarm at this dose rate"},
    {"--on-alarm", "CMD", "run CMD by /bin/sh -c at each alarm and all-clear"},
    {"--radmon", "USER", "upload to radmon.org as USER (password: --radmon-password-file, $NORVANE_RADMON_PASSWORD or the credential radmon-password)"},
    {"--radmon-password-file", "FILE", "radmon.org's data password from the first line of FILE"},
    {"--safecast", "DEVICE", "upload to Safecast as DEVICE (key: --safecast-key-file, $NORVANE_SAFECAST_KEY or the credential safecast-key)"},
    {"--safecast-key-file", "FILE", "the Safecast API key from the first line of FILE"},
    {"--opensensemap", "BOX/SENSOR", "upload to an openSenseMap box's sensor (token: --opensensemap-token-file, $NORVANE_OPENSENSEMAP_TOKEN or the credential opensensemap-token)"},
    {"--opensensemap-token-file", "FILE", "the openSenseMap box token from the first line of FILE"},
    {"--sensor-community", "", "upload to Sensor.Community (sensor id: --sensor-community-id-file, $NORVANE_SENSOR_COMMUNITY_ID or the credential sensor-community-id)"},
    {"--sensor-community-id-file", "FILE", "the Sensor.Community sensor id from the first line of FILE"},
    {"--position", "LAT,LON[,H]", "the station's position for the maps: degrees, and metres above the ground"},
    {"--upload-every", "NETWORK=S", "seconds of one uploaded interval (radmon 300, safecast 300, opensensemap 60, sensor-community 145); repeatable"},
    {"--upload-url", "NETWORK=URL", "another address of a network's service; repeatable"},
};
constexpr OptionEntry kCollectOptions[] = {
    {"--mqtt", "URL", "the broker the stations publish to (needed)"},
    {"--mqtt-password-file", "FILE", "the MQTT password from the first line of FILE"},
    {"--mqtt-ca", "FILE", "CA certificates for mqtts://"},
    {"--journal", "DIR", "journal folder (default $STATE_DIRECTORY/collect)"},
    {"--client-id", "ID", "MQTT client id of the lasting session (default norvane-collect)"},
    {"--seconds", "N", "stop after N seconds"},
};
constexpr OptionEntry kMapOptions[] = {
    {"--cpm", "N", "counts per minute to post (needed)", "submit"},
    {"--acpm", "X", "average counts per minute to post (default: --cpm)", "submit"},
};
constexpr OptionEntry kStoreOptions[] = {
    {"--from", "T", "start of the range, local ISO 8601 (default: the first second)"},
    {"--to", "T", "end of the range (default: after the last second)"},
    {"--counter", "C", "the counter, by number or name (see 'store info')"},
    {"--json", "", "print JSON"},
    {"--format", "F", "export: 'original' (the default for .csv) or 'tidy'"},
    {"--semicolon", "", "export: separate the CSV's columns with semicolons"},
    {"--quality", "", "check: judge each UTC day and the counter's clock"},
    {"--usv-per-cpm", "X", "calibrate: the dose rate of one CPM"},
    {"--dead-time-us", "T", "calibrate: the tube's dead time in microseconds"},
};
constexpr OptionEntry kSimulateOptions[] = {
    {"--version", "TEXT", "the version reply (at most 20 characters)"},
    {"--history", "FILE", "the history flash (a dump or an image)"},
    {"--config", "FILE", "the configuration block (.bin or .csv)"},
    {"--cpm", "N", "mean count rate (default 24)"},
    {"--seed", "N", "random seed (default 1)"},
    {"--serial", "HEX", "the serial number, 16 hex digits"},
    {"--grow", "MS", "log one more sample into the history every MS milliseconds"},
    {"--pace", "", "send at the real line rate"},
    {"--link", "PATH", "also name the pseudo-terminal by a symbolic link"},
    {"--reply-log", "FILE", "append the time and count of each realtime reply"},
    {"--fault", "NAME[=VALUE]", "inject a fault; repeatable"},
};

constexpr Command kCommands[] = {
    {"walk", "IMAGE", "print every stamp, note and sample of a history image", {}, RunWalk},
    {"window", "IMAGE", "show the 60-sample chart window at the start or at --pos N", kWindowOptions, RunWindow},
    {"export", "IMAGE OUT", "write the history CSV of an image", kSemicolon, RunExport},
    {"realtime-export", "IN OUT", "write a realtime recording as .csv, .htm(l), .R@H, .rbn or .bin", kSemicolon,
     RunRealtimeExport},
    {"ports", "", "list the numbered serial ports", kJson, RunPorts},
    {"identify", "", "connect to --port and identify the counter", kJson, RunIdentify},
    {"scan", "", "try the numbered ports one by one until a counter answers", {}, RunScan},
    {"download", "OUT",
     "download the history of the counter on --port into the dump OUT (--new: only what the counter logged since "
     "its last download)",
     kDownloadOptions, RunDownload},
    {"config", "decode|convert|read|write|set|factory-reset ...",
     "decode, edit and transfer the counter's configuration (see the README)", kConfigOptions, RunConfig},
    {"clock", "get|sync", "read the clock of the counter on --port, or set it to this computer's time", {}, RunClock},
    {"send", "WORD [PARAMS]", "send one command frame as the terminal does and show the reply bytes", kSendOptions,
     RunSend},
    {"screenshot", "N [OUT]", "download stored screen N (1-4) of the counter as a .bmp file", {}, RunScreenshot},
    {"wifi", "show|set", "read or write the WiFi and map settings of a wireless counter", kWifiOptions, RunWifi},
    {"monitor", "", "log the counter on --port once a second, with automatic saves and map submissions",
     kMonitorOptions, RunMonitor},
    {"record", "", "log the counter into the long-term store for as long as it runs, finding it again after an unplug",
     kRecordOptions, RunRecord},
    {"collect", "", "keep every second the stations publish below the URL's prefix in the store (a centre's service)",
     kCollectOptions, RunCollect},
    {"map", "verify|submit", "verify the web map IDs of the settings, or post one reading", kMapOptions, RunMap},
    {"store", "info|stats|export|import|check|calibrate|calibrations|uploads [FILE]",
     "show, export, import, check and calibrate the long-term store (see the README)", kStoreOptions, RunStore},
    {"simulate", "", "serve a simulated counter on a pseudo-terminal until Ctrl+C", kSimulateOptions, RunSimulate},
};

// "norvane-cli [--settings FILE] ... download OUT [--all] ...": each option as it is written.
std::string Synopsis(std::string_view head, std::span<const OptionEntry> options, std::string_view tail) {
  std::string text = "norvane-cli" + (head.empty() ? "" : " " + std::string(head));
  for (const OptionEntry& o : options)
    if (o.name != "--help") text += " [" + OptionLabel(o) + "]";
  return text + (tail.empty() ? "" : " " + std::string(tail));
}

std::string CommandSynopsis(const Command& c) {
  std::string head = std::string(c.name);
  if (!c.arguments.empty()) head += " " + std::string(c.arguments);
  return Synopsis("[--settings FILE] [--model NAME] " + head, c.options, "");
}

// "usage: " and the synopsis, wrapped beneath its first word.
std::string UsageLine(const std::string& synopsis, size_t width) {
  return "usage: " + WrapText(synopsis, width, 7, 7).substr(7);
}

void PrintUsage(std::ostream& os) {
  const size_t width = HelpWidth();
  os << UsageLine(Synopsis("", kGlobalOptions, "COMMAND [ARGS]"), width)
     << WrapText("norvane-cli COMMAND --help", width, 7, 7) << WrapText("norvane-cli --version", width, 7, 7)
     << "\ncommands:\n";
  std::vector<std::pair<std::string, std::string>> rows;
  for (const Command& c : kCommands)
    rows.emplace_back(std::string(c.name) + (c.arguments.empty() ? "" : " " + std::string(c.arguments)),
                      std::string(c.summary));
  os << HelpColumns(rows, width) << "\noptions:\n";
  std::vector<std::pair<std::string, std::string>> options = OptionRows(kGlobalOptions);
  const std::vector<std::pair<std::string, std::string>> program = OptionRows(kProgramOptions);
  options.insert(options.end(), program.begin(), program.end());
  os << HelpColumns(options, width) << "\n"
     << WrapText("'norvane-cli COMMAND --help' shows the options of a command.", width, 0, 0)
     << WrapText("exit codes: 0 success, 1 failure, 2 usage error", width, 0, 0);
}

void PrintCommandHelp(std::ostream& os, const Command& c) {
  const size_t width = HelpWidth();
  os << UsageLine(CommandSynopsis(c), width) << "\n" << WrapText(c.summary, width, 0, 0) << "\noptions:\n";
  std::vector<std::pair<std::string, std::string>> rows = OptionRows(c.options);
  rows.emplace_back("-h, --help", "show this text");
  os << HelpColumns(rows, width) << "\n"
     << WrapText("The global options (--settings, --store, --model, --port ...) are in 'norvane-cli --help'.", width,
                 0, 0);
}

// A slip in the command line: one line that names it and where the help is.
int UsageSlip(std::ostream& err, std::string_view problem, std::string_view help) {
  err << "norvane-cli: " << problem << "; see '" << help << "'\n";
  return kExitUsage;
}

const Command* FindCommand(std::string_view name) {
  for (const Command& c : kCommands)
    if (c.name == name) return &c;
  return nullptr;
}

}  // namespace

std::span<const Command> Commands() { return kCommands; }
std::span<const OptionEntry> GlobalOptions() { return kGlobalOptions; }
std::span<const OptionEntry> ProgramOptions() { return kProgramOptions; }

int CommandContext::Fail(std::string_view message) const {
  err << "norvane-cli: " << message << "\n";
  return kExitFailure;
}

int CommandContext::Usage(std::string_view message) const {
  err << "norvane-cli: " << message << "\n" << UsageLine(CommandSynopsis(command), HelpWidth());
  return kExitUsage;
}

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  const ParsedOptions before = ParseOptions(args, kGlobalOptions, kProgramOptions, true);
  if (!before.problem.empty()) return UsageSlip(err, before.problem, "norvane-cli --help");
  if (before.Has("--help")) {
    PrintUsage(out);
    return kExitOk;
  }
  if (before.Has("--version")) {
    out << "norvane-cli " << ProgramVersion() << "\n";
    return kExitOk;
  }
  if (before.end == args.size()) {
    err << "norvane-cli: no command given\n";
    PrintUsage(err);
    return kExitUsage;
  }
  const std::string& word = args[before.end];
  // "help" alone is the usage; "help COMMAND" that command's.
  if (word == "help") {
    const Command* about = before.end + 1 < args.size() ? FindCommand(args[before.end + 1]) : nullptr;
    if (about) PrintCommandHelp(out, *about);
    else PrintUsage(out);
    return kExitOk;
  }
  const Command* command = FindCommand(word);
  if (!command) return UsageSlip(err, "unknown command '" + word + "'", "norvane-cli --help");

  const std::span<const std::string> rest = std::span(args).subspan(before.end + 1);
  const ParsedOptions options = ParseOptions(rest, command->options, kGlobalOptions);
  if (!options.problem.empty())
    return UsageSlip(err, options.problem, "norvane-cli " + std::string(command->name) + " --help");
  if (options.Has("--help")) {
    PrintCommandHelp(out, *command);
    return kExitOk;
  }
  // A global option may come after the command too; the later one counts.
  const auto global = [&](std::string_view name) {
    std::optional<std::string> value = options.Value(name);
    return value ? value : before.Value(name);
  };
  const std::optional<std::string> settings = global("--settings"), store = global("--store");
  const std::optional<std::string> trace = global("--trace");
  CommandContext context{*command,
                         options.words,
                         options,
                         settings ? std::filesystem::path(*settings) : DefaultSettingsPath(),
                         global("--model"),
                         global("--port"),
                         trace ? std::optional<std::filesystem::path>(*trace) : std::nullopt,
                         out,
                         err};
  // No path: the store is off.
  if (!options.Has("--no-store") && !before.Has("--no-store"))
    context.store_path = store ? std::filesystem::path(*store) : DefaultStorePath();
  // The commands then run on the defaults; say so once rather than let them differ silently.
  if (const std::string problem = SettingsStore(context.settings_path).FileProblem(); !problem.empty())
    err << "norvane-cli: settings file " << context.settings_path.string() << ": " << problem
        << "; it is left as it is and the defaults apply\n";
  return command->run(context);
}

}  // namespace norvane::cli
