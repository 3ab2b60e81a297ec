// The terminal dialog against a simulated counter: frames sent, bytes shown, refusals, box rules.
#include "ui/terminal_dialog.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <string>
#include <vector>

#include "core/protocol/model_table.h"
#include "tests/integration/simulated_line.h"
#include "ui/app_context.h"
#include "ui/device_worker.h"
#include "ui/qt_notifier.h"

namespace norvane {
namespace {

using sim::CommandKind;

constexpr int kWaitMs = 10000;

std::vector<uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

// The program as the main window leaves it when it opens the terminal: connected and identified.
class TerminalDialogTest : public ::testing::Test {
 protected:
  TerminalDialogTest()
      : notifier_(&owner_, [](const QString&) {}),
        ctx_(notifier_, std::filesystem::path(dir_.path().toStdString()) / "settings.reg",
             line_.ok() ? std::vector<std::string>{line_.path()} : std::vector<std::string>{}, AppHooks{}) {
    notifier_.SetMessageHandler([this](const QString& text, const QString&) { messages_.push_back(text); });
    notifier_.SetAskHandler([](const QString&, const QString&) { return false; });
  }

  void ConnectProgram() {
    ASSERT_TRUE(line_.ok());
    const int port = ctx_.ports.NumberOf(line_.path());
    worker_.Run([this, port] {
      ctx_.session.SelectModelFromList(ModelListIndex("ZQT-400"));
      ctx_.session.ConnectAndIdentify(port);
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return !worker_.busy(); }, kWaitMs));
    ASSERT_TRUE(ctx_.link.IsOpen());
  }

  std::unique_ptr<TerminalDialog> OpenDialog() {
    auto dialog = std::make_unique<TerminalDialog>(ctx_, worker_, notifier_, &owner_);
    dialog->show();
    EXPECT_TRUE(QTest::qWaitFor([&] { return dialog->connected(); }, kWaitMs));
    line_.Forget();
    return dialog;
  }

  void Close(TerminalDialog& dialog) {
    dialog.Exit();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !worker_.busy(); }, kWaitMs));
  }

  QTemporaryDir dir_;
  testing::SimulatedLine line_{"ZQT-400"};
  QWidget owner_;
  QtNotifier notifier_;
  AppContext ctx_;
  DeviceWorker worker_;
  std::vector<QString> messages_;
};

TEST_F(TerminalDialogTest, SendsTheTypedFrameAndShowsEveryByteBack) {
  ConnectProgram();
  auto dialog = OpenDialog();
  EXPECT_EQ(dialog->windowTitle(), "Norvane Terminal");
  EXPECT_TRUE(dialog->port_field()->text().startsWith(QString("COM%1,").arg(ctx_.ports.NumberOf(line_.path()))))
      << dialog->port_field()->text().toStdString();

  dialog->command_box()->setCurrentText("GETVER");
  dialog->Send();
  EXPECT_EQ(dialog->last_command_field()->text(), "3C 47 45 54 56 45 52 3E 3E ");
  // The reply is the version text padded with zeros to 20 bytes.
  ASSERT_TRUE(QTest::qWaitFor([&] { return dialog->hex_box()->toPlainText().size() == 60; }, kWaitMs))
      << dialog->hex_box()->toPlainText().toStdString();
  EXPECT_EQ(dialog->hex_box()->toPlainText(), "5A 51 54 2D 34 30 30 52 65 20 34 2E 32 31 00 00 00 00 00 00 ");
  EXPECT_EQ(dialog->text_box()->toPlainText(), "ZQT-400Re 4.21") << "zero bytes have no character to show";
  EXPECT_EQ(line_.FramesOf(CommandKind::kGetVersion).size(), 1u);

  // A second reply is added after the first, not in place of it.
  ASSERT_TRUE(QTest::qWaitFor([&] { return dialog->send_button()->isEnabled(); }, kWaitMs));
  dialog->Send();
  ASSERT_TRUE(QTest::qWaitFor([&] { return dialog->hex_box()->toPlainText().size() == 120; }, kWaitMs));
  EXPECT_EQ(dialog->text_box()->toPlainText(), "ZQT-400Re 4.21ZQT-400Re 4.21");

  dialog->ClearHex();
  EXPECT_TRUE(dialog->hex_box()->toPlainText().isEmpty());
  EXPECT_FALSE(dialog->text_box()->toPlainText().isEmpty()) << "each Clear empties only its own box";
  dialog->ClearText();
  EXPECT_TRUE(dialog->text_box()->toPlainText().isEmpty());
  EXPECT_TRUE(messages_.empty());

  Close(*dialog);
  EXPECT_FALSE(dialog->isVisible());
}

TEST_F(TerminalDialogTest, RefusedParametersSendNothing) {
  ConnectProgram();
  auto dialog = OpenDialog();
  dialog->command_box()->setCurrentText("SPIR");
  ASSERT_TRUE(dialog->parameter_box()->isEnabled());

  dialog->parameter_box()->setText("00AE");
  dialog->Send();
  dialog->parameter_box()->setText("a");
  dialog->Send();
  ASSERT_EQ(messages_.size(), 2u);
  EXPECT_EQ(messages_[0], "Parameter error, space needed in between.");
  EXPECT_EQ(messages_[1], "Parameter error!");
  EXPECT_TRUE(dialog->last_command_field()->text().isEmpty());

  dialog->parameter_box()->setText("00 00 00 00 FF");
  dialog->Send();
  EXPECT_EQ(dialog->last_command_field()->text(), "3C 53 50 49 52 00 00 00 00 FF 3E 3E ");
  ASSERT_TRUE(QTest::qWaitFor([&] { return !worker_.busy(); }, kWaitMs));
  ASSERT_TRUE(QTest::qWaitFor([&] { return !line_.FramesOf(CommandKind::kReadFlash).empty(); }, kWaitMs));
  const std::vector<testing::SeenFrame> frames = line_.Frames();
  ASSERT_EQ(frames.size(), 1u) << "the refused texts never reached the line";
  EXPECT_EQ(frames[0].arguments, (std::vector<uint8_t>{0, 0, 0, 0, 0xFF}));

  // Text parameters go out as typed, less trailing spaces.
  line_.Forget();
  dialog->command_box()->setCurrentText("ZZ");
  dialog->text_parameters_box()->setChecked(true);
  dialog->parameter_box()->setText("AB C  ");
  dialog->Send();
  EXPECT_EQ(dialog->last_command_field()->text(), "3C 5A 5A 41 42 20 43 3E 3E ");
  ASSERT_TRUE(QTest::qWaitFor([&] { return !line_.FramesOf(CommandKind::kUnknown).empty(); }, kWaitMs));
  EXPECT_EQ(line_.FramesOf(CommandKind::kUnknown)[0].arguments, Bytes("ZZAB C"));
  EXPECT_EQ(messages_.size(), 2u);
  Close(*dialog);
}

TEST_F(TerminalDialogTest, KeyButtonsSendTheirKeyWithoutTheGreyedOutParameters) {
  ConnectProgram();
  auto dialog = OpenDialog();
  dialog->command_box()->setCurrentText("SETDATETIME");
  ASSERT_EQ(dialog->parameter_box()->text(), "0D 0B 12 05 04 03");

  QTest::mouseClick(dialog->key_button(2), Qt::LeftButton);
  EXPECT_EQ(dialog->command_box()->currentText(), "KEY1");
  EXPECT_FALSE(dialog->parameter_box()->isEnabled());
  EXPECT_EQ(dialog->parameter_box()->text(), "0D 0B 12 05 04 03") << "a greyed-out box keeps its text";
  EXPECT_EQ(dialog->last_command_field()->text(), "3C 4B 45 59 31 3E 3E ");
  ASSERT_TRUE(QTest::qWaitFor([&] { return !line_.FramesOf(CommandKind::kKey).empty(); }, kWaitMs));
  EXPECT_EQ(line_.FramesOf(CommandKind::kKey)[0].index, 1);
  EXPECT_TRUE(line_.FramesOf(CommandKind::kSetDateTime).empty());
  Close(*dialog);
}

TEST_F(TerminalDialogTest, ButtonsWaitWhileTheConsoleConnects) {
  ConnectProgram();
  TerminalDialog dialog(ctx_, worker_, notifier_, &owner_);
  dialog.show();
  EXPECT_FALSE(dialog.send_button()->isEnabled());
  EXPECT_FALSE(dialog.reconnect_button()->isEnabled());
  dialog.Send();
  ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.connected(); }, kWaitMs));
  EXPECT_TRUE(dialog.send_button()->isEnabled());
  EXPECT_TRUE(dialog.last_command_field()->text().isEmpty()) << "nothing is sent before the console is ready";

  line_.Forget();
  dialog.Reconnect();
  EXPECT_FALSE(dialog.key_button(1)->isEnabled());
  ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.send_button()->isEnabled(); }, kWaitMs));
  EXPECT_FALSE(line_.FramesOf(CommandKind::kGetVersion).empty()) << "Reconnect identifies the counter again";
  dialog.command_box()->setCurrentText("GETVER");
  dialog.Send();
  EXPECT_TRUE(QTest::qWaitFor([&] { return dialog.text_box()->toPlainText() == "ZQT-400Re 4.21"; }, kWaitMs))
      << "the receiving task runs again after Reconnect";
  Close(dialog);
}

TEST_F(TerminalDialogTest, AFullReceiveBoxStartsOverAtTheByteThatPassesHalfItsLimit) {
  ConnectProgram();
  auto dialog = OpenDialog();
  const std::vector<uint8_t> flash = line_.flash();
  constexpr size_t kRead = 0xC000;
  ASSERT_GE(flash.size(), kRead);
  dialog->command_box()->setCurrentText("SPIR");
  dialog->parameter_box()->setText("00 00 00 C0 00");
  dialog->Send();
  dialog->Send();
  ASSERT_TRUE(QTest::qWaitFor([&] { return dialog->send_button()->isEnabled(); }, kWaitMs));
  dialog->Send();

  // Three characters a byte: the box passes 524287 / 2 after 87382 bytes, and the next byte
  // starts it afresh. The second read's tail is all that is left.
  constexpr size_t kKept = 87382 - kRead;
  const QString expected = QString::fromStdString(
      HexEcho(std::span<const uint8_t>(flash).subspan(kKept, kRead - kKept)));
  ASSERT_TRUE(QTest::qWaitFor([&] { return dialog->hex_box()->toPlainText() == expected; }, 30000))
      << dialog->hex_box()->toPlainText().size();
  Close(*dialog);
}

// The box rules need no counter: the dialog is never shown here.
TEST_F(TerminalDialogTest, ParameterBoxFollowsTheCommandText) {
  TerminalDialog dialog(ctx_, worker_, notifier_, &owner_);
  QComboBox* command = dialog.command_box();
  QLineEdit* parameters = dialog.parameter_box();
  EXPECT_EQ(command->count(), 24);
  EXPECT_EQ(command->itemText(0), "GETVER");
  EXPECT_EQ(command->itemText(23), "FACTORYRESET");
  EXPECT_FALSE(parameters->isEnabled()) << "GETVER, the first entry, takes no parameters";

  command->setCurrentText("SPIR");
  EXPECT_TRUE(parameters->isEnabled());
  EXPECT_EQ(parameters->text(), "00 00 00 00 FF");
  command->setCurrentIndex(command->findText("GETCPM"));
  EXPECT_FALSE(parameters->isEnabled());
  EXPECT_EQ(parameters->text(), "00 00 00 00 FF");

  // Typed letter by letter: the partial words empty the box, the whole word fills it.
  command->setCurrentText("");
  for (QString typed : {"W", "WC", "WCF"}) {
    command->setCurrentText(typed);
    EXPECT_TRUE(parameters->isEnabled());
    EXPECT_TRUE(parameters->text().isEmpty()) << typed.toStdString();
  }
  command->setCurrentText("WCFG");
  EXPECT_EQ(parameters->text(), "01 01");
  command->setCurrentIndex(command->findText("SETDATETIME"));
  EXPECT_EQ(parameters->text(), "0D 0B 12 05 04 03");
  command->setCurrentText("getver");
  EXPECT_TRUE(parameters->isEnabled()) << "command words are matched case-sensitively";
  EXPECT_TRUE(parameters->text().isEmpty());
}

}  // namespace
}  // namespace norvane
