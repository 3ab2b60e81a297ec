// The Settings, web map setup and "Serial Port" dialogs: stored values, OK rules, Verify over HTTP,
// the WiFi read against a simulated counter and the port lists.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/i18n/language_dictionary.h"
#include "core/i18n/window_texts.h"
#include "core/protocol/model_table.h"
#include "core/store/store.h"
#include "sim/config_area.h"
#include "tests/core/net/one_shot_http_server.h"
#include "tests/integration/simulated_line.h"
#include "ui/app_context.h"
#include "ui/device_worker.h"
#include "ui/map_setup_dialog.h"
#include "ui/port_settings_dialog.h"
#include "ui/qt_notifier.h"
#include "ui/qt_text.h"
#include "ui/settings_dialog.h"

namespace norvane {
namespace {

constexpr int kWaitMs = 15000;

class DialogTest : public ::testing::Test {
 protected:
  // `with_store`: the window keeps a long-term store in the test's folder.
  explicit DialogTest(std::vector<std::string> extra_ports = {}, bool with_store = false)
      : notifier_(&owner_, [](const QString&) {}),
        ctx_(notifier_, SettingsPath(), extra_ports, Hooks(with_store)) {
    // As the window does at start-up; a first start creates the settings key.
    ctx_.settings = ctx_.store.Load();
    notifier_.SetMessageHandler([this](const QString& text, const QString&) { messages_.push_back(text); });
    notifier_.SetAskHandler([this](const QString& question, const QString&) {
      questions_.push_back(question);
      return answer_;
    });
  }

  std::filesystem::path SettingsPath() const { return std::filesystem::path(dir_.path().toStdString()) / "settings.reg"; }
  std::filesystem::path StorePath() const { return std::filesystem::path(dir_.path().toStdString()) / "store.sqlite"; }
  AppHooks Hooks(bool with_store) const {
    AppHooks hooks;
    if (with_store) hooks.store_path = StorePath();
    return hooks;
  }
  // What the next start of the program would read.
  Settings Reloaded() const {
    SettingsStore store(SettingsPath());
    return store.Load();
  }
  void WaitIdle() { ASSERT_TRUE(QTest::qWaitFor([&] { return !worker_.busy(); }, kWaitMs)); }
  bool Said(const QString& text) const { return std::find(messages_.begin(), messages_.end(), text) != messages_.end(); }

  QTemporaryDir dir_;
  QWidget owner_;
  QtNotifier notifier_;
  AppContext ctx_;
  DeviceWorker worker_;
  std::vector<QString> messages_;
  std::vector<QString> questions_;
  bool answer_ = true;
};

// ---- web map setup

using MapSetupDialogTest = DialogTest;

constexpr char kNotVerified[] =
    "Your user account Geiger counter information not been verified, \r\n The Auto submition dada is been disabled.";

TEST_F(MapSetupDialogTest, ChangedUnverifiedIdsSwitchAutomaticSubmissionOff) {
  ctx_.settings.zqt_map_user_account_id = "1234";
  ctx_.settings.zqt_map_geiger_counter_id = "5678";
  ctx_.settings.auto_submit_enabled = 1;
  MapSetupDialog dialog(ctx_, worker_, notifier_, &owner_);
  EXPECT_EQ(dialog.account_edit()->text(), "1234");
  ASSERT_TRUE(dialog.auto_submit_box()->isChecked());

  dialog.account_edit()->setText("9999");
  dialog.period_edit()->setText("10");
  dialog.accept();
  EXPECT_TRUE(Said(kNotVerified));
  EXPECT_FALSE(dialog.auto_submit_box()->isChecked());
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  const Settings stored = Reloaded();
  EXPECT_EQ(stored.auto_submit_enabled, 0u);
  EXPECT_EQ(stored.zqt_map_user_account_id, "9999");
  EXPECT_EQ(stored.auto_submit_period, 10u);
  EXPECT_EQ(ctx_.settings.auto_submit_enabled, 0u);
}

TEST_F(MapSetupDialogTest, UnchangedIdsKeepTheSwitchAsSetAndAZeroPeriodIsRefused) {
  ctx_.settings.zqt_map_user_account_id = "1234";
  ctx_.settings.zqt_map_geiger_counter_id = "5678";
  MapSetupDialog dialog(ctx_, worker_, notifier_, &owner_);
  dialog.auto_submit_box()->setChecked(true);
  dialog.period_edit()->setText("0");
  dialog.accept();
  EXPECT_TRUE(Said("Please set Auto submit period 1 minute or longer."));
  EXPECT_NE(dialog.result(), QDialog::Accepted) << "the dialog stays open";
  EXPECT_FALSE(Said(kNotVerified));
  EXPECT_EQ(ctx_.settings.auto_submit_enabled, 0u) << "nothing switched on while refused";

  messages_.clear();
  dialog.period_edit()->setText("3");
  dialog.accept();
  EXPECT_TRUE(messages_.empty());
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(Reloaded().auto_submit_enabled, 1u);
  EXPECT_EQ(Reloaded().auto_submit_period, 3u);
}

TEST_F(MapSetupDialogTest, VerifyMarksVerifiedUnlessTheAnswerSaysError) {
  testing::OneShotHttpServer good("200 OK", "Welcome, counter 77 logged", 2);
  ctx_.settings.auto_submit_enabled = 1;
  MapSetupDialog dialog(ctx_, worker_, notifier_, &owner_);
  dialog.server_edit()->setText(QString::fromStdString(good.base()));
  EXPECT_EQ(dialog.registration_url(), QString::fromStdString(good.base() + "userRegister-x.asp"));
  EXPECT_TRUE(dialog.register_link()->text().contains("href=\"" + dialog.registration_url() + "\""));
  dialog.account_edit()->setText("A1");
  dialog.counter_edit()->setText("77");

  dialog.Verify();
  EXPECT_FALSE(dialog.verify_button()->isEnabled()) << "one verification at a time";
  WaitIdle();
  EXPECT_TRUE(dialog.verified());
  EXPECT_TRUE(dialog.verify_button()->isEnabled());
  ASSERT_EQ(good.requests().size(), 1u);
  EXPECT_TRUE(good.requests()[0].starts_with("POST /testlog.asp?id=A1+77+0+0+0 "));
  EXPECT_TRUE(Said(ToQString(EnglishText(kTextMsgMapAnswered, {"Welcome, counter 77 logged"}))));

  dialog.period_edit()->setText("5");
  dialog.accept();
  EXPECT_FALSE(Said(kNotVerified));
  EXPECT_EQ(Reloaded().auto_submit_enabled, 1u) << "verified new IDs keep automatic submission";
  EXPECT_EQ(Reloaded().zqt_map_server, good.base());

  // An edit after the verification is not verified.
  dialog.Verify();
  WaitIdle();
  ASSERT_TRUE(dialog.verified());
  dialog.counter_edit()->setText("78");
  EXPECT_FALSE(dialog.verified());
}

TEST_F(MapSetupDialogTest, AnAnswerContainingErrorLeavesItUnverifiedEvenWith200) {
  testing::OneShotHttpServer server("200 OK", "Error: unknown account");
  MapSetupDialog dialog(ctx_, worker_, notifier_, &owner_);
  dialog.server_edit()->setText(QString::fromStdString(server.base()));
  dialog.account_edit()->setText("A1");
  dialog.Verify();
  WaitIdle();
  EXPECT_FALSE(dialog.verified());
  EXPECT_TRUE(Said(ToQString(EnglishText(kTextMsgMapAnswered, {"Error: unknown account"}))));
  dialog.accept();
  EXPECT_TRUE(Said(kNotVerified));
}

// ---- Settings: clock and start-up values

using SettingsDialogTest = DialogTest;

TEST_F(SettingsDialogTest, OkStoresTheSyncPeriodAndStartUpDetectionCancelDiscards) {
  ctx_.settings.auto_time_sync_period = 12;
  {
    SettingsDialog dialog(ctx_, worker_, notifier_, &owner_);
    EXPECT_EQ(dialog.windowTitle(), "Time,Wifi,Server and Others");
    EXPECT_EQ(dialog.sync_period_box()->value(), 12);
    EXPECT_FALSE(dialog.auto_detect_box()->isChecked());
    dialog.sync_period_box()->setValue(24);
    dialog.auto_detect_box()->setChecked(true);
    dialog.reject();
  }
  EXPECT_EQ(ctx_.settings.auto_time_sync_period, 12u);
  EXPECT_EQ(Reloaded().auto_detect_when_start_up, 0u);

  {
    SettingsDialog dialog(ctx_, worker_, notifier_, &owner_);
    dialog.sync_period_box()->setValue(0);
    dialog.auto_detect_box()->setChecked(true);
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
  }
  WaitIdle();
  EXPECT_EQ(ctx_.settings.auto_time_sync_period, 0u) << "0 switches periodic sync off and must survive";
  EXPECT_EQ(ctx_.settings.auto_detect_when_start_up, 1u);
  const Settings stored = Reloaded();
  EXPECT_EQ(stored.auto_time_sync_period, 0u);
  EXPECT_EQ(stored.auto_detect_when_start_up, 1u);
}

TEST_F(SettingsDialogTest, GetTimeIsOfferedForEveryModelButRadonMonitors) {
  ctx_.state.model_text = "RadonMax Re 1.05";
  SettingsDialog radon(ctx_, worker_, notifier_, &owner_);
  EXPECT_FALSE(radon.get_time_button()->isEnabled());
  EXPECT_TRUE(radon.sync_now_button()->isEnabled());

  ctx_.state.model_text = "ZQT-400Re 4.21";
  SettingsDialog counter(ctx_, worker_, notifier_, &owner_);
  EXPECT_TRUE(counter.get_time_button()->isEnabled());
}

// ---- Settings: WiFi values against a simulated family-8 counter

// A counter whose configuration holds network values, at the places the counter keeps them.
sim::CounterOptions WifiCounter() {
  sim::CounterOptions options = testing::CounterFor("ZQT-400");
  std::vector<uint8_t> area = sim::DefaultConfigArea(8, 0);
  const auto layout = sim::NetworkLayout(8);
  const char* texts[] = {"HomeNet", "s3cret!", "www.example.net", "/log", "user42", "dev77"};
  for (size_t i = 0; i < 6; ++i) {
    const std::string text = texts[i];
    std::copy(text.begin(), text.end(), area.begin() + (*layout)[i].address);
  }
  area[(*layout)[6].address] = 15;
  options.config = area;
  return options;
}

// A base of its own, so the line exists before the context lists its port.
struct LineHolder {
  explicit LineHolder(sim::CounterOptions options) : line_(std::move(options)) {}
  std::vector<std::string> Ports() const { return line_.ok() ? std::vector<std::string>{line_.path()} : std::vector<std::string>{}; }
  testing::SimulatedLine line_;
};

class SettingsDeviceTest : public LineHolder, public DialogTest {
 protected:
  SettingsDeviceTest() : LineHolder(WifiCounter()), DialogTest(Ports(), true) {}

  void ConnectProgram() {
    ASSERT_TRUE(line_.ok());
    const int port = ctx_.ports.NumberOf(line_.path());
    worker_.Run([this, port] {
      ctx_.session.SelectModelFromList(ModelListIndex("ZQT-400"));
      ctx_.session.ConnectAndIdentify(port);
    });
    WaitIdle();
    ASSERT_TRUE(ctx_.link.IsOpen());
  }
};

TEST_F(SettingsDeviceTest, ReadFromDeviceFillsTheSevenFieldsAndWriteSendsThemBack) {
  ConnectProgram();
  auto dialog = std::make_unique<SettingsDialog>(ctx_, worker_, notifier_, &owner_);
  dialog->ReadFromDevice();
  EXPECT_FALSE(dialog->read_button()->isEnabled());
  EXPECT_FALSE(dialog->write_button()->isEnabled());
  WaitIdle();
  EXPECT_TRUE(dialog->read_button()->isEnabled());
  EXPECT_EQ(dialog->network_field(NetworkField::kSsid)->text(), "HomeNet");
  EXPECT_EQ(dialog->network_field(NetworkField::kPassword)->text(), "s3cret!");
  EXPECT_EQ(dialog->network_field(NetworkField::kWebsite)->text(), "www.example.net");
  EXPECT_EQ(dialog->network_field(NetworkField::kUrl)->text(), "/log");
  EXPECT_EQ(dialog->network_field(NetworkField::kUserId)->text(), "user42");
  EXPECT_EQ(dialog->network_field(NetworkField::kCounterId)->text(), "dev77");
  EXPECT_EQ(dialog->network_field(NetworkField::kPeriod)->text(), "15");
  EXPECT_TRUE(messages_.empty());

  // The typed values reach the counter once confirmed.
  dialog->network_field(NetworkField::kSsid)->setText("Office");
  dialog->network_field(NetworkField::kPeriod)->setText("300");
  line_.Forget();
  dialog->WriteToDevice();
  WaitIdle();
  ASSERT_EQ(questions_.size(), 1u);
  EXPECT_TRUE(Said("Write to unit completed!"));
  const auto layout = sim::NetworkLayout(8);
  const std::vector<uint8_t> config = line_.config();
  EXPECT_EQ(std::string(config.begin() + (*layout)[0].address, config.begin() + (*layout)[0].address + 7),
            std::string("Office\0", 7));
  EXPECT_EQ(config[(*layout)[6].address], 300 & 0xFF);

  dialog->accept();
  dialog.reset();
  WaitIdle();
}

TEST_F(SettingsDeviceTest, ClockButtonsWorkAfterAWifiReadHeldThePort) {
  ConnectProgram();
  SettingsDialog dialog(ctx_, worker_, notifier_, &owner_);
  dialog.ReadFromDevice();
  WaitIdle();
  ASSERT_EQ(dialog.network_field(NetworkField::kSsid)->text(), "HomeNet");

  // The dialog's receiving task must not swallow the clock reply.
  dialog.GetTimeFromUnit();
  EXPECT_FALSE(dialog.sync_now_button()->isEnabled());
  WaitIdle();
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_TRUE(messages_[0].startsWith("Counter clock: 20")) << messages_[0].toStdString();
  EXPECT_TRUE(dialog.get_time_button()->isEnabled());

  line_.Forget();
  dialog.SyncDateTimeNow();
  WaitIdle();
  EXPECT_TRUE(Said("Time Synced Successfully!"));
  EXPECT_EQ(line_.FramesOf(sim::CommandKind::kSetDateTime).size(), 1u);

  // Both went into the store for the clock's quality rules: the read as it was, the set as the
  // start of a new drift.
  store::Store db(StorePath(), store::Store::Access::kReadOnly);
  const std::vector<store::CounterRow> counters = db.Counters();
  ASSERT_EQ(counters.size(), 1u);
  EXPECT_EQ(counters[0].info.version, ctx_.state.model_text);
  const std::vector<store::ClockReading> readings = db.ClockReadings(counters[0].id);
  ASSERT_EQ(readings.size(), 2u);
  EXPECT_FALSE(readings[0].set);
  EXPECT_LE(std::abs(readings[0].offset), 1);  // the simulator keeps this machine's time
  EXPECT_TRUE(readings[1].set);
  EXPECT_EQ(readings[1].offset, 0);
  EXPECT_GE(readings[1].time, readings[0].time);
}

TEST_F(SettingsDeviceTest, DecliningTheWriteSendsNothing) {
  ConnectProgram();
  SettingsDialog dialog(ctx_, worker_, notifier_, &owner_);
  answer_ = false;
  line_.Forget();
  dialog.network_field(NetworkField::kSsid)->setText("Other");
  dialog.WriteToDevice();
  WaitIdle();
  EXPECT_EQ(questions_.size(), 1u);
  EXPECT_TRUE(line_.Frames().empty());
  EXPECT_TRUE(dialog.write_button()->isEnabled());
}

// ---- "Serial Port"

class PortSettingsDeviceTest : public LineHolder, public DialogTest {
 protected:
  PortSettingsDeviceTest() : LineHolder(testing::CounterFor("ZQT-400")), DialogTest(Ports()) {}
};

TEST_F(PortSettingsDeviceTest, OpensOnTheConnectionInUseAndListsThePortsThatExist) {
  ASSERT_TRUE(line_.ok());
  const int number = ctx_.ports.NumberOf(line_.path());
  // The window is connected to the simulator at the ZQT-400's rate.
  ctx_.state.current_port = number;
  ctx_.state.port_open = true;
  ctx_.state.port_settings.baud = 115200;
  PortSettingsDialog dialog(ctx_, worker_, notifier_, &owner_);
  EXPECT_EQ(dialog.windowTitle(), "Serial Port");
  EXPECT_EQ(dialog.port_list()->count(), static_cast<int>(ctx_.ports.ports().size()));
  for (int i = 0; i < dialog.port_list()->count(); ++i) {
    const PortEntry& entry = ctx_.ports.ports()[static_cast<size_t>(i)];
    EXPECT_TRUE(dialog.port_list()->itemText(i).contains(QString::fromStdString(entry.path)))
        << dialog.port_list()->itemText(i).toStdString();
  }
  EXPECT_EQ(dialog.port_list()->currentText(), QString("COM%1 (%2)").arg(number).arg(QString::fromStdString(line_.path())));
  EXPECT_EQ(dialog.rate_list()->currentText(), "115200");
  EXPECT_EQ(dialog.data_bits_list()->currentText(), "8");
  EXPECT_EQ(dialog.parity_list()->currentText(), "None");
  EXPECT_EQ(dialog.stop_bits_list()->currentText(), "1");
  EXPECT_EQ(dialog.flow_control_list()->currentText(), "None");
  EXPECT_EQ(dialog.flow_control_list()->count(), 3);
  EXPECT_EQ(MapPortDialogChoice(dialog.choice())->port, number);

  // Whatever each list shows is what the port is opened with.
  for (int i = 0; i < dialog.rate_list()->count(); ++i) {
    dialog.rate_list()->setCurrentIndex(i);
    const auto mapped = MapPortDialogChoice(dialog.choice());
    ASSERT_TRUE(mapped);
    EXPECT_EQ(QString::number(mapped->baud), dialog.rate_list()->currentText());
  }
  EXPECT_EQ(dialog.rate_list()->count(), 15);
  for (int i = 0; i < dialog.data_bits_list()->count(); ++i) {
    dialog.data_bits_list()->setCurrentIndex(i);
    EXPECT_EQ(QString::number(MapPortDialogChoice(dialog.choice())->data_bits), dialog.data_bits_list()->currentText());
  }
  const char* parities[] = {"n", "e", "o", "m", "s"};
  for (int i = 0; i < 5; ++i) {
    dialog.parity_list()->setCurrentIndex(i);
    EXPECT_EQ(MapPortDialogChoice(dialog.choice())->parity, parities[i]) << dialog.parity_list()->currentText().toStdString();
  }
  for (int i = 0; i < dialog.port_list()->count(); ++i) {
    dialog.port_list()->setCurrentIndex(i);
    EXPECT_TRUE(dialog.port_list()->currentText().startsWith(QString("COM%1 ").arg(MapPortDialogChoice(dialog.choice())->port)));
  }
  dialog.stop_bits_list()->setCurrentIndex(1);
  EXPECT_EQ(MapPortDialogChoice(dialog.choice())->stop_bits, 2);

  // Not connected: the port last chosen, at the rate of the model selected.
  ctx_.state.current_port = -1;
  ctx_.state.port_open = false;
  ctx_.state.family.store(1);
  ctx_.settings.com_port = static_cast<uint32_t>(number);
  PortSettingsDialog again(ctx_, worker_, notifier_, &owner_);
  EXPECT_TRUE(again.port_list()->currentText().startsWith(QString("COM%1 ").arg(number)));
  EXPECT_EQ(again.rate_list()->currentText(), "57600");
}

TEST_F(PortSettingsDeviceTest, OkOpensTheChosenPortOrSaysItCouldNot) {
  ASSERT_TRUE(line_.ok());
  const int number = ctx_.ports.NumberOf(line_.path());
  PortSettingsDialog dialog(ctx_, worker_, notifier_, &owner_);
  dialog.port_list()->setCurrentIndex(dialog.port_list()->findText(QString::fromStdString(line_.path()), Qt::MatchContains));
  dialog.rate_list()->setCurrentIndex(11);  // 115200, the ZQT-400's rate
  std::optional<bool> opened;
  ApplyPortSettingsDialog(ctx_, worker_, dialog.choice(), [&](bool ok) { opened = ok; });
  WaitIdle();
  ASSERT_TRUE(opened);
  EXPECT_TRUE(*opened);
  EXPECT_TRUE(ctx_.link.IsOpen());
  EXPECT_EQ(ctx_.state.current_port, number);
  EXPECT_FALSE(line_.FramesOf(sim::CommandKind::kGetVersion).empty()) << "the version is asked after opening";

  // A port the machine does not have (one that went away while the dialog was open).
  const int missing = static_cast<int>(ctx_.ports.ports().size());
  ASSERT_LT(missing, 64);
  PortDialogChoice choice = dialog.choice();
  choice.port = missing;
  opened.reset();
  ApplyPortSettingsDialog(ctx_, worker_, choice, [&](bool ok) { opened = ok; });
  WaitIdle();
  ASSERT_TRUE(opened);
  EXPECT_FALSE(*opened);
  EXPECT_TRUE(std::any_of(messages_.begin(), messages_.end(), [&](const QString& m) {
    return m.startsWith(QString("COM%1 cannot be opened.").arg(missing + 1));
  }));
  EXPECT_EQ(ctx_.state.current_port, -1);
}

}  // namespace
}  // namespace norvane
