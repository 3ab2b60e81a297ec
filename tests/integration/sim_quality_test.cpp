// A stuck and a noisy simulated tube, logged by the live engine into a real store in virtual
// time, fail `store check --quality`, and a working one beside them passes.
#include <gtest/gtest.h>

#include "core/live/live_engine.h"
#include "core/store/seconds_writer.h"
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

}  // namespace
}  // namespace norvane
