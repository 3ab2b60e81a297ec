// The "Configuration" dialog against simulated counters: read, edit, write, family rules, files.
#include "ui/config_editor_dialog.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <bit>
#include <cstring>
#include <fstream>
#include <iterator>

#include "core/protocol/model_table.h"
#include "tests/common/temp_dir.h"
#include "tests/integration/simulated_line.h"
#include "ui/app_context.h"
#include "ui/device_worker.h"
#include "ui/qt_notifier.h"

namespace norvane {
namespace {

using F = EditorField;
using testing::SimulatedLine;
using testing::TempDir;

uint32_t Big(const std::vector<uint8_t>& area, size_t at, size_t width) {
  uint32_t v = 0;
  for (size_t i = 0; i < width; ++i) v = (v << 8) | area[at + i];
  return v;
}

float BigFloat(const std::vector<uint8_t>& area, size_t at) { return std::bit_cast<float>(Big(area, at, 4)); }

// A window-side program: context, worker and a notifier that records instead of showing boxes.
// With a simulator it is connected as the main window would have done before opening the editor.
class Rig {
 public:
  explicit Rig(SimulatedLine* line = nullptr)
      : notifier_(&owner_, [](const QString&) {}),
        ctx_(notifier_, dir_ / "settings.reg", line ? std::vector<std::string>{line->path()} : std::vector<std::string>{},
             AppHooks{}) {
    notifier_.SetMessageHandler([this](const QString& text, const QString&) { messages.push_back(text); });
    notifier_.SetAskHandler([](const QString&, const QString&) { return false; });
    if (!line) return;
    const int model = ModelListIndex(line->list_entry());
    const int port = ctx_.ports.NumberOf(line->path());
    worker_.Run([this, model, port] {
      ctx_.session.SelectModelFromList(model);
      ctx_.session.ConnectAndIdentify(port);
    });
    connected = QTest::qWaitFor([this] { return !worker_.busy(); }, 10000) && ctx_.state.port_open;
  }

  ConfigEditorDialog& Open() {
    dialog_ = std::make_unique<ConfigEditorDialog>(ctx_, worker_, notifier_, nullptr);
    return *dialog_;
  }
  bool Settle(int ms) {
    return QTest::qWaitFor([this] { return !dialog_->busy(); }, ms);
  }

  TempDir dir_;
  QWidget owner_;
  QtNotifier notifier_;
  AppContext ctx_;
  DeviceWorker worker_;
  std::unique_ptr<ConfigEditorDialog> dialog_;
  QStringList messages;
  bool connected = false;
};

TEST(ConfigEditorDialogTest, Family8ReadEditAndWriteReachTheCounter) {
  SimulatedLine line("ZQT-400");
  ASSERT_TRUE(line.ok());
  Rig rig(&line);
  ASSERT_TRUE(rig.connected);
  ASSERT_EQ(rig.ctx_.state.family.load(), 8);
  ConfigEditorDialog& dialog = rig.Open();
  EXPECT_EQ(dialog.windowTitle(), "Configuration");
  EXPECT_EQ(dialog.swivel_label()->text(), "Swivel");
  EXPECT_TRUE(dialog.box(F::kSsid)->isEnabled());
  EXPECT_TRUE(dialog.box(F::kHighCpm)->isEnabled());
  EXPECT_TRUE(dialog.box(F::kUsvAlarm)->isEnabled());
  EXPECT_FALSE(dialog.write_button()->isEnabled()) << "nothing read yet: an erased block must not be written";
  EXPECT_FALSE(dialog.progress_bar()->isVisibleTo(&dialog));

  QTest::mouseClick(dialog.read_button(), Qt::LeftButton);
  EXPECT_TRUE(dialog.busy());
  EXPECT_FALSE(dialog.read_button()->isEnabled());
  EXPECT_FALSE(dialog.reset_button()->isEnabled());
  ASSERT_TRUE(rig.Settle(15000));
  EXPECT_TRUE(rig.messages.isEmpty()) << rig.messages.join("|").toStdString();

  const std::vector<uint8_t> before = line.config();
  EXPECT_EQ(dialog.box(F::kCal1Cpm)->text().toUInt(), Big(before, 379, 4));
  EXPECT_EQ(dialog.box(F::kCal2Usv)->text(), QString::asprintf("%.2f", BigFloat(before, 407)));
  EXPECT_EQ(dialog.box(F::kCpmAlarm)->text().toUInt(), Big(before, 434, 4));
  EXPECT_EQ(dialog.box(F::kMediumCpm)->text().toUInt(), Big(before, 340, 2));
  EXPECT_EQ(dialog.box(F::kDeadTime2)->text(), "0") << "0xFFFF stands for no value";
  EXPECT_EQ(dialog.box(F::kPeriod)->text().toUInt(), before[325]);
  EXPECT_EQ(dialog.progress_text()->text(), "Read CFG completed...100%");
  EXPECT_TRUE(dialog.log_box()->toPlainText().contains("Main calibration 1,2,3 have been updated."));
  EXPECT_EQ(rig.ctx_.data.conversion[0].cpm, Big(before, 379, 4)) << "the application's table follows the counter";
  EXPECT_EQ(rig.ctx_.data.conversion[1].usv, static_cast<double>(BigFloat(before, 407)));
  ASSERT_TRUE(dialog.write_button()->isEnabled());

  dialog.box(F::kSsid)->setText("HomeNet");
  dialog.box(F::kCal2Cpm)->setText("4321");
  dialog.box(F::kCal2Usv)->setText("2.5");
  // The counter acknowledges each byte within 2 ms; a loaded machine can starve the simulator
  // past that six times running, and the dialog then asks to try again, as a user would.
  const QStringList failed{"Write CFG Failed.\r\nPlease Try Again."};
  for (int attempt = 0; attempt < 3; ++attempt) {
    rig.messages.clear();
    QTest::mouseClick(dialog.write_button(), Qt::LeftButton);
    EXPECT_TRUE(dialog.busy());
    EXPECT_FALSE(dialog.write_button()->isEnabled());
    EXPECT_FALSE(dialog.save_button()->isEnabled());
    // The window keeps running while the bytes go out: progress arrives before the write ends.
    EXPECT_TRUE(QTest::qWaitFor([&] { return dialog.progress_text()->text().startsWith("Updating CFG"); }, 10000));
    ASSERT_TRUE(rig.Settle(90000));
    if (rig.messages != failed) break;
  }
  EXPECT_EQ(rig.messages, QStringList{"Write To Device Successful"});
  EXPECT_FALSE(dialog.progress_bar()->isVisibleTo(&dialog));
  EXPECT_TRUE(dialog.write_button()->isEnabled());

  const std::vector<uint8_t> after = line.config();
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&after[69])), "HomeNet");
  EXPECT_EQ(Big(after, 383, 4), 4321u);
  EXPECT_EQ(BigFloat(after, 407), 2.5f);
  EXPECT_EQ(Big(after, 14, 2), 4321u) << "point 2 also in the legacy place";
  EXPECT_EQ(Big(after, 379, 4), Big(before, 379, 4)) << "untouched points stay";
  EXPECT_EQ(Big(after, 434, 4), Big(before, 434, 4));
  EXPECT_EQ(line.FramesOf(sim::CommandKind::kUpdateConfig).size(), 1u);

  QTest::mouseClick(dialog.exit_button(), Qt::LeftButton);
  ASSERT_TRUE(rig.Settle(5000));
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

TEST(ConfigEditorDialogTest, Family7ShowsVibrateAndItsOwnBytes) {
  SimulatedLine line("ZQT-600");
  ASSERT_TRUE(line.ok());
  Rig rig(&line);
  ASSERT_TRUE(rig.connected);
  ASSERT_EQ(rig.ctx_.state.family.load(), 7);
  ConfigEditorDialog& dialog = rig.Open();
  EXPECT_EQ(dialog.swivel_label()->text(), "Vibrate");
  EXPECT_FALSE(dialog.box(F::kUsvAlarm)->isEnabled());
  EXPECT_FALSE(dialog.box(F::kSsid)->isEnabled());
  EXPECT_FALSE(dialog.box(F::kDeadTime1)->isEnabled());
  EXPECT_TRUE(dialog.box(F::kCal6Cpm)->isEnabled());

  dialog.ReadFromDevice();
  // Exit in the middle of a read waits for it, then gives the port back and closes.
  dialog.Exit();
  EXPECT_TRUE(dialog.busy());
  EXPECT_NE(dialog.result(), QDialog::Accepted);
  ASSERT_TRUE(rig.Settle(15000));
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  const std::vector<uint8_t> area = line.config();
  // The "Backlight" and "Swivel" boxes show bytes 53 and 123 here, not 4 and 33.
  ASSERT_NE(area[53], area[4]);
  EXPECT_EQ(dialog.box(F::kBacklightLevel)->text().toUInt(), area[53]);
  EXPECT_EQ(dialog.box(F::kVibrate)->text().toUInt(), area[123]);
  EXPECT_EQ(dialog.box(F::kSpeaker)->text().toUInt(), area[121]);
  EXPECT_EQ(dialog.box(F::kCpmAlarm)->text().toUInt(), Big(area, 125, 4));
  EXPECT_EQ(dialog.box(F::kCal4Cpm)->text().toUInt(), Big(area, 85, 4));
  EXPECT_EQ(dialog.box(F::kBacklight), nullptr);
}

TEST(ConfigEditorDialogTest, SaveAndLoadFilesWithoutADevice) {
  Rig rig;
  ConfigEditorDialog& dialog = rig.Open();
  const int family = dialog.family();
  ASSERT_LT(family, 5) << "no counter: the default model";
  EXPECT_TRUE(dialog.box(F::kCpmAlarm)->text().isEmpty());
  EXPECT_FALSE(dialog.box(F::kSsid)->isEnabled());

  std::optional<ConfigFileChoice> answer;
  std::vector<ConfigFileAction> asked;
  dialog.SetFileChooser([&](ConfigFileAction action) {
    asked.push_back(action);
    return answer;
  });
  dialog.box(F::kCpmAlarm)->setText("150");
  dialog.box(F::kCal1Cpm)->setText("300");
  dialog.box(F::kCal1Usv)->setText("1.95");
  dialog.box(F::kUsvAlarm)->setText("0.5");

  answer = ConfigFileChoice{rig.dir_ / "cfg", "csv files (*.csv)"};
  dialog.SaveToFile();
  answer = ConfigFileChoice{rig.dir_ / "cfg.bin.bin", "binary files (*.bin)"};
  dialog.SaveToFile();
  EXPECT_EQ(rig.messages, (QStringList{"Configuration Saved.", "Configuration Saved."}));
  ASSERT_TRUE(std::filesystem::exists(rig.dir_ / "cfg.csv"));
  ASSERT_EQ(std::filesystem::file_size(rig.dir_ / "cfg.bin"), 512u);

  answer.reset();
  dialog.LoadFromFile();  // cancelled: nothing changes
  EXPECT_FALSE(dialog.write_button()->isEnabled());

  for (const char* name : {"cfg.csv", "cfg.bin"}) {
    for (F f : {F::kCpmAlarm, F::kCal1Cpm, F::kCal1Usv, F::kUsvAlarm}) dialog.box(f)->setText("7");
    answer = ConfigFileChoice{rig.dir_ / name, ""};
    dialog.LoadFromFile();
    EXPECT_EQ(dialog.box(F::kCpmAlarm)->text(), "150") << name;
    EXPECT_EQ(dialog.box(F::kCal1Cpm)->text(), "300") << name;
    EXPECT_EQ(dialog.box(F::kCal1Usv)->text(), "1.95") << name;
    EXPECT_EQ(dialog.box(F::kUsvAlarm)->text(), "0.50") << name;
  }
  EXPECT_EQ(rig.ctx_.data.conversion[0].cpm, 300u);
  EXPECT_EQ(rig.ctx_.data.conversion[0].usv, static_cast<double>(1.95f));
  EXPECT_EQ(dialog.log_box()->toPlainText().count("Main calibration 1,2,3 have been updated."), 2);
  EXPECT_TRUE(dialog.write_button()->isEnabled()) << "a loaded block may be written";
  EXPECT_EQ(asked.size(), 5u);

  answer = ConfigFileChoice{rig.dir_ / "missing.csv", ""};
  dialog.LoadFromFile();
  EXPECT_EQ(rig.messages.back(), "Failed to open the file.");
  EXPECT_EQ(dialog.box(F::kCpmAlarm)->text(), "150");

  // Without a device nothing holds the port: Exit closes at once.
  dialog.Exit();
  EXPECT_FALSE(dialog.busy());
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

}  // namespace
}  // namespace norvane
