// The Publishing page against a real Mosquitto broker that wants a password.
#include "ui/publishing_dialog.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/i18n/language_dictionary.h"
#include "core/settings/settings_store.h"
#include "tests/common/temp_dir.h"
#include "tests/core/publish/mosquitto_broker.h"

namespace norvane {
namespace {

std::string Slurp(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Presses Test and waits for its answer.
QString Tried(PublishingDialog& dialog) {
  dialog.test_button()->click();
  EXPECT_TRUE(QTest::qWaitFor([&] { return dialog.test_button()->isEnabled(); }, 20000));
  return dialog.result_label()->text();
}

// The examples in the empty fields are their help, so none may be cut off.
TEST(PublishingDialogTest, EveryEmptyFieldShowsItsExampleWhole) {
  const LanguageDictionary texts;
  testing::TempDir dir;
  SettingsStore store(dir / "settings.reg");
  PublishingDialog dialog(store, dir / "mqtt-password", texts);
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  for (QLineEdit* edit : dialog.findChildren<QLineEdit*>()) {
    if (edit->placeholderText().isEmpty()) continue;
    // The line edit's own frame and its 2-pixel margins on each side.
    const int room = edit->contentsRect().width() - 2 * edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth) - 4;
    EXPECT_GE(room, edit->fontMetrics().horizontalAdvance(edit->placeholderText())) << edit->placeholderText().toStdString();
  }
}

TEST(PublishingDialogTest, TestSaysWhatTheBrokerAnsweredAndThePasswordIsKeptPrivateAndNeverShown) {
  const LanguageDictionary texts;
  testing::TempDir dir;
  testing::MosquittoBroker broker(dir / "broker", {"meter:s3cret"});
  if (!broker.available()) GTEST_SKIP() << "mosquitto is not installed";
  ASSERT_TRUE(broker.Start());
  const std::filesystem::path settings = dir / "settings.reg";
  const std::filesystem::path password_file = dir / "config" / "mqtt-password";
  const QString address = QString("mqtt://127.0.0.1:%1/station").arg(broker.port());
  {
    SettingsStore store(settings);
    PublishingDialog dialog(store, password_file, texts);
    dialog.address_edit()->setText(address);
    dialog.user_edit()->setText("meter");
    dialog.password_edit()->setText("wrong");
    EXPECT_TRUE(Tried(dialog).contains("refused")) << Tried(dialog).toStdString();
    dialog.password_edit()->setText("s3cret");
    EXPECT_TRUE(Tried(dialog).startsWith("Connected")) << Tried(dialog).toStdString();
    dialog.metrics_edit()->setText("127.0.0.1:9101");
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
  }
  const std::string stored = Slurp(settings);
  EXPECT_NE(stored.find("\"MqttUrl\"=\"mqtt://meter@127.0.0.1:" + std::to_string(broker.port()) + "/station\""),
            std::string::npos) << stored;
  EXPECT_NE(stored.find("\"MetricsAddress\"=\"127.0.0.1:9101\""), std::string::npos);
  EXPECT_EQ(stored.find("s3cret"), std::string::npos);
  EXPECT_EQ(Slurp(password_file), "s3cret\n");
  EXPECT_EQ(std::filesystem::status(password_file).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);

  // Opened again: the address as it was, the password not shown yet still the one a test uses.
  SettingsStore store(settings);
  PublishingDialog again(store, password_file, texts);
  EXPECT_EQ(again.address_edit()->text(), address);
  EXPECT_EQ(again.user_edit()->text(), "meter");
  EXPECT_TRUE(again.password_edit()->text().isEmpty());
  EXPECT_TRUE(Tried(again).startsWith("Connected"));
  broker.Stop();
  EXPECT_TRUE(Tried(again).startsWith("Nothing answers")) << again.result_label()->text().toStdString();
}

}  // namespace
}  // namespace norvane
