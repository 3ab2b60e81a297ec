// The main window's device tools and texts: screenshots through the File menu, the radon refusal
// of the configuration editor, and a language file changing the window's captions.
#include <QAction>
#include <QImage>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>

#include "tests/integration/simulated_line.h"
#include "tests/ui/main_window_fixture.h"

namespace norvane {
namespace {

using testing::SimulatedLine;

TEST_F(MainWindowTest, TheScreenshotMenuSavesTheCountersScreenAsABitmap) {
  SimulatedLine line("ZQT-400");
  ASSERT_TRUE(line.ok());
  ViewerOptions options;
  options.extra_ports = {line.path()};
  auto w = Open({}, options);
  auto* ports = qobject_cast<QComboBox*>(w->Control(1169));
  ports->setCurrentIndex(ports->findText(QString::fromStdString(line.path()), Qt::MatchContains));
  w->ConnectSelectedPort();
  ASSERT_TRUE(WaitFor([&] { return !w->worker().busy(); }, 10000));

  QString offered;
  const std::string target = (dir_ / "screen").string();
  w->SetFileChooser([&](const FileRequest& r) -> std::optional<FileAnswer> {
    offered = r.default_name;
    return FileAnswer{target, "bmp files (*.bmp)"};
  });
  w->Command(32801)->trigger();
  ASSERT_TRUE(WaitFor([&] { return messages_.contains("Screenshot Saved.") && !w->worker().busy(); }, 15000))
      << messages_.join("|").toStdString();
  EXPECT_TRUE(offered.contains("zqtscreenshot1_")) << offered.toStdString();
  EXPECT_EQ(std::filesystem::file_size(target + ".bmp"), 393270u);

  // Any viewer shows the counter's screen the right way up: each screen pixel is the 4 x 4
  // block at the same place in the picture, the top row at the top.
  const QImage picture(QString::fromStdString(target + ".bmp"));
  ASSERT_EQ(picture.size(), QSize(512, 256));
  const auto screen = line.transport().Inspect([](sim::SimulatedCounter& c) { return c.screenshots()[0].image; });
  int lit = 0;
  for (int y = 0; y < 64; ++y) {
    for (int x = 0; x < 128; ++x) {
      const bool on = (screen[static_cast<size_t>(x + 128 * (y / 8))] >> (y % 8)) & 1;
      lit += on;
      ASSERT_EQ(qGray(picture.pixel(4 * x + 1, 4 * y + 2)) > 128, on) << x << "," << y;
    }
  }
  EXPECT_GT(lit, 0);
}

TEST_F(MainWindowTest, TheConfigurationEditorRefusesARadonMonitor) {
  auto w = Open({"\"nLastGeigerCounterSelected\"=dword:0000000d"});  // RadonMax
  ASSERT_NE(w->context().state.model_text.find("Radon"), std::string::npos);
  w->Command(32798)->trigger();
  EXPECT_EQ(messages_, QStringList{"This feature is not available on this model."});
  EXPECT_FALSE(w->worker().busy());
}

TEST_F(MainWindowTest, ALanguageFileRenamesTheMenusAndCanHideTheBanner) {
  auto w = Open();
  QMenuBar* bar = w->findChild<QMenuBar*>();
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(PlainCaption(bar->actions()[0]->text()), "File");  // entry 86 of the built-in English

  const std::filesystem::path dic = dir_ / "test.dic.txt";
  std::ofstream out(dic, std::ios::binary);
  out << "; a test dictionary\r\nLanguageName=Testish\r\nLanguageDisplayMode=0\r\nLanguageIndex=2\r\n";
  for (int n = 0; n <= 90; ++n) {
    const std::string text = n == 86 ? "Fichier" : n == 39 ? "Reglages" : n == 24 ? "Crete" : "T" + std::to_string(n);
    char line[64];
    std::snprintf(line, sizeof line, "%04d=\"%s\",\r\n", n, text.c_str());
    out << line;
  }
  out.close();
  w->SetFileChooser([&](const FileRequest& r) -> std::optional<FileAnswer> {
    EXPECT_EQ(r.kind, FileRequest::Kind::kOpen);
    return FileAnswer{dic.string(), ""};
  });
  w->Command(CMainViewerDlg::kLanguageCommand)->trigger();
  EXPECT_EQ(PlainCaption(bar->actions()[0]->text()), "Fichier");
  EXPECT_EQ(PlainCaption(bar->actions()[1]->text()), "Reglages");
  EXPECT_EQ(PlainCaption(qobject_cast<QRadioButton*>(w->Control(1030))->text()), "Crete");
  EXPECT_FALSE(w->Control(1039)->isVisible());  // display mode "0" hides the banner
  EXPECT_EQ(w->context().settings.language_file, std::filesystem::absolute(dic).string());

  // The next start reads the same file again.
  w->SetCloseQuestion([](const QString&) { return CloseAnswer::kNo; });
  w->close();
  auto again = std::make_unique<CMainViewerDlg>(ViewerOptions{dir_ / "settings.reg", {}, {}});
  again->show();
  again->Initialise();
  EXPECT_EQ(PlainCaption(again->findChild<QMenuBar*>()->actions()[0]->text()), "Fichier");
  again->close();
}

}  // namespace
}  // namespace norvane
