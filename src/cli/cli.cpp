#include "cli/cli.h"

#include <ostream>

#include "cli/command.h"
#include "core/platform/settings_location.h"
#include "core/platform/store_location.h"
#include "core/settings/settings_store.h"

namespace norvane::cli {
namespace {

constexpr Command kCommands[] = {
    {"walk", "IMAGE", "print every stamp, note and sample of a history image", RunWalk},
    {"window", "IMAGE [--pos N] [--json]", "show the 60-sample chart window at byte position N", RunWindow},
    {"export", "IMAGE OUT [--semicolon]", "write the history CSV of an image", RunExport},
    {"realtime-export", "IN OUT [--semicolon]", "write a realtime recording as .csv, .htm(l), .R@H, .rbn or .bin", RunRealtimeExport},
    {"ports", "[--json]", "list the numbered serial ports", RunPorts},
    {"identify", "[--json]", "connect to --port and identify the counter", RunIdentify},
    {"scan", "", "try the numbered ports one by one until a counter answers", RunScan},
    {"download", "OUT [--all] [--new] [--speed N] [--csv]", "download the history of the counter on --port into the dump OUT (--new: only what the counter logged since its last download)", RunDownload},
    {"config", "decode|convert|read|write|set|factory-reset ...", "decode, edit and transfer the counter's configuration (see the README)", RunConfig},
    {"clock", "get|sync", "read the clock of the counter on --port, or set it to this computer's time", RunClock},
    {"send", "WORD [PARAMS] [--text] [--listen MS]", "send one command frame as the terminal does and show the reply bytes", RunSend},
    {"screenshot", "N [OUT]", "download stored screen N (1-4) of the counter as a .bmp file", RunScreenshot},
    {"wifi", "show [--json] | set [--ssid S] [--password P] [--website W] [--url U] [--user-id I] [--counter-id C] [--period N] --yes", "read or write the WiFi and map settings of a wireless counter", RunWifi},
    {"monitor", "[--seconds N] [--out DIR] [--autosave S] [--type TYPE] [--submit] [--demo] [--quiet]", "log the counter on --port once a second, with automatic saves and map submissions", RunMonitor},
    {"record", "[--log FILE] [--submit] [--echo] [--seconds N] [--mqtt URL] [--mqtt-password-file FILE] [--mqtt-ca FILE] [--mqtt-every N] [--discovery-prefix P] [--metrics ADDR:PORT] [--alarm-rate PER_YEAR] [--alarm-usv-h USV_H] [--on-alarm CMD]", "log the counter into the long-term store for as long as it runs, finding it again after an unplug", RunRecord},
    {"collect", "--mqtt URL [--mqtt-password-file FILE] [--mqtt-ca FILE] [--journal DIR] [--client-id ID] [--seconds N]", "keep every second the stations publish below the URL's prefix in the store (a centre's service)", RunCollect},
    {"map", "verify | submit --cpm N [--acpm X]", "verify the web map IDs of the settings, or post one reading", RunMap},
    {"store", "info|stats|export|import|check|calibrate|calibrations [--from T] [--to T] [--counter C] [--json] ...", "show, export, import, check and calibrate the long-term store (see the README)", RunStore},
    {"simulate", "[--version TEXT] [--history FILE] [--config FILE] [--cpm N] [--seed N] [--serial HEX] [--grow MS] [--pace] [--link PATH] [--reply-log FILE] [--fault NAME[=VALUE]]...", "serve a simulated counter on a pseudo-terminal until Ctrl+C", RunSimulate},
};

void PrintUsage(std::ostream& os) {
  os << "usage: norvane-cli [--settings FILE] [--store FILE] [--no-store] [--model NAME] [--port DEV] [--trace FILE] COMMAND [ARGS]\n\n"
        "commands:\n";
  for (const Command& c : kCommands) {
    std::string head = std::string(c.name) + " " + std::string(c.synopsis);
    os << "  " << head << std::string(head.size() < 36 ? 36 - head.size() : 1, ' ') << c.summary << "\n";
  }
  os << "\noptions:\n"
        "  --settings FILE                     settings file (default: $NORVANE_SETTINGS, else\n"
        "                                      ~/.config/norvane-data-viewer/settings.reg)\n"
        "  --store FILE                        long-term store (default: $NORVANE_STORE, else\n"
        "                                      ~/.local/share/norvane-data-viewer/store.sqlite)\n"
        "  --no-store                          monitor, record and download leave the store alone\n"
        "  --model NAME                        counter model as the model list names it, e.g. ZQT-400\n"
        "  --port DEV                          serial port: a number from 'ports' or a device path\n"
        "  --trace FILE                        log every byte to and from the counter as hex\n"
        "  -h, --help                          show this text\n"
        "\nexit codes: 0 success, 1 failure, 2 usage error\n";
}

int UsageFailure(std::ostream& err, std::string_view message) {
  err << "norvane-cli: " << message << "\n";
  PrintUsage(err);
  return kExitUsage;
}

}  // namespace

int CommandContext::Fail(std::string_view message) const {
  err << "norvane-cli: " << message << "\n";
  return kExitFailure;
}

int CommandContext::Usage(std::string_view message) const {
  err << "norvane-cli: " << message << "\n"
      << "usage: norvane-cli [--settings FILE] [--model NAME] " << command.name << " " << command.synopsis << "\n";
  return kExitUsage;
}

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  std::vector<std::string> rest;
  std::optional<std::filesystem::path> settings;
  std::optional<std::string> model;
  std::optional<std::string> port;
  std::optional<std::filesystem::path> trace;
  std::optional<std::filesystem::path> store;
  bool no_store = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "-h" || a == "--help" || a == "help") {
      PrintUsage(out);
      return kExitOk;
    }
    if (a == "--settings" || a == "--model") {
      if (i + 1 >= args.size()) return UsageFailure(err, a + " needs a value");
      if (a == "--settings") settings = args[++i];
      else model = args[++i];
      continue;
    }
    if (a == "--store") {
      if (i + 1 >= args.size()) return UsageFailure(err, a + " needs a value");
      store = args[++i];
      continue;
    }
    if (a == "--no-store") {
      no_store = true;
      continue;
    }
    if (a == "--port" || a == "--trace") {
      if (i + 1 >= args.size()) return UsageFailure(err, a + " needs a value");
      if (a == "--port") port = args[++i];
      else trace = args[++i];
      continue;
    }
    rest.push_back(a);
  }
  if (rest.empty()) return UsageFailure(err, "no command given");

  for (const Command& command : kCommands) {
    if (rest.front() != command.name) continue;
    CommandContext context{command, {rest.begin() + 1, rest.end()}, settings ? *settings : DefaultSettingsPath(),
                           model, port, trace, out, err};
    // No path: the store is off.
    if (!no_store) context.store_path = store ? *store : DefaultStorePath();
    // The commands then run on the defaults; say so once rather than let them differ silently.
    if (const std::string problem = SettingsStore(context.settings_path).FileProblem(); !problem.empty())
      err << "norvane-cli: settings file " << context.settings_path.string() << ": " << problem
          << "; it is left as it is and the defaults apply\n";
    return command.run(context);
  }
  return UsageFailure(err, "unknown command '" + rest.front() + "'");
}

}  // namespace norvane::cli
