// Reading, writing and resetting the configuration against the simulated counter, in virtual
// time.
#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <set>
#include <sstream>

#include "cli/cli.h"
#include "core/common/clock.h"
#include "core/config/config_transfer.h"
#include "core/protocol/model_table.h"
#include "sim/pty_transport.h"
#include "tests/common/recording_notifier.h"
#include "tests/integration/simulated_line.h"
#include "tests/common/temp_dir.h"

namespace norvane {
namespace {

using namespace std::chrono_literals;
using testing::RecordingNotifier;
using testing::SimulatedLine;

sim::CounterOptions Counter(std::string_view model, sim::Faults faults = {},
                           std::optional<std::vector<uint8_t>> config = std::nullopt) {
  sim::CounterOptions options = testing::CounterFor(model, faults);
  options.config = std::move(config);
  return options;
}

// The write frames with each repeat folded into one: an address is written again when its
// acknowledgement came too late, as it can on a loaded machine.
template <typename Frames>
Frames Folded(Frames writes) {
  writes.erase(std::unique(writes.begin(), writes.end(),
                           [](const auto& a, const auto& b) { return a.arguments == b.arguments; }),
               writes.end());
  return writes;
}

class RecordingProgress final : public TransferProgress {
 public:
  void Progress(int position, int range, std::string_view text) override {
    last_position = position;
    last_range = range;
    texts.emplace_back(text);
  }
  void Hide() override { ++hidden; }
  void ResetCaption(std::string_view caption) override { captions.emplace_back(caption); }
  int last_position = -1, last_range = -1, hidden = 0;
  std::vector<std::string> texts, captions;
};

// The program's side with the configuration editor on top, connected to the line.
struct Program : testing::Program {
  explicit Program(SimulatedLine& line, TransferOptions options = {})
      : testing::Program(line), editor(block, table, notifier), port(session), transfer(port, editor, progress, options) {
    block.fill(0xFF);
    Connect(line.path(), line.list_entry());
  }
  ~Program() {
    port.Release();
    link.Close();
  }

  ConfigBlock block;
  ConversionTable table = kDefaultConversionTable;
  ConfigEditor editor;
  RecordingProgress progress;
  EditorPort port;
  ConfigTransfer transfer;
};

TEST(ConfigTransfer, Family4ReadStopsAt255AndWriteSends127Frames) {
  std::vector<uint8_t> area(256, 0x11);
  area[8] = 0x00, area[9] = 0x3C;  // point 1: 60 CPM
  SimulatedLine line(Counter("ZQT-120", {}, area), testing::InVirtualTime{});
  ASSERT_TRUE(line.ok());
  Program program(line);
  ASSERT_EQ(program.state.family.load(), 4);

  ASSERT_EQ(program.transfer.Read(), TransferOutcome::kDone);
  EXPECT_EQ(program.block[254], 0x11);
  EXPECT_EQ(program.block[255], 0xFF);  // the counter's 256th byte is not waited for
  EXPECT_EQ(program.editor.form()[EditorField::kCal1Cpm], "60");
  EXPECT_EQ(program.progress.texts.back(), "Read CFG completed...100%");
  EXPECT_TRUE(program.notifier.HasStatus("Main calibration 1,2,3 have been updated."));

  line.Forget();
  program.editor.form()[EditorField::kCal1Cpm] = "70000";
  ASSERT_EQ(program.transfer.Write(), TransferOutcome::kDone) << ::testing::PrintToString(program.Messages());
  EXPECT_EQ(line.FramesOf(sim::CommandKind::kEraseConfig).size(), 1u);
  const auto writes = Folded(line.FramesOf(sim::CommandKind::kWriteConfig));
  ASSERT_EQ(writes.size(), 127u);
  for (size_t a = 0; a < writes.size(); ++a) {
    ASSERT_EQ(writes[a].arguments.size(), 2u);
    EXPECT_EQ(writes[a].arguments[0], a);
  }
  EXPECT_TRUE(line.FramesOf(sim::CommandKind::kUpdateConfig).empty());
  EXPECT_EQ(program.Messages(), std::vector<std::string>{"Write To Device Completed"});
  const auto counter = line.config();
  EXPECT_TRUE(std::equal(counter.begin(), counter.begin() + 127, program.block.begin()));
  EXPECT_EQ(counter[8], 0x11);
  EXPECT_EQ(counter[9], 0x70);
  EXPECT_EQ(counter[127], 0xFF);  // erased and never written
  EXPECT_GE(program.progress.hidden, 1);
}

TEST(ConfigTransfer, Family8WritesUpToTheLastUsedByteThenCommits) {
  SimulatedLine line(Counter("ZQT-400"), testing::InVirtualTime{});
  ASSERT_TRUE(line.ok());
  Program program(line);
  ASSERT_EQ(program.transfer.Read(), TransferOutcome::kDone);
  const auto before = line.config();
  ASSERT_TRUE(std::equal(before.begin(), before.begin() + 512, program.block.begin()));
  ASSERT_EQ(LastNonBlankAddress(program.block), 437u);

  line.Forget();
  program.editor.form()[EditorField::kCpmAlarm] = "1234";
  ASSERT_EQ(program.transfer.Write(), TransferOutcome::kDone) << ::testing::PrintToString(program.Messages());
  const auto writes = Folded(line.FramesOf(sim::CommandKind::kWriteConfig));
  ASSERT_EQ(writes.size(), 438u);
  EXPECT_EQ(writes.front().arguments, (std::vector<uint8_t>{0x00, 0x00, program.block[0]}));
  EXPECT_EQ(writes.back().arguments, (std::vector<uint8_t>{0x01, 0xB5, program.block[437]}));
  const auto commits = line.FramesOf(sim::CommandKind::kUpdateConfig);
  ASSERT_EQ(commits.size(), 1u);
  EXPECT_GT(commits[0].at, writes.back().at);
  EXPECT_EQ(program.Messages(), std::vector<std::string>{"Write To Device Successful"});
  EXPECT_NE(std::find(program.progress.texts.begin(), program.progress.texts.end(), "CFG write completed....100%"),
            program.progress.texts.end());
  const auto after = line.config();
  EXPECT_EQ(std::vector<uint8_t>(after.begin() + 434, after.begin() + 438), (std::vector<uint8_t>{0, 0, 0x04, 0xD2}));
}

TEST(ConfigTransfer, SixWrongAcknowledgementsEndTheWrite) {
  sim::Faults faults;
  faults.wrong_ack_address = 10;
  SimulatedLine line(Counter("ZQT-120", faults), testing::InVirtualTime{});
  ASSERT_TRUE(line.ok());
  Program program(line);
  ASSERT_EQ(program.transfer.Read(), TransferOutcome::kDone);
  line.Forget();

  EXPECT_EQ(program.transfer.Write(), TransferOutcome::kFailed);
  // Addresses 0-9 in order (a loaded machine may try one of them twice), then six tries at 10.
  std::vector<uint8_t> addresses;
  for (const auto& frame : line.FramesOf(sim::CommandKind::kWriteConfig)) addresses.push_back(frame.arguments[0]);
  ASSERT_GE(addresses.size(), 16u);
  EXPECT_TRUE(std::is_sorted(addresses.begin(), addresses.end()));
  EXPECT_EQ(std::set<uint8_t>(addresses.begin(), addresses.end() - 6).size(), 10u);
  EXPECT_EQ(std::count(addresses.begin(), addresses.end(), uint8_t{10}), 6);
  EXPECT_EQ(program.Messages(), std::vector<std::string>{"Write CFG Failed.\r\nPlease Try Again."});
}

TEST(ConfigTransfer, AnErasedBlockIsNeverWritten) {
  SimulatedLine line(Counter("ZQT-400"), testing::InVirtualTime{});
  ASSERT_TRUE(line.ok());
  Program program(line);
  line.Forget();
  const auto before = line.config();
  EXPECT_EQ(program.transfer.Write(), TransferOutcome::kRefused);  // nothing read or loaded yet
  EXPECT_TRUE(line.FramesOf(sim::CommandKind::kEraseConfig).empty());
  EXPECT_TRUE(line.FramesOf(sim::CommandKind::kWriteConfig).empty());
  EXPECT_EQ(line.config(), before);
  ASSERT_EQ(program.Messages().size(), 1u);
  EXPECT_NE(program.Messages()[0].find("0xFF"), std::string::npos);
}

TEST(ConfigTransfer, FactoryResetAcknowledgedOnTheSecondTry) {
  sim::Faults faults;
  faults.refused_resets = 1;
  std::vector<uint8_t> area(512, 0);
  area[434 + 3] = 77;  // a CPM alarm the factory defaults do not have
  SimulatedLine line(Counter("ZQT-400", faults, area), testing::InVirtualTime{});
  ASSERT_TRUE(line.ok());
  Program program(line);
  line.Forget();

  EXPECT_EQ(program.transfer.FactoryReset(), TransferOutcome::kDone);
  const auto resets = line.FramesOf(sim::CommandKind::kFactoryReset);
  ASSERT_EQ(resets.size(), 2u);
  const auto reads = line.FramesOf(sim::CommandKind::kGetConfig);
  ASSERT_EQ(reads.size(), 1u);
  EXPECT_GE(reads[0].at - resets[1].at, 5000ms);
  EXPECT_EQ(program.editor.form()[EditorField::kCpmAlarm], "1000");
  EXPECT_TRUE(program.Messages().empty());
  EXPECT_EQ(program.progress.captions, (std::vector<std::string>{"Please Wait...", "*** Factory Reset Device ***"}));
}

TEST(ConfigTransfer, ReadThatStopsShortIsTriedTwiceThenGivesUp) {
  sim::Faults faults;
  faults.short_config = 300;
  SimulatedLine line(Counter("ZQT-400", faults), testing::InVirtualTime{});
  ASSERT_TRUE(line.ok());
  TransferOptions quick;
  quick.read_silence = 1s;  // instead of 3.3 s
  Program program(line, quick);
  line.Forget();

  EXPECT_EQ(program.transfer.Read(), TransferOutcome::kEditorClosed);
  EXPECT_EQ(line.FramesOf(sim::CommandKind::kGetConfig).size(), 2u);
  EXPECT_EQ(program.Messages(), std::vector<std::string>{"Comport error! \r\n Please try again!"});
  EXPECT_TRUE(std::all_of(program.block.begin(), program.block.end(), [](uint8_t b) { return b == 0xFF; }));
  EXPECT_FALSE(program.notifier.HasStatus("Main calibration 1,2,3 have been updated."));
  EXPECT_EQ(program.table[0].cpm, kDefaultConversionTable[0].cpm);
}

TEST(ConfigCommands, ReadSetAndFactoryResetFromTheCommandLine) {
  SimulatedLine line(Counter("ZQT-400"));
  ASSERT_TRUE(line.ok());
  testing::TempDir dir;
  const std::string settings = (dir / "settings.reg").string();
  auto run = [&](std::vector<std::string> args, std::string& out, std::string& err) {
    args.insert(args.begin(), {"--settings", settings, "--model", "ZQT-400", "--port", line.path()});
    std::ostringstream o, e;
    const int code = cli::Run(args, o, e);
    out = o.str();
    err = e.str();
    return code;
  };
  std::string out, err;
  ASSERT_EQ(run({"config", "read", (dir / "saved.csv").string(), "--json"}, out, err), 0) << err;
  EXPECT_NE(out.find("\"cpm_alarm\":\"1000\""), std::string::npos) << out;
  EXPECT_EQ(testing::ReadAll(dir / "saved.csv").substr(0, 8), "1,1,1,0,");

  EXPECT_EQ(run({"config", "set", "cpm_alarm=abc", "ssid=" + std::string(65, 's')}, out, err), 1);
  EXPECT_NE(err.find("SSID"), std::string::npos) << err;

  ASSERT_EQ(run({"config", "set", "cpm_alarm=2500", "ssid=Lab"}, out, err), 0) << err;
  EXPECT_NE(err.find("Write To Device Successful"), std::string::npos) << err;
  auto counter = line.config();
  EXPECT_EQ(counter[436], 0x09);
  EXPECT_EQ(counter[437], 0xC4);
  EXPECT_EQ(std::string(counter.begin() + 69, counter.begin() + 72), "Lab");

  EXPECT_EQ(run({"config", "factory-reset"}, out, err), 2);  // no undo on a command line
  ASSERT_EQ(run({"config", "factory-reset", "--yes"}, out, err), 0) << err;
  counter = line.config();
  EXPECT_EQ(counter[437], 1000 & 0xFF);
}

}  // namespace
}  // namespace norvane
