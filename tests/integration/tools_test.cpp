// Clock, terminal, screenshot and network settings with the real serial link, over a
// pseudo-terminal, against the simulated counter (and a hand-written one for odd replies).
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "core/common/clock.h"
#include "core/config/editor_port.h"
#include "core/protocol/device_session.h"
#include "core/protocol/model_table.h"
#include "core/tools/clock_sync.h"
#include "core/tools/network_settings.h"
#include "core/tools/screenshot_download.h"
#include "core/tools/terminal_console.h"
#include "sim/pty_transport.h"
#include "tests/common/recording_notifier.h"
#include "tests/common/temp_dir.h"
#include "tests/core/serial/scripted_counter.h"
#include "tests/integration/simulated_line.h"

namespace norvane {
namespace {

using namespace std::chrono_literals;
using testing::Program;
using testing::RecordingNotifier;
using testing::SeenFrame;

const LocalTime kSyncTime{2026, 3, 7, 9, 5, 4};

// The counter's clock and the program's both stand at kSyncTime. The line runs in virtual time;
// the command line's runs need a pseudo-terminal, which `OnPty` gives.
struct OnPty {};
class ToolsLine : public testing::SimulatedLine {
 public:
  explicit ToolsLine(std::string_view model, std::optional<std::string> version = std::nullopt,
                     sim::Faults faults = {})
      : SimulatedLine(Counter(model, std::move(version), faults), testing::InVirtualTime{},
                      std::make_unique<FixedClock>(kSyncTime)) {}
  ToolsLine(std::string_view model, OnPty)
      : SimulatedLine(Counter(model, std::nullopt, {}), std::make_unique<FixedClock>(kSyncTime)) {}

  // Every frame but the version requests of identification.
  std::vector<SeenFrame> WorkFrames() const {
    std::vector<SeenFrame> out;
    for (SeenFrame& f : Frames())
      if (f.kind != sim::CommandKind::kGetVersion) out.push_back(std::move(f));
    return out;
  }

 private:
  static sim::CounterOptions Counter(std::string_view model, std::optional<std::string> version, sim::Faults faults) {
    sim::CounterOptions options = testing::CounterFor(model, faults);
    options.version = std::move(version);
    return options;
  }
};

// Monitoring as the clock sync sees it: records the order of stop and start.
class FakeRealtime final : public RealtimeControl {
 public:
  bool IsMonitoring() const override { return monitoring; }
  void StopMonitoring() override {
    calls.push_back("stop");
    monitoring = false;
  }
  void StartMonitoring() override {
    calls.push_back("start");
    monitoring = true;
  }
  bool monitoring = true;
  std::vector<std::string> calls;
};

// ---- clock ----

TEST(ClockSyncOverLine, Family8GetsTheSingleFrame) {
  ToolsLine line("ZQT-400");
  ASSERT_TRUE(line.ok());
  Program program(line);
  ASSERT_TRUE(program.Connect(line.path(), "ZQT-400"));
  std::atomic<bool> retry{false};
  ClockSync sync(program.session, line.clock(), retry, nullptr);
  const SetClockResult result = sync.SetClock(ClockTrigger::kInteractive);

  EXPECT_TRUE(result.synced);
  EXPECT_EQ(result.sent_time, "2026-03-07 09:05:04");
  const std::vector<SeenFrame> work = line.WorkFrames();
  ASSERT_EQ(work.size(), 1u);
  EXPECT_EQ(work[0].kind, sim::CommandKind::kSetDateTime);
  EXPECT_EQ(work[0].arguments, (std::vector<uint8_t>{0x1A, 0x03, 0x07, 0x09, 0x05, 0x04}));
  EXPECT_EQ(program.Messages(), std::vector<std::string>{"Time Synced Successfully!"});
  const LocalTime device = line.Inspect([](sim::SimulatedCounter& c) { return c.DeviceTime(); });
  EXPECT_EQ(device.day, 7);
  EXPECT_EQ(device.hour, 9);
  EXPECT_EQ(device.second, 4);
}

TEST(ClockSyncOverLine, OldFirmwareFieldByFieldOrNotAtAll) {
  {
    ToolsLine line("ZQT-100", "ZQT-100Re 2.30");
    ASSERT_TRUE(line.ok());
    Program program(line);
    ASSERT_TRUE(program.Connect(line.path(), "ZQT-100"));
    ASSERT_EQ(program.state.family.load(), 1);
    ASSERT_EQ(program.state.firmware_version.load(), 230);
    std::atomic<bool> retry{false};
    ClockSync sync(program.session, line.clock(), retry, nullptr);
    EXPECT_TRUE(sync.SetClock(ClockTrigger::kInteractive).synced);

    const std::vector<SeenFrame> work = line.WorkFrames();
    ASSERT_EQ(work.size(), 7u);
    const uint8_t values[] = {0x1A, 0x03, 0x07, 0x09, 0x05, 0x04};
    for (int i = 0; i < 6; ++i) {
      EXPECT_EQ(work[static_cast<size_t>(i)].kind, sim::CommandKind::kSetClockField);
      EXPECT_EQ(work[static_cast<size_t>(i)].index, i);  // year, month, day, hour, minute, second
      EXPECT_EQ(work[static_cast<size_t>(i)].arguments, std::vector<uint8_t>{values[i]});
    }
    EXPECT_EQ(work[6].kind, sim::CommandKind::kKey);
    EXPECT_EQ(work[6].index, 0);
    EXPECT_EQ(program.Messages(), std::vector<std::string>{"Time Synced Successfully!"});
  }
  {
    ToolsLine line("ZQT-100", "ZQT-100Re 2.10");
    ASSERT_TRUE(line.ok());
    Program program(line);
    ASSERT_TRUE(program.Connect(line.path(), "ZQT-100"));
    std::atomic<bool> retry{false};
    ClockSync sync(program.session, line.clock(), retry, nullptr);
    const SetClockResult result = sync.SetClock(ClockTrigger::kInteractive);
    EXPECT_FALSE(result.synced);
    EXPECT_EQ(result.variant, ClockVariant::kNone);
    EXPECT_TRUE(line.WorkFrames().empty());
    // Told it failed, never that it worked.
    EXPECT_EQ(program.Messages(), std::vector<std::string>{"Time Sync Failed! "});
  }
}

// A hand-written counter for replies the simulator would never give.
struct ScriptedLine {
  explicit ScriptedLine(std::function<std::vector<uint8_t>(const std::string&)> answer)
      : counter(pty, std::move(answer)) {}
  testing::PtyPair pty;
  testing::ScriptedCounter counter;
  size_t Count(std::string_view prefix) const {
    size_t n = 0;
    for (const std::string& f : counter.frames()) n += f.starts_with(prefix);
    return n;
  }
};

TEST(ClockSyncOverLine, AnUnconfirmedSyncFailsAndThePeriodicOneRetries) {
  // Every frame is answered, but the clock frame with 0x55 instead of 0xAA.
  ScriptedLine line([](const std::string& frame) -> std::vector<uint8_t> {
    if (frame.starts_with("<GETVER")) return testing::VersionReply("ZQT-400Re 4.21");
    if (frame.starts_with("<SETDATETIME")) return {0x55};
    return {};
  });
  Program program;
  ASSERT_TRUE(program.Connect(line.pty.path(), "ZQT-400"));
  FixedClock clock(kSyncTime);
  std::atomic<bool> retry{false};
  ClockSync sync(program.session, clock, retry, nullptr);

  EXPECT_FALSE(sync.SetClock(ClockTrigger::kInteractive).synced);
  EXPECT_EQ(program.Messages(), std::vector<std::string>{"Time Sync Failed! "});
  EXPECT_FALSE(retry.load());  // only the periodic sync reschedules

  const SetClockResult periodic = sync.SetClock(ClockTrigger::kPeriodic);
  EXPECT_EQ(periodic.text, "2026-03-07 09:05:04 Time Sync Failed!  Task rescheduled within 30 seconds.");
  EXPECT_TRUE(program.notifier.HasStatus(periodic.text));
  EXPECT_TRUE(retry.load());
  EXPECT_EQ(program.Messages().size(), 1u);  // the periodic sync shows no message box
  EXPECT_EQ(line.Count("<SETDATETIME"), 2u);
}

TEST(ClockSyncOverLine, PerFieldFramesWithoutAnswerFail) {
  // Old firmware that answers its version and nothing else.
  ScriptedLine line([](const std::string& frame) -> std::vector<uint8_t> {
    if (frame.starts_with("<GETVER")) return testing::VersionReply("ZQT-100Re 2.30");
    return {};
  });
  Program program;
  ASSERT_TRUE(program.Connect(line.pty.path(), "ZQT-100"));
  std::atomic<bool> retry{false};
  ClockSyncOptions fast;
  fast.field_reply_wait = 1s;
  FixedClock clock(kSyncTime);
  ClockSync sync(program.session, clock, retry, nullptr, fast);
  EXPECT_FALSE(sync.SetClock(ClockTrigger::kInteractive).synced);
  EXPECT_EQ(program.Messages(), std::vector<std::string>{"Time Sync Failed! "});
  // No point in sending five more fields to a silent counter; the field editor is still closed.
  EXPECT_EQ(line.Count("<SETDATEYY"), 1u);
  EXPECT_EQ(line.Count("<SETDATEMM"), 0u);
  EXPECT_EQ(line.Count("<KEY0>>"), 1u);
}

TEST(ClockSyncOverLine, PeriodicSyncPausesMonitoringAndClearsTheRetry) {
  ToolsLine line("ZQT-400");
  ASSERT_TRUE(line.ok());
  Program program(line);
  ASSERT_TRUE(program.Connect(line.path(), "ZQT-400"));
  FakeRealtime realtime;
  std::atomic<bool> retry{true};
  ClockSync sync(program.session, line.clock(), retry, &realtime);
  const SetClockResult result = sync.SetClock(ClockTrigger::kPeriodic);
  EXPECT_TRUE(result.synced);
  EXPECT_EQ(result.text, "2026-03-07 09:05:04 Time Synced Successfully!");
  EXPECT_TRUE(program.notifier.HasStatus(result.text));
  EXPECT_FALSE(retry.load());
  EXPECT_TRUE(program.Messages().empty());
  // Stopped first, started again once the clock is set.
  EXPECT_EQ(realtime.calls, (std::vector<std::string>{"stop", "start"}));
}

TEST(ClockReadOverLine, ShowsTheCountersTime) {
  ToolsLine line("ZQT-400");
  ASSERT_TRUE(line.ok());
  Program program(line);
  ASSERT_TRUE(program.Connect(line.path(), "ZQT-400"));
  std::atomic<bool> retry{false};
  ClockSync sync(program.session, line.clock(), retry, nullptr);
  const GetClockResult result = sync.GetClock("Zähleruhr:");
  EXPECT_EQ(result.outcome, GetClockOutcome::kRead);
  // The user reads the time in words; the reply's bytes are for the log.
  EXPECT_EQ(program.Messages(), std::vector<std::string>{"Zähleruhr: 2026-03-07 09:05:04"});
  EXPECT_TRUE(program.notifier.HasStatus("GETDATETIME returned: 1a 03 07 09 05 04 aa"));
  EXPECT_EQ(line.FramesOf(sim::CommandKind::kGetDateTime).size(), 1u);
}

TEST(ClockReadOverLine, ZerosAreNoAnswerAndAreAskedAgain) {
  ScriptedLine line([](const std::string& frame) -> std::vector<uint8_t> {
    if (frame.starts_with("<GETVER")) return testing::VersionReply("ZQT-400Re 4.21");
    if (frame.starts_with("<GETDATETIME")) return std::vector<uint8_t>(7, 0);
    return {};
  });
  Program program;
  ASSERT_TRUE(program.Connect(line.pty.path(), "ZQT-400"));
  std::atomic<bool> retry{false};
  ClockSyncOptions fast;
  fast.get_attempts = 3;
  fast.get_retry_wait = 300ms;
  FixedClock clock(kSyncTime);
  ClockSync sync(program.session, clock, retry, nullptr, fast);
  const auto start = program.link.clock().Now();
  EXPECT_EQ(sync.GetClock().outcome, GetClockOutcome::kFailed);
  EXPECT_GE(program.link.clock().Now() - start, 2 * 300ms);  // a wait between attempts
  EXPECT_EQ(line.Count("<GETDATETIME"), 3u);
  EXPECT_EQ(program.Messages(), std::vector<std::string>{"GETDATETIME command failed!"});
}

// ---- terminal ----

TEST(TerminalOverLine, SendsTheTypedFrameAndShowsEveryByte) {
  ToolsLine line("ZQT-400");
  ASSERT_TRUE(line.ok());
  Program program(line);
  ASSERT_TRUE(program.Connect(line.path(), "ZQT-400"));
  std::vector<uint8_t> received;
  TerminalConsole console(program.session, [&](uint8_t b) { received.push_back(b); });
  ASSERT_TRUE(console.Connect());
  EXPECT_EQ(console.port_text(), "COM1,115200,n,8,1");

  const TerminalSend sent = console.Send("SPIR", "00 00 00 00 FF", false);
  EXPECT_EQ(sent.echo, "3C 53 50 49 52 00 00 00 00 FF 3E 3E ");
  // The answer is whole when Send returns: the console reads until the counter is quiet.
  EXPECT_EQ(sent.sent, 12);
  const std::vector<SeenFrame> reads = line.FramesOf(sim::CommandKind::kReadFlash);
  ASSERT_EQ(reads.size(), 1u);
  EXPECT_EQ(reads[0].arguments, (std::vector<uint8_t>{0, 0, 0, 0, 0xFF}));
  const std::vector<uint8_t> flash = line.Inspect([](sim::SimulatedCounter& c) { return c.flash(); });
  ASSERT_EQ(received.size(), 255u);
  EXPECT_TRUE(std::equal(received.begin(), received.end(), flash.begin()));

  // Refused parameters send nothing.
  const TerminalSend refused = console.Send("SPIR", "00AE", false);
  EXPECT_TRUE(refused.frame.empty());
  EXPECT_EQ(program.Messages(), std::vector<std::string>{"Parameter error, space needed in between."});
  console.PressKey(2);
  EXPECT_EQ(line.FramesOf(sim::CommandKind::kReadFlash).size(), 1u);
  const std::vector<SeenFrame> keys = line.FramesOf(sim::CommandKind::kKey);
  ASSERT_EQ(keys.size(), 1u);
  EXPECT_EQ(keys[0].index, 1);  // "Key2 (S2)" sends KEY1
}

// ---- screenshot ----

sim::Screenshot Capture(uint8_t first_byte) {
  sim::Screenshot shot;
  shot.stored = true;
  shot.taken = {2026, 3, 7, 9, 5, 4};
  shot.image.fill(0);
  shot.image[0] = first_byte;
  return shot;
}

TEST(ScreenshotOverLine, AllZeroScreenAndLitCorners) {
  ToolsLine line("ZQT-400");
  ASSERT_TRUE(line.ok());
  line.Inspect([](sim::SimulatedCounter& c) {
    c.SetScreenshot(1, Capture(0x00));
    c.SetScreenshot(2, Capture(0x01));
    c.SetScreenshot(3, Capture(0x80));
    return 0;
  });
  Program program(line);
  ASSERT_TRUE(program.Connect(line.path(), "ZQT-400"));
  testing::TempDir dir;
  ScreenshotDownload download(program.session);
  std::string offered;
  const ScreenshotResult dark = download.Download(2, [&](const std::string& name) {
    offered = name;
    return (dir / "dark.bmp").string();
  });
  ASSERT_EQ(dark.outcome, ScreenshotOutcome::kSaved);
  EXPECT_EQ(offered, "zqtscreenshot2_070326_090504");
  EXPECT_EQ(dark.path, (dir / "dark.bmp").string());
  const std::string file = testing::ReadAll(dir / "dark.bmp");
  ASSERT_EQ(file.size(), 393270u);
  EXPECT_EQ(file.find_first_not_of('\x2D', 54), std::string::npos);
  EXPECT_EQ(program.Messages().back(), "Screenshot Saved.");

  // Rows counted from the top of the picture; the file stores the bottom row first.
  const auto pixel = [](const std::string& f, int column, int row) {
    return static_cast<uint8_t>(f[54 + (static_cast<size_t>(255 - row) * 512 + static_cast<size_t>(column)) * 3]);
  };
  ASSERT_EQ(download.Download(3, [&](const std::string&) { return (dir / "low").string(); }).outcome,
            ScreenshotOutcome::kSaved);
  const std::string low = testing::ReadAll(dir / "low.bmp");
  EXPECT_EQ(pixel(low, 3, 3), 0xFD);
  EXPECT_EQ(pixel(low, 4, 3), 0x2D);
  EXPECT_EQ(pixel(low, 3, 4), 0x2D);
  ASSERT_EQ(download.Download(4, [&](const std::string&) { return (dir / "high").string(); }).outcome,
            ScreenshotOutcome::kSaved);
  const std::string high = testing::ReadAll(dir / "high.bmp");
  EXPECT_EQ(pixel(high, 0, 27), 0x2D);
  EXPECT_EQ(pixel(high, 0, 28), 0xFD);
  EXPECT_EQ(pixel(high, 3, 31), 0xFD);
  EXPECT_EQ(pixel(high, 0, 32), 0x2D);
}

TEST(ScreenshotOverLine, EmptySlotUnwritableFileAndSilence) {
  ToolsLine line("ZQT-400");
  ASSERT_TRUE(line.ok());
  line.Inspect([](sim::SimulatedCounter& c) {
    c.SetScreenshot(0, Capture(0));
    c.SetScreenshot(3, sim::Screenshot{});
    return 0;
  });
  Program program(line);
  ASSERT_TRUE(program.Connect(line.path(), "ZQT-400"));
  ScreenshotDownload download(program.session);
  bool asked = false;
  const ScreenshotResult empty = download.Download(4, [&](const std::string&) {
    asked = true;
    return std::string("unused");
  });
  EXPECT_EQ(empty.outcome, ScreenshotOutcome::kEmptySlot);
  EXPECT_FALSE(asked);
  EXPECT_TRUE(line.FramesOf(sim::CommandKind::kGetScreenshot).empty());
  EXPECT_EQ(program.Messages().back(), "No screenshot found on device.");

  testing::TempDir dir;
  const ScreenshotResult unwritable =
      download.Download(1, [&](const std::string&) { return (dir / "no-such-folder" / "shot").string(); });
  EXPECT_EQ(unwritable.outcome, ScreenshotOutcome::kNotWritten);
  EXPECT_EQ(program.Messages().back(), "Couldn't create the file!");
  EXPECT_FALSE(std::filesystem::exists(dir / "no-such-folder"));

  const ScreenshotResult cancelled = download.Download(1, [](const std::string&) { return std::nullopt; });
  EXPECT_EQ(cancelled.outcome, ScreenshotOutcome::kCancelled);
}

TEST(ScreenshotOverLine, SilentCounterIsTriedSixTimes) {
  ScriptedLine line([](const std::string& frame) -> std::vector<uint8_t> {
    if (frame.starts_with("<GETVER")) return testing::VersionReply("ZQT-400Re 4.21");
    return {};
  });
  Program program;
  ASSERT_TRUE(program.Connect(line.pty.path(), "ZQT-400"));
  ScreenshotOptions fast;
  fast.info_reply_wait = 10ms;
  ScreenshotDownload download(program.session, fast);
  EXPECT_EQ(download.Download(1, {}).outcome, ScreenshotOutcome::kNoInformation);
  EXPECT_EQ(line.Count("<GETSSN1>>"), 6u);
  EXPECT_EQ(program.Messages(), std::vector<std::string>{"Failed to download. Please try again."});
}

// ---- network settings ----

NetworkOptions FastNetwork() {
  NetworkOptions o;
  o.transfer.read_silence = 1s;
  return o;
}

TEST(NetworkOverLine, WriteThenReadBackByFamily) {
  for (std::string_view model : {"ZQT-400", "RadonMax", "ZQT-120+V5"}) {
    SCOPED_TRACE(std::string(model));
    ToolsLine line(model);
    ASSERT_TRUE(line.ok());
    Program program(line);
    ASSERT_TRUE(program.Connect(line.path(), sim::FindCounterModel(model)->list_entry));
    program.notifier.AnswerWith([](size_t) { return true; });
    ConfigBlock block;
    EditorPort port(program.session);
    NetworkSettings settings(port, block, FastNetwork());

    NetworkValues values;
    values[NetworkField::kSsid] = "HomeNet";
    values[NetworkField::kPassword] = "pa ss";
    values[NetworkField::kWebsite] = "www.example.org";
    values[NetworkField::kUrl] = "log2.asp";
    values[NetworkField::kUserId] = "42";
    values[NetworkField::kCounterId] = "4242";
    values[NetworkField::kPeriod] = "5";
    const NetworkWriteResult written = settings.Write(values);
    ASSERT_EQ(written.outcome, NetworkOutcome::kDone);
    EXPECT_EQ(written.frames_sent, 7);
    EXPECT_EQ(program.Messages().back(), "Write to unit completed!");
    const auto periods = line.FramesOf(sim::CommandKind::kSetPeriod);
    ASSERT_EQ(periods.size(), 1u);
    EXPECT_EQ(periods[0].arguments, std::vector<uint8_t>{5});

    const NetworkReadResult read = settings.Read();
    ASSERT_EQ(read.outcome, NetworkOutcome::kDone);
    EXPECT_EQ(read.values.text, values.text);
  }
}

TEST(NetworkOverLine, NothingIsSentWithoutYesOrWithATooLongValue) {
  ToolsLine line("ZQT-120+V5");
  ASSERT_TRUE(line.ok());
  Program program(line);
  ASSERT_TRUE(program.Connect(line.path(), "ZQT-120+V5"));
  ConfigBlock block;
  EditorPort port(program.session);
  NetworkSettings settings(port, block, FastNetwork());
  NetworkValues values;
  values[NetworkField::kSsid] = std::string(23, 's');  // one more than a 32-byte frame holds
  values[NetworkField::kPeriod] = "5";

  EXPECT_EQ(settings.Write(values).outcome, NetworkOutcome::kDeclined);
  EXPECT_EQ(program.notifier.questions().at(0).text, "Please confirm you want to overwrite the data.\r\nAre you sure?");
  EXPECT_EQ(program.notifier.questions().at(0).caption, "Please confirm");
  program.notifier.AnswerWith([](size_t) { return true; });
  EXPECT_EQ(settings.Write(values).outcome, NetworkOutcome::kRefused);
  EXPECT_NE(program.Messages().back().find("SSID"), std::string::npos);
  EXPECT_TRUE(line.FramesOf(sim::CommandKind::kSetNetworkText).empty());
  EXPECT_TRUE(line.FramesOf(sim::CommandKind::kSetPeriod).empty());
}

TEST(NetworkOverLine, ModelsWithoutWifiAndSilentCounters) {
  {
    ToolsLine line("ZQT-120");  // firmware 4.09, family 4
    ASSERT_TRUE(line.ok());
    Program program(line);
    ASSERT_TRUE(program.Connect(line.path(), "ZQT-120"));
    program.notifier.AnswerWith([](size_t) { return true; });
    ConfigBlock block;
    EditorPort port(program.session);
    NetworkSettings settings(port, block, FastNetwork());
    EXPECT_EQ(settings.Read().outcome, NetworkOutcome::kUnsupported);
    EXPECT_EQ(settings.Write(NetworkValues{}).outcome, NetworkOutcome::kUnsupported);
    EXPECT_EQ(program.Messages(),
              (std::vector<std::string>{"This model does not support WiFi. ", "This model does not support WiFi. "}));
    EXPECT_TRUE(line.FramesOf(sim::CommandKind::kGetConfig).empty());
  }
  {
    // A counter allowed to write by its firmware, which ignores the commands.
    ToolsLine line("ZQT-1010", "ZQT-1010Re 5.10");
    ASSERT_TRUE(line.ok());
    Program program(line);
    ASSERT_TRUE(program.Connect(line.path(), "ZQT-1010"));
    ASSERT_EQ(program.state.family.load(), 4);
    program.notifier.AnswerWith([](size_t) { return true; });
    ConfigBlock block;
    EditorPort port(program.session);
    NetworkOptions options = FastNetwork();
    options.reply_wait = 1s;  // only silence is waited for here; answered frames keep the full wait
    NetworkSettings settings(port, block, options);
    NetworkValues values;
    values[NetworkField::kSsid] = "HomeNet";
    const NetworkWriteResult written = settings.Write(values);
    EXPECT_EQ(written.outcome, NetworkOutcome::kNoAnswer);
    EXPECT_EQ(written.stopped_at, NetworkField::kSsid);
    EXPECT_EQ(program.Messages().back(), "Comport error on SETSSID! \r\n Please try again!");
  }
  {
    sim::Faults deaf;
    deaf.deaf_config = true;
    ToolsLine line("ZQT-400", std::nullopt, deaf);
    ASSERT_TRUE(line.ok());
    Program program(line);
    ASSERT_TRUE(program.Connect(line.path(), "ZQT-400"));
    ConfigBlock block;
    EditorPort port(program.session);
    NetworkSettings settings(port, block, FastNetwork());
    EXPECT_EQ(settings.Read().outcome, NetworkOutcome::kReadFailed);
    // Bounded: three rounds, then the message.
    EXPECT_EQ(line.FramesOf(sim::CommandKind::kGetConfig).size(), 3u);
    EXPECT_EQ(program.Messages().back(), "Comport error! \r\n Please try again!");
  }
}

// ---- the command line, end to end ----

namespace cli_runs {

struct CliRun {
  int code;
  std::string out;
  std::string err;
};

CliRun Cli(const testing::TempDir& dir, std::vector<std::string> args) {
  args.insert(args.begin(), {"--settings", (dir / "settings.reg").string()});
  std::ostringstream out, err;
  const int code = cli::Run(args, out, err);
  return {code, out.str(), err.str()};
}

TEST(ToolsCommands, ClockScreenshotAndWifiOnTheSimulator) {
  ToolsLine line("ZQT-400", OnPty{});
  ASSERT_TRUE(line.ok());
  testing::TempDir dir;

  const CliRun sync = Cli(dir, {"--port", line.path(), "clock", "sync"});
  EXPECT_EQ(sync.code, 0) << sync.err;
  EXPECT_EQ(sync.out, "Time Synced Successfully!\n");
  const CliRun get = Cli(dir, {"--port", line.path(), "clock", "get"});
  EXPECT_EQ(get.code, 0) << get.err;
  EXPECT_TRUE(get.out.starts_with("Counter clock: 20")) << get.out;

  const CliRun sent = Cli(dir, {"--port", line.path(), "send", "GETVER", "--listen", "300"});
  EXPECT_EQ(sent.code, 0) << sent.err;
  EXPECT_NE(sent.out.find("3C 47 45 54 56 45 52 3E 3E \n"), std::string::npos) << sent.out;
  EXPECT_NE(sent.out.find("text: ZQT-400Re 4.21"), std::string::npos) << sent.out;

  const CliRun shot = Cli(dir, {"--port", line.path(), "screenshot", "1", (dir / "one.bmp.bmp").string()});
  EXPECT_EQ(shot.code, 0) << shot.err;
  EXPECT_EQ(shot.out, (dir / "one.bmp").string() + "\nScreenshot Saved.\n");
  EXPECT_EQ(std::filesystem::file_size(dir / "one.bmp"), 393270u);
  const CliRun empty = Cli(dir, {"--port", line.path(), "screenshot", "4", (dir / "four").string()});
  EXPECT_EQ(empty.code, 1);
  EXPECT_NE(empty.err.find("No screenshot found on device."), std::string::npos);

  const CliRun unconfirmed = Cli(dir, {"--port", line.path(), "wifi", "set", "--ssid", "Cafe"});
  EXPECT_EQ(unconfirmed.code, 1);
  EXPECT_TRUE(line.FramesOf(sim::CommandKind::kSetNetworkText).empty());
  const CliRun set = Cli(dir, {"--port", line.path(), "wifi", "set", "--ssid", "Cafe", "--period", "300", "--yes"});
  EXPECT_EQ(set.code, 0) << set.err;
  EXPECT_EQ(set.out, "Write to unit completed!\n");
  const CliRun show = Cli(dir, {"--port", line.path(), "wifi", "show", "--json"});
  EXPECT_EQ(show.code, 0) << show.err;
  // Fields not given keep what the counter had: the simulator's empty texts.
  EXPECT_EQ(show.out,
            "{\"ssid\":\"Cafe\",\"password\":\"\",\"website\":\"\",\"url\":\"\",\"user_id\":\"\",\"counter_id\":\"\","
            "\"period\":44}\n");
}

}  // namespace cli_runs
}  // namespace
}  // namespace norvane
