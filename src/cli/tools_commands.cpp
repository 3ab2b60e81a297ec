// clock, send, screenshot and wifi: the Settings dialog's device tools, the terminal and the
// screenshot download, on the counter at --port.
#include <atomic>
#include <charconv>
#include <mutex>
#include <ostream>

#include "cli/command.h"
#include "cli/device_rig.h"
#include "cli/stream_notifier.h"
#include "cli/text_output.h"
#include "core/common/clock.h"
#include "core/common/text_format.h"
#include "core/config/config_block.h"
#include "core/config/editor_port.h"
#include "core/store/counter_store.h"
#include "core/tools/clock_sync.h"
#include "core/tools/network_settings.h"
#include "core/tools/screenshot_download.h"
#include "core/tools/terminal_console.h"
#include "core/tools/terminal_frame.h"

namespace norvane::cli {
namespace {

// Message boxes are kept until the command knows how it ended: the one that tells the outcome
// goes to stdout on success, every one to stderr on failure. Status lines go to stderr at once.
class ToolNotifier final : public UserNotifier {
 public:
  ToolNotifier(std::ostream& err, bool yes) : lines_(err, [yes](std::string_view) { return yes; }) {}

  void Message(std::string_view text, std::string_view caption) override {
    std::lock_guard lock(mutex_);
    messages_.push_back((caption.empty() ? std::string() : std::string(caption) + ": ") + std::string(text));
  }
  void Status(std::string_view line) override { lines_.Status(line); }
  bool Ask(std::string_view question, std::string_view caption) override { return lines_.Ask(question, caption); }

  std::vector<std::string> messages() const {
    std::lock_guard lock(mutex_);
    return messages_;
  }

 private:
  StreamNotifier lines_;
  mutable std::mutex mutex_;
  std::vector<std::string> messages_;
};

// "\r\n" and stray blanks at the end are for the window's boxes.
std::string Tidy(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') continue;
    out += text[i];
  }
  const size_t end = out.find_last_not_of(" \n");
  out.resize(end == std::string::npos ? 0 : end + 1);
  // Continuation lines start with a blank in the counter's texts.
  for (size_t at = out.find("\n "); at != std::string::npos; at = out.find("\n ")) out.erase(at + 1, 1);
  return out;
}

// The last message box tells the outcome; any before it were side remarks.
int Succeed(const CommandContext& context, const ToolNotifier& notifier) {
  const std::vector<std::string> messages = notifier.messages();
  for (size_t i = 0; i + 1 < messages.size(); ++i) context.err << Tidy(messages[i]) << "\n";
  if (!messages.empty()) context.out << Tidy(messages.back()) << "\n";
  return kExitOk;
}

int Failed(const CommandContext& context, const ToolNotifier& notifier, std::string_view fallback) {
  const std::vector<std::string> messages = notifier.messages();
  if (messages.empty()) return context.Fail(fallback);
  for (size_t i = 0; i + 1 < messages.size(); ++i) context.err << "norvane-cli: " << Tidy(messages[i]) << "\n";
  return context.Fail(Tidy(messages.back()));
}

// Everything a device tool needs, connected and identified.
struct Connection {
  TraceFile trace;
  std::unique_ptr<DeviceRig> rig;
};

// Applies --model (or the remembered model) and connects as the Connect button does. Returns an
// exit code when that failed.
std::optional<int> Connect(CommandContext& context, UserNotifier& notifier, Connection& c) {
  if (!context.port) return context.Usage(std::string(context.command.name) + " needs --port DEV");
  const std::optional<int> model = ChosenModel(context);
  if (!model) return context.Fail("unknown model '" + *context.model + "' (see the model list in the README)");
  if (auto problem = OpenTrace(context, c.trace)) return context.Fail(*problem);
  c.rig = std::make_unique<DeviceRig>(PortCatalogue::DiscoverMachine(ExtraPaths(context)), notifier);
  const std::optional<int> port = c.rig->ports.Resolve(*context.port);
  if (!port) return context.Usage("--port needs a port number or a device path, not '" + *context.port + "'");
  c.rig->SetTrace(c.trace.trace.get());
  c.rig->session.SelectModelFromList(*model);
  const IdentifyResult result = c.rig->session.ConnectAndIdentify(*port);
  if (!result.port_open) return context.Fail(Format("COM%d could not be opened", *port));
  if (!result.family) return context.Fail("Please try again!");
  return std::nullopt;
}

std::optional<int> ParseNumber(std::string_view text) {
  int value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::string VersionText(int version) { return Format("%d.%02d", version / 100, version % 100); }

// Received bytes as the terminal's text box shows them, with what a terminal cannot show as '.'.
std::string AsText(const std::vector<uint8_t>& bytes) {
  std::string text;
  for (uint8_t b : bytes) text += b >= 0x20 && b < 0x7F ? static_cast<char>(b) : '.';
  return text;
}

}  // namespace

int RunClock(CommandContext& context) {
  if (context.args.size() != 1 || (context.args[0] != "get" && context.args[0] != "sync"))
    return context.Usage("clock needs 'get' or 'sync'");
  const bool get = context.args[0] == "get";
  ToolNotifier notifier(context.err, false);
  Connection c;
  if (auto code = Connect(context, notifier, c)) return *code;
  DeviceState& state = c.rig->state;
  SystemClock clock;
  std::atomic<bool> sync_retry{false};
  ClockSync sync(c.rig->session, clock, sync_retry, nullptr, {},
                 KeepClockReadings(context, *c.rig, notifier));

  if (get) {
    if (!GetClockOffered(state.model_text))
      return context.Fail("\"Get Time From Unit\" is not offered for radon monitors: " + Printable(state.model_text));
    const GetClockResult result = sync.GetClock();
    if (result.outcome == GetClockOutcome::kRead) return Succeed(context, notifier);
    if (result.outcome == GetClockOutcome::kUnsupported)
      return context.Fail("this counter's firmware (version " + VersionText(state.firmware_version.load()) +
                          ") cannot report its clock");
    return Failed(context, notifier, "GETDATETIME command failed!");
  }
  const SetClockResult result = sync.SetClock(ClockTrigger::kInteractive);
  if (!result.synced) {
    if (result.variant == ClockVariant::kNone)
      context.err << "norvane-cli: this counter's firmware (version " << VersionText(state.firmware_version.load())
                  << ") cannot set its clock; nothing was sent\n";
    return Failed(context, notifier, "Time Sync Failed!");
  }
  context.err << "sent " << result.sent_time << "\n";
  return Succeed(context, notifier);
}

int RunSend(CommandContext& context) {
  const std::vector<std::string>& words = context.args;
  const bool text = context.options.Has("--text");
  int listen_ms = 1000;
  if (const std::optional<std::string> listen = context.options.Value("--listen")) {
    const std::optional<int> ms = ParseNumber(*listen);
    if (!ms || *ms < 0 || *ms > 3'600'000)
      return context.Usage("--listen takes 0 to 3600000 milliseconds, not '" + *listen + "'");
    listen_ms = *ms;
  }
  if (words.empty()) return context.Usage("send needs a command word");
  const std::string command = words.front();
  std::string parameters;
  for (size_t i = 1; i < words.size(); ++i) parameters += (i > 1 ? " " : "") + words[i];
  // Refused before the port is touched, as the console refuses before it sends.
  const TerminalFrame check = BuildTerminalFrame(command, parameters, text);
  if (!check.error.empty()) return context.Usage(check.error);
  if (check.bytes.empty()) return context.Usage("the command word needs at least two characters");

  ToolNotifier notifier(context.err, false);
  Connection c;
  if (auto code = Connect(context, notifier, c)) return *code;
  std::vector<uint8_t> received;
  TerminalConsole console(c.rig->session, [&](uint8_t b) { received.push_back(b); });
  if (!console.Connect()) return Failed(context, notifier, "the port could not be opened again");
  context.err << console.port_text() << "\n";
  const TerminalSend sent = console.Send(command, parameters, text);
  context.out << sent.echo << "\n";
  if (sent.sent <= 0) return Failed(context, notifier, "the frame was not sent");
  console.Listen(std::chrono::milliseconds(listen_ms));
  context.out << "hex:  " << HexEcho(received) << "\ntext: " << AsText(received) << "\n";
  context.err << received.size() << " bytes received in " << listen_ms << " ms\n";
  return kExitOk;
}

int RunScreenshot(CommandContext& context) {
  if (context.args.empty() || context.args.size() > 2) return context.Usage("screenshot needs a screen number");
  const std::optional<int> screen = ParseNumber(context.args[0]);
  if (!screen || *screen < 1 || *screen > 4) return context.Usage("the screen number is 1, 2, 3 or 4");
  const std::optional<std::string> out =
      context.args.size() == 2 ? std::optional<std::string>(context.args[1]) : std::nullopt;
  if (out && out->empty()) return context.Usage("the output file name is empty");

  ToolNotifier notifier(context.err, false);
  Connection c;
  if (auto code = Connect(context, notifier, c)) return *code;
  ScreenshotDownload download(c.rig->session);
  const ScreenshotResult result =
      download.Download(*screen, [&](const std::string& default_name) { return out ? *out : default_name; });
  if (result.outcome != ScreenshotOutcome::kSaved) {
    if (!result.error.empty()) context.err << "norvane-cli: " << result.path << ": " << result.error << "\n";
    return Failed(context, notifier, "Download Failed.");
  }
  context.out << result.path << "\n";
  return Succeed(context, notifier);
}

namespace {

struct WifiOption {
  std::string_view flag;
  NetworkField field;
  std::string_view json_key;
};
constexpr WifiOption kWifiOptions[] = {
    {"--ssid", NetworkField::kSsid, "ssid"},           {"--password", NetworkField::kPassword, "password"},
    {"--website", NetworkField::kWebsite, "website"},  {"--url", NetworkField::kUrl, "url"},
    {"--user-id", NetworkField::kUserId, "user_id"},   {"--counter-id", NetworkField::kCounterId, "counter_id"},
    {"--period", NetworkField::kPeriod, "period"},
};

void PrintValues(std::ostream& out, const NetworkValues& values, bool json) {
  if (json) {
    Json document = Json::object();
    for (const WifiOption& o : kWifiOptions) {
      const std::string& text = values[o.field];
      int period = 0;
      const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), period);
      // The period is the counter's byte read as a number; the texts stay texts.
      if (o.field == NetworkField::kPeriod && ec == std::errc{} && end == text.data() + text.size())
        document[std::string(o.json_key)] = period;
      else
        document[std::string(o.json_key)] = JsonText(text);
    }
    PrintJson(out, document);
    return;
  }
  for (const WifiOption& o : kWifiOptions) {
    const std::string_view label = NetworkFieldLabel(o.field);
    out << label << std::string(label.size() < 12 ? 12 - label.size() : 1, ' ') << Printable(values[o.field]) << "\n";
  }
}

}  // namespace

int RunWifi(CommandContext& context) {
  const std::vector<std::string>& a = context.args;
  if (a.empty() || (a[0] != "show" && a[0] != "set")) return context.Usage("wifi needs 'show' or 'set'");
  const bool show = a[0] == "show";
  if (a.size() > 1) return context.Usage("unexpected argument '" + a[1] + "'");
  const bool json = context.options.Has("--json");
  const bool yes = context.options.Has("--yes");
  std::array<std::optional<std::string>, kNetworkFieldCount> given;
  for (const WifiOption& o : kWifiOptions) given[static_cast<size_t>(o.field)] = context.options.Value(o.flag);
  if (!show && std::none_of(given.begin(), given.end(), [](const auto& g) { return g.has_value(); }))
    return context.Usage("wifi set needs at least one value to change");

  ToolNotifier notifier(context.err, yes);
  Connection c;
  if (auto code = Connect(context, notifier, c)) return *code;
  ConfigBlock block;
  block.fill(kErased);
  EditorPort port(c.rig->session);
  NetworkSettings settings(port, block);

  const bool all_given = std::all_of(given.begin(), given.end(), [](const auto& g) { return g.has_value(); });
  NetworkValues values;
  if (show || !all_given) {
    const NetworkReadResult read = settings.Read();
    if (read.outcome != NetworkOutcome::kDone) return Failed(context, notifier, "the network settings could not be read");
    values = read.values;
    if (show) {
      PrintValues(context.out, values, json);
      return kExitOk;
    }
  }
  for (size_t i = 0; i < kNetworkFieldCount; ++i)
    if (given[i]) values.text[i] = *given[i];
  const NetworkWriteResult written = settings.Write(values);
  if (written.outcome == NetworkOutcome::kDeclined)
    return context.Fail("not confirmed: nothing was sent (add --yes to overwrite the counter's settings)");
  if (written.outcome != NetworkOutcome::kDone) return Failed(context, notifier, "the network settings were not written");
  return Succeed(context, notifier);
}

}  // namespace norvane::cli
