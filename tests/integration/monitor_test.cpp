// Realtime monitoring over a pseudo-terminal against the simulated counter.
#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "core/files/file_saver.h"
#include "core/realtime/realtime_monitor.h"
#include "core/tools/clock_sync.h"
#include "tests/common/temp_dir.h"
#include "tests/integration/simulated_line.h"

namespace norvane {
namespace {

using namespace std::chrono_literals;
using testing::Program;
using testing::SimulatedLine;

// The window's objects around one monitor, on a counter at a given CPM.
struct MonitorRig {
  explicit MonitorRig(sim::Faults faults = {}, std::string_view model = "ZQT-400")
      : line(Options(model, faults)),
        data(clock.Now()),
        saver(data, dictionary, clock, program.notifier),
        recorder(data, saver, clock, program.notifier) {
    recorder.set_name_prefix(dir.path().string() + "/");
  }
  static sim::CounterOptions Options(std::string_view model, sim::Faults faults) {
    sim::CounterOptions options = testing::CounterFor(model, faults);
    options.cpm = 1200;
    return options;
  }
  RealtimeMonitor::Parts Parts() {
    return {program.session, program.buffer, recorder, data, settings, dictionary, program.notifier};
  }
  // One poll with a short settle: the simulator answers at once.
  bool Poll(RealtimeMonitor& monitor) {
    if (!monitor.BeginPoll()) return false;
    std::this_thread::sleep_for(60ms);
    monitor.FinishPoll();
    return true;
  }

  SimulatedLine line;
  Program program;
  SystemClock clock;
  testing::TempDir dir;
  DataSet data;
  LanguageDictionary dictionary;
  Settings settings;
  FileSaver saver;
  RealtimeRecorder recorder;
};

TEST(Monitor, StartsConfirmsPollsAndStops) {
  MonitorRig rig;
  ASSERT_TRUE(rig.line.ok());
  ASSERT_TRUE(rig.program.Connect(rig.line.path(), rig.line.list_entry()));
  RealtimeMonitor monitor(rig.Parts());
  EXPECT_FALSE(monitor.BeginPoll());  // nothing before the start
  ASSERT_TRUE(monitor.Start());
  EXPECT_EQ(monitor.state(), MonitorState::kStarting);
  EXPECT_FALSE(rig.program.state.realtime_active.load());
  std::this_thread::sleep_for(RealtimeMonitor::kConfirmDelay);
  monitor.Confirm();
  EXPECT_EQ(monitor.state(), MonitorState::kPolling);
  EXPECT_TRUE(rig.program.notifier.HasStatus(rig.line.counter().version() + " connected."));
  EXPECT_TRUE(rig.program.notifier.HasStatus("Realtime monitoring started."));

  rig.line.Forget();
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(rig.Poll(monitor));
  EXPECT_EQ(rig.line.FramesOf(sim::CommandKind::kGetCounts).size(), 5u);
  EXPECT_EQ(rig.recorder.recorded_seconds(), 5u);
  EXPECT_EQ(rig.data.realtime.elapsed(), 5u);
  EXPECT_GT(rig.data.realtime.total(), 0u);

  monitor.Stop();
  EXPECT_EQ(monitor.state(), MonitorState::kOff);
  EXPECT_FALSE(rig.program.state.realtime_active.load());
  EXPECT_TRUE(rig.program.notifier.HasStatus("Heartbeat stopped.."));
  EXPECT_FALSE(monitor.BeginPoll());
  // Stopping keeps the recording.
  EXPECT_EQ(rig.recorder.recorded_seconds(), 5u);
}

TEST(Monitor, ShortRepliesAreRecordedAndMarkedOnesDropped) {
  {
    sim::Faults faults;
    faults.short_counts = true;
    MonitorRig rig(faults);
    ASSERT_TRUE(rig.program.Connect(rig.line.path(), rig.line.list_entry()));
    RealtimeMonitor monitor(rig.Parts());
    ASSERT_TRUE(monitor.Start());
    monitor.Confirm();
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(rig.Poll(monitor));
    EXPECT_EQ(rig.recorder.recorded_seconds(), 3u);
  }
  {
    sim::Faults faults;
    faults.marked_counts = 1;
    MonitorRig rig(faults);
    ASSERT_TRUE(rig.program.Connect(rig.line.path(), rig.line.list_entry()));
    RealtimeMonitor monitor(rig.Parts());
    ASSERT_TRUE(monitor.Start());
    monitor.Confirm();
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(rig.Poll(monitor));
    EXPECT_EQ(rig.recorder.recorded_seconds(), 0u);
    EXPECT_EQ(rig.data.realtime.elapsed(), 3u);
  }
}

TEST(Monitor, PeriodicClockSyncKeepsTheRecording) {
  MonitorRig rig;
  ASSERT_TRUE(rig.program.Connect(rig.line.path(), rig.line.list_entry()));
  rig.settings.auto_time_sync_period = 1;
  std::atomic<bool> retry{true};  // a sync waiting for its retry: every 30 s
  RealtimeMonitor* self = nullptr;
  int syncs = 0;
  RealtimeMonitor::Parts parts = rig.Parts();
  parts.sync_retry = &retry;
  parts.periodic_clock_sync = [&] {
    ++syncs;
    ClockSync with_restart(rig.program.session, rig.program.buffer, rig.clock, retry, self);
    with_restart.SetClock(ClockTrigger::kPeriodic);
  };
  RealtimeMonitor monitor(parts);
  self = &monitor;
  ASSERT_TRUE(monitor.Start());
  monitor.Confirm();
  for (int i = 0; i < 29; ++i) ASSERT_TRUE(rig.Poll(monitor));
  EXPECT_EQ(syncs, 0);
  EXPECT_FALSE(rig.Poll(monitor));  // second 30: the sync takes the port and hands it back
  EXPECT_EQ(syncs, 1);
  EXPECT_EQ(monitor.state(), MonitorState::kStarting);
  monitor.Confirm();
  ASSERT_TRUE(rig.Poll(monitor));
  EXPECT_EQ(rig.recorder.recorded_seconds(), 30u);
  EXPECT_EQ(rig.data.realtime.elapsed(), 31u);
  EXPECT_FALSE(rig.line.FramesOf(sim::CommandKind::kSetDateTime).empty());
}

TEST(Monitor, DemoModeNeedsNoPort) {
  Program program;
  program.state.demo = true;
  SystemClock clock;
  DataSet data(clock.Now());
  LanguageDictionary dictionary;
  Settings settings;
  FileSaver saver(data, dictionary, clock, program.notifier);
  RealtimeRecorder recorder(data, saver, clock, program.notifier);
  RealtimeMonitor monitor({program.session, program.buffer, recorder, data, settings, dictionary, program.notifier});
  ASSERT_TRUE(monitor.Start());
  EXPECT_TRUE(program.notifier.HasStatus("DEMO Mode!!!"));
  monitor.Confirm();
  EXPECT_EQ(monitor.state(), MonitorState::kPolling);
  EXPECT_TRUE(monitor.BeginPoll());
  monitor.FinishPoll();
  EXPECT_EQ(data.realtime.elapsed(), 1u);
}

#ifdef NORVANE_CLI_PATH
// norvane-cli monitor as its own process against the simulator: 20 seconds, then Ctrl+C.
TEST(MonitorCommand, TwentySecondsAreSavedOnInterrupt) {
  SimulatedLine line(MonitorRig::Options("ZQT-400", {}));
  ASSERT_TRUE(line.ok());
  testing::TempDir dir;
  std::vector<std::string> args = {NORVANE_CLI_PATH, "--settings", (dir / "settings.reg").string(), "--model",
                                   "ZQT-400", "--port", line.path(), "monitor", "--out", (dir / "out").string()};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  int out[2], err[2];
  ASSERT_EQ(pipe(out), 0);
  ASSERT_EQ(pipe(err), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  posix_spawn_file_actions_addclose(&actions, err[0]);
  pid_t pid = -1;
  ASSERT_EQ(posix_spawn(&pid, NORVANE_CLI_PATH, &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  close(err[1]);

  std::string printed;
  int lines = 0;
  char ch;
  pollfd p{out[0], POLLIN, 0};
  while (lines < 20 && poll(&p, 1, 10000) > 0 && read(out[0], &ch, 1) == 1) {
    printed += ch;
    lines += ch == '\n';
  }
  kill(pid, SIGINT);
  int status = 0;
  waitpid(pid, &status, 0);
  std::string said;
  while (read(err[0], &ch, 1) == 1) said += ch;
  close(out[0]);
  close(err[0]);

  EXPECT_EQ(lines, 20) << printed;
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << said;
  EXPECT_NE(said.find("saved 20 recorded seconds to "), std::string::npos) << said;
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir / "out")) {
    ++files;
    // The start record, the 59 leading empty slots and the 20 seconds.
    if (entry.path().extension() == ".rbn") {
      EXPECT_EQ(std::filesystem::file_size(entry.path()), 12u + 59u + 20u);
    }
  }
  EXPECT_EQ(files, 3);
}
#endif

}  // namespace
}  // namespace norvane
