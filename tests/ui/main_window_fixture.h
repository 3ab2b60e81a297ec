// The main window tests' fixture: a window on its own settings file, answering its own questions.
#pragma once

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QTest>
#include <algorithm>
#include <filesystem>
#include <functional>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/common/temp_dir.h"
#include "ui/main_window.h"
#include "ui/qt_text.h"

namespace norvane {

using testing::TempDir;

class MainWindowTest : public ::testing::Test {
 protected:
  // A window on its own settings file; `settings` lines go into it first.
  std::unique_ptr<CMainViewerDlg> Open(const std::vector<std::string>& settings = {}, ViewerOptions options = {}) {
    const std::filesystem::path file = dir_ / "settings.reg";
    std::ofstream out(file);
    out << "Windows Registry Editor Version 5.00\r\n\r\n"
        << "[HKEY_CURRENT_USER\\Software\\Norvane Data Viewer\\Settings]\r\n";
    // The test's own folder, unless the test names one.
    if (std::none_of(settings.begin(), settings.end(), [](const std::string& l) { return l.starts_with("\"FileSavePath\""); }))
      out << "\"FileSavePath\"=\"" << (dir_.path().string() + "/") << "\"\r\n";
    for (const std::string& line : settings) out << line << "\r\n";
    out.close();
    options.settings_path = file;
    auto window = std::make_unique<CMainViewerDlg>(std::move(options));
    window->notifier().SetMessageHandler([this](const QString& text, const QString&) { messages_ << text; });
    window->notifier().SetAskHandler([](const QString&, const QString&) { return false; });
    window->show();
    window->Initialise();
    window->worker().WaitIdle();
    return window;
  }
  // A window with `device` in its port list, connected to the counter there.
  std::unique_ptr<CMainViewerDlg> Connected(const std::string& device, const std::vector<std::string>& settings = {},
                                            ViewerOptions options = {}) {
    options.extra_ports = {device};
    auto w = Open(settings, std::move(options));
    auto* ports = qobject_cast<QComboBox*>(w->Control(1169));
    ports->setCurrentIndex(ports->findText(QString::fromStdString(device), Qt::MatchContains));
    w->ConnectSelectedPort();
    EXPECT_TRUE(WaitFor([&] { return !w->worker().busy(); }, 20000));
    return w;
  }

  static QString Text(const CMainViewerDlg& w, int id) {
    QWidget* c = w.Control(id);
    if (auto* label = qobject_cast<QLabel*>(c)) return label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(c)) return PlainCaption(button->text());
    if (auto* list = qobject_cast<QComboBox*>(c)) return list->currentText();
    return {};
  }
  static bool WaitFor(const std::function<bool()>& done, int ms) {
    return QTest::qWaitFor(done, ms);
  }

  TempDir dir_;
  QStringList messages_;
};

}  // namespace norvane
