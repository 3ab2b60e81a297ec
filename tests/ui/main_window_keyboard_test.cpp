// The main window by keyboard: Escape, mnemonics, shortcuts, and lists that let go of the keys.
#include "tests/ui/main_window_fixture.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <set>

namespace norvane {
namespace {

// The letter after the caption's '&', lower case; a null character when it has none.
QChar MnemonicOf(const QString& text) {
  const qsizetype at = text.indexOf('&');
  return at >= 0 && at + 1 < text.size() ? text[at + 1].toLower() : QChar();
}

// Every entry of a menu and of its submenus has a mnemonic, none twice in one menu.
void ExpectMnemonics(const QMenu* menu) {
  std::set<QChar> taken;
  for (const QAction* action : menu->actions()) {
    if (action->isSeparator()) continue;
    const QChar key = MnemonicOf(action->text());
    EXPECT_FALSE(key.isNull()) << action->text().toStdString();
    EXPECT_TRUE(taken.insert(key).second) << action->text().toStdString();
    if (action->menu()) ExpectMnemonics(action->menu());
  }
}

TEST_F(MainWindowTest, TheKeyboardReachesEverythingAndEscapeNeverQuits) {
  auto w = Open();
  w->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));

  QTest::keyClick(w.get(), Qt::Key_Escape);
  QApplication::processEvents();
  EXPECT_TRUE(w->isVisible());

  // The menu bar's menus and the window's buttons share the Alt keys: each one once.
  std::set<QChar> alt_keys;
  for (const QAction* menu : w->findChild<QMenuBar*>()->actions()) {
    EXPECT_TRUE(alt_keys.insert(MnemonicOf(menu->text())).second) << menu->text().toStdString();
    ExpectMnemonics(menu->menu());
  }
  for (const QAbstractButton* button : w->client()->findChildren<QAbstractButton*>()) {
    if (button->text().isEmpty()) continue;  // a picture, not a caption
    const QChar key = MnemonicOf(button->text());
    EXPECT_FALSE(key.isNull()) << button->text().toStdString();
    EXPECT_TRUE(alt_keys.insert(key).second) << button->text().toStdString();
  }

  // Ctrl+D asks for the download's options, Ctrl+O for the file to load.
  int option_questions = 0;
  QStringList file_questions;
  w->SetOptionsChooser([&](const DownloadOptions&) {
    ++option_questions;
    return std::nullopt;
  });
  w->SetFileChooser([&](const FileRequest& request) {
    file_questions << request.caption;
    return std::nullopt;
  });
  QTest::keyClick(w.get(), Qt::Key_D, Qt::ControlModifier);
  QTest::keyClick(w.get(), Qt::Key_O, Qt::ControlModifier);
  EXPECT_EQ(option_questions, 1);
  EXPECT_EQ(file_questions, QStringList{"Load Data"});

  // A choice made in a list by keyboard is the last one it takes: the next arrow key scrolls.
  auto* zoom = qobject_cast<QComboBox*>(w->Control(1036));
  zoom->setFocus();
  const int before = zoom->currentIndex();
  QTest::keyClick(zoom, Qt::Key_Up);
  const int chosen = zoom->currentIndex();
  EXPECT_NE(chosen, before);
  EXPECT_EQ(QApplication::focusWidget(), w->Control(2000));
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Up);
  EXPECT_EQ(zoom->currentIndex(), chosen);
}

}  // namespace
}  // namespace norvane
