// A stuck and a noisy simulated tube, logged by the live engine into a real store in virtual
// time, fail `store check --quality`, and a working one beside them passes; so does a counter
// whose clock runs fast, read over a pseudo-terminal on a clock the test moves on.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/live/live_engine.h"
#include "core/store/seconds_writer.h"
#include "core/store/store.h"
#include "core/store/store_quality.h"
#include "core/tools/clock_sync.h"
#include "tests/integration/simulated_line.h"
#include "sim/virtual_line.h"
#include "tests/common/cli_run.h"
#include "tests/common/recording_notifier.h"
#include "tests/common/temp_dir.h"

namespace norvane {
namespace {

using namespace std::chrono_literals;

struct Quiet final : live::EngineLog {
  void Write(live::Priority, std::string_view) override {}
};

// Twenty minutes of a counter at 300 CPM with `fault`, into the store.
void Log(store::SecondsWriter& writer, const std::string& fault, uint8_t serial) {
  live::VirtualLiveClock clock(1'796'644'800'000);
  sim::VirtualLine line(clock);
  sim::CounterOptions counter;
  counter.cpm = 300;
  counter.seed = serial;
  counter.serial = sim::SerialNumber{0x5a, 0, 0, 0, 0, 0, 0, serial};
  if (!fault.empty()) {
    std::string error;
    ASSERT_TRUE(sim::ParseFault(fault, counter.faults, &error)) << error;
  }
  line.Plug("/dev/ttyUSB0", counter);
  Quiet log;
  live::LiveEngine engine({line, clock, log, &writer, {}, {}}, {.port = "/dev/ttyUSB0", .family = 8, .polls = 1200});
  engine.Run();
  EXPECT_GE(engine.tally().measured, 1190u);
}

TEST(SimulatedFaults, AStuckAndANoisyTubeFailTheQualityCheckAndAWorkingOnePasses) {
  testing::TempDir dir;
  testing::RecordingNotifier notifier;
  {
    store::SecondsWriter writer(dir / "store.sqlite", notifier);
    Log(writer, "", 1);
    Log(writer, "stuck-counts=300", 2);
    Log(writer, "noisy-counts", 3);
    ASSERT_TRUE(writer.Flush(10s));
  }
  const auto check = [&](const std::string& counter) {
    return testing::RunCli(dir, {"--store", (dir / "store.sqlite").string(), "store", "check", "--quality",
                                 "--counter", counter});
  };
  const auto working = check("1");
  EXPECT_EQ(working.code, 0) << working.out << working.err;
  const auto stuck = check("2");
  EXPECT_EQ(stuck.code, 1);
  EXPECT_NE(stuck.out.find("steadier than Poisson"), std::string::npos) << stuck.out;
  EXPECT_NE(stuck.out.find("seconds in a row"), std::string::npos) << stuck.out;
  const auto noisy = check("3");
  EXPECT_EQ(noisy.code, 1);
  EXPECT_NE(noisy.out.find("wilder than Poisson"), std::string::npos) << noisy.out;
}

TEST(SimulatedFaults, AClockRunningFastFailsTheQualityCheck) {
  testing::TempDir dir;
  sim::Faults faults;
  std::string error;
  ASSERT_TRUE(sim::ParseFault("clock-drift", faults, &error)) << error;
  auto owned = std::make_unique<FixedClock>(LocalTime{2026, 3, 7, 9, 5, 4});
  FixedClock& clock = *owned;  // the counter's and the program's: both move on together
  testing::SimulatedLine line(testing::CounterFor("ZQT-400", faults), std::move(owned));
  ASSERT_TRUE(line.ok());
  testing::Program program;
  ASSERT_TRUE(program.Connect(line.path(), "ZQT-400"));
  std::atomic<bool> retry{false};
  ClockSync sync(program.session, clock, retry, nullptr);
  const auto check = [&] {
    return testing::RunCli(dir, {"--store", (dir / "store.sqlite").string(), "store", "check", "--quality"});
  };
  {
    store::Store db(dir / "store.sqlite");
    const store::CounterId counter = db.RegisterCounter({"ZQT-400", "8", "ZQT-400", line.path(), ""}, clock.Now());
    // Read on switching on, then a day later, as a station's daily download would.
    for (int day = 0; day < 2; ++day) {
      if (day) clock.Advance(86400);
      const GetClockResult read = sync.GetClock();
      ASSERT_EQ(read.outcome, GetClockOutcome::kRead) << read.text;
      db.AddClockReading(counter, {read.read_at, read.offset, false});
    }
    const store::ClockQuality q = store::JudgeClock(db, counter);
    ASSERT_TRUE(q.drift_per_day);
    EXPECT_GT(*q.drift_per_day, store::kClockMaximumDriftPerDay);
    EXPECT_GT(q.last->offset, store::kClockMaximumOffset);
    // What a live service publishes and the chart marks: the clock's rules fail with the seconds'.
    const store::Second measured{clock.Now(), 3};
    db.AppendSeconds(counter, std::span(&measured, 1));
    const std::optional<store::DayQuality> stretch = store::StretchQuality(db, counter, clock.Now() - 86400, clock.Now() + 1);
    ASSERT_TRUE(stretch);
    std::vector<std::string> failing;
    for (const store::RuleResult& rule : stretch->rules)
      if (!rule.ok) failing.push_back(rule.rule);
    EXPECT_THAT(failing, ::testing::IsSupersetOf({"clock_offset_seconds", "clock_drift_seconds_per_day"}));
  }
  const auto fast = check();
  EXPECT_EQ(fast.code, 1) << fast.out << fast.err;
  EXPECT_NE(fast.out.find("ahead of the computer's"), std::string::npos) << fast.out;
  EXPECT_NE(fast.out.find("gains"), std::string::npos) << fast.out;

  // Set to the computer's time, the clock passes again until it has drifted off anew.
  ASSERT_TRUE(sync.SetClock(ClockTrigger::kInteractive).synced);
  store::Store(dir / "store.sqlite").AddClockReading(1, {clock.Now(), 0, true});
  const auto set = check();
  EXPECT_EQ(set.code, 0) << set.out << set.err;
}

}  // namespace
}  // namespace norvane
