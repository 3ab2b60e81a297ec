#include "core/protocol/device_session.h"

#include <gtest/gtest.h>

#include "core/history/history_dump.h"
#include "core/protocol/auto_scan.h"
#include "tests/common/machine_line.h"
#include "tests/common/recording_notifier.h"
#include "tests/common/temp_dir.h"
#include "tests/core/serial/scripted_counter.h"

namespace norvane {
namespace {

using namespace std::chrono_literals;
using testing::PtyPair;
using testing::RecordingNotifier;
using testing::ScriptedCounter;

class DeviceSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty_.ok());
    store_.Load();  // as at start-up, which creates the settings
  }

  DeviceSession& Session() {
    if (!session_) {
      machine_ = std::make_unique<testing::MachineLine>(ports_, notifier_);
      session_ = std::make_unique<DeviceSession>(DeviceSession::Parts{machine_->line, notifier_, state_, &dump_, &store_});
    }
    return *session_;
  }

  PtyPair pty_;
  testing::TempDir dir_;
  SettingsStore store_{dir_ / "settings.reg"};
  PortCatalogue ports_;
  RecordingNotifier notifier_;
  DeviceState state_;
  HistoryDump dump_;
  std::unique_ptr<testing::MachineLine> machine_;
  std::unique_ptr<DeviceSession> session_;
};

TEST_F(DeviceSessionTest, IdentifiesOnTheFirstAnswerAndRemembersThePort) {
  const int port = ports_.Add(pty_.path(), "test line");
  ScriptedCounter counter(pty_, [](const std::string&) { return testing::VersionReply("ZQT-120Re 5.12"); });
  DeviceSession& session = Session();
  state_.family = 5;

  const IdentifyResult result = session.ConnectAndIdentify(port);
  EXPECT_TRUE(result.port_open);
  EXPECT_EQ(result.family, 5);
  EXPECT_EQ(result.attempts, 1);
  EXPECT_EQ(state_.family.load(), 5);
  EXPECT_EQ(state_.firmware_version.load(), 512);
  EXPECT_EQ(kModelList[static_cast<size_t>(state_.selected_model)], "ZQT-120+V5");
  EXPECT_TRUE(machine_->line.IsOpen());
  const std::vector<std::string> expected = {"COM1 opened successfully.", "ZQT-120Re 5.12", " ",
                                             "ZQT-120Re 5.12 detected on comport 1."};
  EXPECT_EQ(notifier_.status(), expected);
  EXPECT_EQ(SettingsStore(dir_ / "settings.reg").Load().com_port, 1u);
  // Identification moves the list selection only; the history size waits for the model to be applied.
  EXPECT_EQ(state_.memory_size, kDefaultModel.image_size);
}

TEST_F(DeviceSessionTest, APortThatWillNotOpenEndsAtOnceWithItsMessages) {
  DeviceSession& session = Session();
  const IdentifyResult result = session.ConnectAndIdentify(7);
  EXPECT_FALSE(result.port_open);
  EXPECT_EQ(result.attempts, 1);
  EXPECT_EQ(state_.current_port, 7);  // set back to the port tried
  ASSERT_EQ(notifier_.messages().size(), 1u);
  // The box says which port and why, in words.
  EXPECT_EQ(notifier_.messages()[0].text.rfind("COM7 cannot be opened.\n\nCOM7 is not in the port list", 0), 0u)
      << notifier_.messages()[0].text;
  EXPECT_EQ(notifier_.messages()[0].caption, kOpenFailureCaption);
  EXPECT_TRUE(notifier_.HasStatus("COM7 open error."));
  EXPECT_TRUE(notifier_.HasStatusContaining("COM7 is not in the port list"));
  EXPECT_EQ(notifier_.status().back(), "Comport disconnected and closed");
  EXPECT_FALSE(notifier_.HasStatus("Please try again!"));
  EXPECT_EQ(session.PressConnectButton("Connect"), "Connect");  // not "Disconnect" over a closed port
}

TEST_F(DeviceSessionTest, SelectingAModelSetsFamilySizeAndAFreshErasedBuffer) {
  DeviceSession& session = Session();
  dump_.Fill(0x00);
  session.SelectModelFromList(ModelListIndex("ZQT-600"));
  EXPECT_EQ(state_.family.load(), 7);
  EXPECT_EQ(state_.memory_size, 2088960u);
  EXPECT_EQ(dump_.image_size(), 2088960u);
  EXPECT_EQ(std::count(dump_.buffer().begin(), dump_.buffer().end(), 0xFF),
            static_cast<std::ptrdiff_t>(dump_.buffer().size()));
  EXPECT_EQ(SettingsStore(dir_ / "settings.reg").Load().last_geiger_counter_selected, 6u);

  session.SelectModelFromList(ModelListIndex("ZQT-100 Re2.0x(Stopped suppot)"));
  EXPECT_EQ(state_.family.load(), 1);
  EXPECT_EQ(state_.memory_size, 65536u);
}

TEST(PortDialogChoice, MapsTheSixIndices) {
  const auto defaults = MapPortDialogChoice({});
  ASSERT_TRUE(defaults);
  EXPECT_EQ(defaults->port, 3);
  EXPECT_EQ(defaults->baud, 57600);
  EXPECT_EQ(defaults->data_bits, 8);
  EXPECT_EQ(defaults->parity, "n");
  EXPECT_EQ(defaults->stop_bits, 1);

  const auto other = MapPortDialogChoice({2, 0, 4, 63, 14, 1});
  ASSERT_TRUE(other);
  EXPECT_EQ(other->data_bits, 4);
  EXPECT_EQ(other->parity, "s");
  EXPECT_EQ(other->port, 64);
  EXPECT_EQ(other->baud, 921600);
  EXPECT_EQ(other->stop_bits, 2);
  EXPECT_EQ(MapPortDialogChoice({0, 4, 0, 2, 0, 0})->baud, 110);
  EXPECT_EQ(MapPortDialogChoice({0, 4, 0, 2, 11, 0})->baud, 115200);

  EXPECT_FALSE(MapPortDialogChoice({0, 4, 0, 64, 10, 0}));
  EXPECT_FALSE(MapPortDialogChoice({0, 4, 0, 2, 15, 0}));
  EXPECT_FALSE(MapPortDialogChoice({0, 5, 0, 2, 10, 0}));
}

TEST_F(DeviceSessionTest, PortSettingsTakeEffectAndTheVersionLineArrives) {
  const int port = ports_.Add(pty_.path(), "test line");
  ScriptedCounter counter(pty_, [](const std::string&) { return testing::VersionReply("ZQT-400Re 4.21"); });
  DeviceSession& session = Session();
  ASSERT_TRUE(machine_->line.Open(port, 57600));  // already open at another rate
  PortDialogChoice choice;
  choice.port = port - 1;
  choice.rate = 11;
  ASSERT_TRUE(session.ApplyPortSettings(choice));
  termios tio = pty_.LineSettings();
  EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B115200));
  EXPECT_TRUE(notifier_.HasStatus("COM1 opened successfully."));
  EXPECT_TRUE(notifier_.HasStatus("ZQT-400Re 4.21"));
  EXPECT_EQ(state_.current_port, 1);
  EXPECT_TRUE(state_.port_open);
}

TEST_F(DeviceSessionTest, PortSettingsThatCannotOpenSayWhy) {
  DeviceSession& session = Session();
  PortDialogChoice choice;
  choice.port = 40;
  EXPECT_FALSE(session.ApplyPortSettings(choice));
  ASSERT_EQ(notifier_.messages().size(), 1u);
  EXPECT_EQ(notifier_.messages()[0].text.rfind("COM41 cannot be opened.\n\nCOM41 is not in the port list", 0), 0u)
      << notifier_.messages()[0].text;
  EXPECT_EQ(notifier_.messages()[0].caption, kOpenFailureCaption);
  EXPECT_EQ(state_.current_port, -1);
  EXPECT_FALSE(state_.port_open);
}

TEST_F(DeviceSessionTest, OpeningLeavesAPortTheFlagDidNotKnowAbout) {
  PtyPair other;
  ASSERT_TRUE(other.ok());
  const int first = ports_.Add(other.path(), "other line");
  const int second = ports_.Add(pty_.path(), "test line");
  DeviceSession& session = Session();
  ASSERT_TRUE(machine_->line.Open(first, 57600));
  ASSERT_FALSE(state_.port_open);
  ASSERT_TRUE(session.OpenPort(second));
  EXPECT_EQ(machine_->line.path(), pty_.path());
  EXPECT_TRUE(notifier_.HasStatus("COM2 opened successfully."));

  EXPECT_EQ(session.PressConnectButton("Disconnect"), "Connect");
  EXPECT_FALSE(machine_->line.IsOpen());
  EXPECT_EQ(notifier_.status().back(), "Comport disconnected and closed");
}

TEST_F(DeviceSessionTest, ScanAsksEverySixteenPortsAndStopsOnNo) {
  DeviceSession& session = Session();
  AutoScan scan(session);
  EXPECT_EQ(scan.Start(), 100ms);
  EXPECT_EQ(state_.current_port, 1);
  std::vector<AutoScan::Step> steps;
  for (int i = 0; i < 40 && scan.active(); ++i) steps.push_back(scan.RunStep());
  ASSERT_EQ(steps.size(), 16u);  // ports 1 to 15 tried, then the question before 16
  EXPECT_EQ(steps[0].outcome, AutoScan::Outcome::kContinue);
  EXPECT_EQ(steps[0].next, 100ms);  // could not be opened
  EXPECT_EQ(steps.back().outcome, AutoScan::Outcome::kDeclined);
  const auto asked = notifier_.questions();
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0].text, "Device not detected, \r\nContinue to check for next 16 comports?");
  EXPECT_EQ(asked[0].caption, "Auto detect comport");
  EXPECT_EQ(notifier_.status().back(), "Can not find any comport is connected to the device.");
  EXPECT_TRUE(notifier_.messages().empty());  // failed candidates are not worth a message box each
}

TEST_F(DeviceSessionTest, ScanWalksPastSilentAndMissingPortsToTheCounter) {
  PtyPair silent;
  ASSERT_TRUE(silent.ok());
  ports_.Add("/dev/norvane-missing", "gone");
  ports_.Add(silent.path(), "nothing on it");
  ports_.Add(pty_.path(), "the counter");
  ScriptedCounter counter(pty_, [](const std::string&) { return testing::VersionReply("ZQT-600Re 1.08"); });
  DeviceSession& session = Session();
  session.SelectModelFromList(ModelListIndex("ZQT-600"));
  AutoScan scan(session);
  scan.Start();
  EXPECT_EQ(scan.RunStep().next, 100ms);
  EXPECT_EQ(scan.RunStep().next, 300ms);  // opened, but the 2-second wait for a reply came to nothing
  EXPECT_EQ(scan.RunStep().outcome, AutoScan::Outcome::kFound);
  EXPECT_EQ(scan.identified().family, 7);
  EXPECT_EQ(state_.current_port, 3);
  EXPECT_TRUE(notifier_.HasStatus("ZQT-600Re 1.08 detected on comport 3."));
}

}  // namespace
}  // namespace norvane
