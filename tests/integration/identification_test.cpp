// Connecting, identifying and scanning with the real serial link against the simulated counter.
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "cli/cli.h"
#include "core/common/clock.h"
#include "core/protocol/auto_scan.h"
#include "core/protocol/device_session.h"
#include "core/protocol/model_table.h"
#include "sim/pty_transport.h"
#include "tests/common/recording_notifier.h"
#include "tests/common/temp_dir.h"
#include "tests/integration/simulated_line.h"

namespace norvane {
namespace {

using namespace std::chrono_literals;
using testing::Program;
using testing::RecordingNotifier;
using testing::SimulatedLine;

struct Expected {
  int family;
  std::string_view list_entry;
};

// What each counter must be taken for, by the identification table, whatever the simulator thinks.
const std::map<std::string_view, Expected> kExpected = {
    {"ZQT-400", {8, "ZQT-400"}},      {"ZQT-200", {8, "ZQT-200"}},       {"ZQT-210", {8, "ZQT-400"}},
    {"ZQT-220", {8, "ZQT-400"}},      {"ZQT-260", {8, "ZQT-400"}},       {"ZQT-280", {8, "ZQT-400"}},
    {"ZQT-290", {8, "ZQT-400"}},      {"ZQT-420", {8, "ZQT-400"}},       {"ZQT-3020", {8, "ZQT-3020"}},
    {"ZQT-3030", {8, "ZQT-3030"}},    {"ZQT-120+V5", {5, "ZQT-120+V5"}}, {"ZQT-120", {4, "ZQT-120"}},
    {"ZQT-1010", {4, "ZQT-1010"}},    {"ZQT-3010", {4, "ZQT-3010"}},     {"ZQT-100", {1, "ZQT-100"}},
    {"ZQT-100 Re2.0x", {0, "ZQT-100"}}, {"HQMZ LE", {1, "ZQT-100"}},      {"ZQT-LT", {6, "ZQT-LT"}},
    {"ZQT-600", {7, "ZQT-600"}},      {"RadonMax", {17, "RadonMax"}},    {"RadonTrak", {16, "RadonTrak"}},
};

TEST(Identification, EveryCounterIsTakenForItsFamily) {
  for (const sim::CounterModel& model : sim::CounterModels()) {
    SCOPED_TRACE(std::string(model.name));
    const auto expected = kExpected.find(model.name);
    ASSERT_NE(expected, kExpected.end()) << "a simulated model without an expectation";
    SimulatedLine line(testing::CounterFor(model.name), testing::InVirtualTime{});
    ASSERT_TRUE(line.ok());
    Program program(line);
    const int port = program.ports.Add(line.path(), "simulated");
    // As the Connect button does: the list entry first, which sets the line rate.
    program.session.SelectModelFromList(ModelListIndex(model.list_entry));

    const IdentifyResult result = program.session.ConnectAndIdentify(port);
    EXPECT_TRUE(result.port_open);
    EXPECT_EQ(result.reply, line.counter().version());
    EXPECT_EQ(result.family, expected->second.family);
    EXPECT_EQ(result.attempts, 1);
    EXPECT_EQ(program.state.family.load(), expected->second.family);
    EXPECT_EQ(kModelList[static_cast<size_t>(program.state.selected_model)], expected->second.list_entry);
    EXPECT_TRUE(program.notifier.HasStatus(line.counter().version() + " detected on comport 1."));
  }
}

TEST(Identification, VersionNumbersOfRealReplies) {
  const std::pair<std::string_view, int> cases[] = {{"ZQT-120", 409}, {"ZQT-120+V5", 512}, {"ZQT-100 Re2.0x", 200}};
  for (const auto& [model, version] : cases) {
    SimulatedLine line(testing::CounterFor(model), testing::InVirtualTime{});
    ASSERT_TRUE(line.ok());
    Program program(line);
    const int port = program.ports.Add(line.path(), "simulated");
    program.session.SelectModelFromList(ModelListIndex(line.counter().model().list_entry));
    program.session.ConnectAndIdentify(port);
    EXPECT_EQ(program.state.firmware_version.load(), version) << model;
  }
}

TEST(Identification, TheLineRunsAtTheFamilyRate) {
  sim::Faults strict;
  strict.strict_baud = true;  // the counter hears nothing at the wrong rate
  SimulatedLine line(testing::CounterFor("ZQT-400", strict), testing::InVirtualTime{});
  ASSERT_TRUE(line.ok());
  Program program(line);
  const int port = program.ports.Add(line.path(), "simulated");
  program.session.SelectModelFromList(ModelListIndex("ZQT-400"));
  EXPECT_EQ(program.session.ConnectAndIdentify(port).family, 8);
  EXPECT_EQ(program.state.port_settings.baud, 115200);
}

TEST(Identification, ASilentCounterIsTriedFourTimes) {
  sim::Faults silent;
  silent.silent = true;
  SimulatedLine line(testing::CounterFor("ZQT-120", silent), testing::InVirtualTime{});
  ASSERT_TRUE(line.ok());
  Program program(line);
  const int port = program.ports.Add(line.path(), "simulated");
  program.state.family = 4;
  program.state.firmware_version = 409;

  const auto start = program.link.clock().Now();
  const IdentifyResult result = program.session.ConnectAndIdentify(port);
  // Four 2-second receive time-outs at the model's rate, two at the other rate.
  EXPECT_GE(program.link.clock().Now() - start, 6 * 2000ms);
  EXPECT_EQ(result.attempts, kIdentifyAttempts + kOtherRateAttempts);
  EXPECT_FALSE(result.family);
  EXPECT_EQ(result.reply, "");
  EXPECT_EQ(program.state.family.load(), 4);  // no family change
  EXPECT_EQ(program.state.firmware_version.load(), 0);
  const auto status = program.notifier.status();
  // One open per attempt, and one more to leave the line at the model's rate.
  EXPECT_EQ(std::count(status.begin(), status.end(), "COM1 opened successfully."), 7);
  EXPECT_TRUE(program.notifier.HasStatus("No answer at 115200 baud; trying 57600 baud."));
  EXPECT_EQ(status.back(), "Please try again!");
  EXPECT_TRUE(result.port_open);  // the port stays open, as before
  EXPECT_EQ(program.state.port_settings.baud, 115200);
}

// A counter deaf at the wrong rate, as a real serial line is, while the other model is selected.
TEST(Identification, ACounterOfTheOtherRateIsFoundAndItsModelSelected) {
  sim::Faults strict;
  strict.strict_baud = true;
  SimulatedLine line(testing::CounterFor("ZQT-100", strict), testing::InVirtualTime{});  // 57600 baud
  ASSERT_TRUE(line.ok());
  Program program(line);
  const int port = program.ports.Add(line.path(), "simulated");
  program.session.SelectModelFromList(ModelListIndex("ZQT-400"));  // 115200 baud

  const IdentifyResult result = program.session.ConnectAndIdentify(port);
  EXPECT_TRUE(result.port_open);
  EXPECT_EQ(result.family, 1);
  EXPECT_EQ(result.attempts, kIdentifyAttempts + 1);
  EXPECT_EQ(result.reply, line.counter().version());
  EXPECT_EQ(kModelList[static_cast<size_t>(program.state.selected_model)], "ZQT-100");
  EXPECT_EQ(program.state.memory_size, 0x10000u);  // applied, not only shown in the list
  EXPECT_EQ(program.state.family.load(), 1);
  EXPECT_EQ(program.state.port_settings.baud, 57600);
  const auto status = program.notifier.status();
  const auto tried = std::find(status.begin(), status.end(), "No answer at 115200 baud; trying 57600 baud.");
  ASSERT_NE(tried, status.end());
  const std::vector<std::string> last(status.end() - 2, status.end());
  EXPECT_EQ(last, (std::vector<std::string>{line.counter().version() + " detected on comport 1.",
                                            "Counter found at 57600 baud; model ZQT-100 selected."}));

  // The line is left working: the version request that follows is answered at once.
  EXPECT_EQ(program.session.RequestVersion(), line.counter().version());
  const size_t before = program.notifier.status().size();
  EXPECT_EQ(program.session.ConnectAndIdentify(port).attempts, 1);
  const auto again = program.notifier.status();
  EXPECT_TRUE(std::none_of(again.begin() + static_cast<std::ptrdiff_t>(before), again.end(),
                           [](const std::string& line) { return line.find("baud") != std::string::npos; }));
}

TEST(Identification, TheScanFindsACounterOfTheOtherRate) {
  sim::Faults strict;
  strict.strict_baud = true;
  SimulatedLine line(testing::CounterFor("ZQT-LT", strict), testing::InVirtualTime{});  // 115200 baud
  ASSERT_TRUE(line.ok());
  Program program(line);
  program.ports.Add(line.path(), "simulated");
  program.session.SelectModelFromList(ModelListIndex("ZQT-100"));  // 57600 baud
  AutoScan scan(program.session);
  scan.Start();
  const AutoScan::Step step = scan.RunStep();
  EXPECT_EQ(step.outcome, AutoScan::Outcome::kFound);
  EXPECT_EQ(scan.identified().family, 6);
  EXPECT_EQ(scan.identified().attempts, 1);  // identification went straight to the rate found
  EXPECT_EQ(kModelList[static_cast<size_t>(program.state.selected_model)], "ZQT-LT");
  EXPECT_EQ(program.state.port_settings.baud, 115200);
  EXPECT_TRUE(program.notifier.HasStatus("Counter found at 115200 baud; model ZQT-LT selected."));
  EXPECT_TRUE(program.notifier.HasStatus(line.counter().version() + " detected on comport 1."));
}

TEST(Identification, ScanGivesUpAfterPort256) {
  Program program;  // no ports at all: every candidate fails to open
  program.notifier.AnswerWith([](size_t) { return true; });
  AutoScan scan(program.session);
  scan.Start();
  AutoScan::Step step;
  int steps = 0;
  while (scan.active()) {
    step = scan.RunStep();
    ++steps;
  }
  EXPECT_EQ(steps, 257);
  EXPECT_EQ(step.outcome, AutoScan::Outcome::kNotDetected);
  EXPECT_EQ(program.notifier.questions().size(), 16u);  // before 16, 32, ... 256
  EXPECT_EQ(program.notifier.status().back(), "Norvane Geiger Counter not detected, please try again.");
}

class CliDeviceTest : public ::testing::Test {
 protected:
  struct Result {
    int code;
    std::string out;
    std::string err;
  };
  Result Run(std::vector<std::string> args) {
    args.insert(args.begin(), {"--settings", (dir_ / "settings.reg").string()});
    std::ostringstream out, err;
    const int code = cli::Run(args, out, err);
    return {code, out.str(), err.str()};
  }
  testing::TempDir dir_;
};

TEST_F(CliDeviceTest, IdentifyPrintsWhatTheCounterIs) {
  SimulatedLine line("ZQT-120+V5");
  ASSERT_TRUE(line.ok());
  const std::string trace = (dir_ / "trace.txt").string();
  Result r = Run({"--model", "ZQT-120+V5", "--port", line.path(), "--trace", trace, "identify", "--json"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "{\"reply\":\"" + line.counter().version() +
                       "\",\"family\":5,\"version\":512,\"model\":\"ZQT-120+V5\",\"memory_size\":1048576}\n");
  const std::string log = testing::ReadAll(trace);
  EXPECT_NE(log.find(" > 3C 47 45 54 56 45 52 3E 3E\n"), std::string::npos) << log;
  EXPECT_NE(log.find(" < 5A 51 54"), std::string::npos) << log;

  r = Run({"--model", "ZQT-120+V5", "--port", line.path(), "identify"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("family       5\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("memory_size  1048576\n"), std::string::npos) << r.out;
}

TEST_F(CliDeviceTest, IdentifyFailuresExitWithAReason) {
  Result r = Run({"--port", "/dev/norvane-no-such-port", "identify"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find(" cannot be opened."), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("does not exist"), std::string::npos) << r.err;

  r = Run({"identify"});
  EXPECT_EQ(r.code, 2);

  sim::Faults silent;
  silent.silent = true;
  SimulatedLine line("ZQT-100", silent);
  ASSERT_TRUE(line.ok());
  r = Run({"--model", "ZQT-100", "--port", line.path(), "identify", "--json"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("norvane-cli: Please try again!"), std::string::npos) << r.err;
}

TEST_F(CliDeviceTest, IdentifyNamesTheCounterFoundAtTheOtherRate) {
  sim::Faults strict;
  strict.strict_baud = true;
  SimulatedLine line("ZQT-120", strict);  // 115200 baud
  ASSERT_TRUE(line.ok());
  const Result r = Run({"--model", "ZQT-100", "--port", line.path(), "identify"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("model        ZQT-120\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("memory_size  1048576\n"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("Counter found at 115200 baud; model ZQT-120 selected.\n"), std::string::npos) << r.err;
}

TEST_F(CliDeviceTest, PortsListsANamedDevice) {
  SimulatedLine line("ZQT-400");
  ASSERT_TRUE(line.ok());
  const Result r = Run({"--port", line.path(), "ports", "--json"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("\"path\":\"" + line.path() + "\",\"description\":\"named on the command line\""),
            std::string::npos)
      << r.out;
}

TEST_F(CliDeviceTest, ScanFindsTheSimulatedCounter) {
  SimulatedLine line("ZQT-400");
  ASSERT_TRUE(line.ok());
  const Result r = Run({"--model", "ZQT-400", "--port", line.path(), "scan"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("path         " + line.path() + "\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("family       8\n"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace norvane
