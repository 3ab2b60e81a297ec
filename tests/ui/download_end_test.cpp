// The end of a download in the window when its data did not reach the chosen file: the data stays
// shown and kept, and a message box says where and how to save it.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QTest>
#include <filesystem>
#include <stdlib.h>

#include "tests/integration/simulated_line.h"
#include "tests/ui/main_window_fixture.h"

namespace norvane {
namespace {

using namespace std::chrono_literals;
using testing::SimulatedLine;

class DownloadEndTest : public MainWindowTest {
 protected:
  // A window connected to `line`, whose download asks for `options` and the file `target`;
  // `settings` lines first (the model list entry the window starts with).
  std::unique_ptr<CMainViewerDlg> Connected(SimulatedLine& line, DownloadOptions options, const std::string& target,
                                            const std::vector<std::string>& settings = {}) {
    ViewerOptions viewer;
    viewer.extra_ports = {line.path()};
    auto w = Open(settings, viewer);
    auto* ports = qobject_cast<QComboBox*>(w->Control(1169));
    ports->setCurrentIndex(ports->findText(QString::fromStdString(line.path()), Qt::MatchContains));
    w->ConnectSelectedPort();
    EXPECT_TRUE(WaitFor([&] { return !w->worker().busy(); }, 10000));
    w->SetOptionsChooser([options](const DownloadOptions&) { return options; });
    w->SetFileChooser([target](const FileRequest&) { return FileAnswer{target, "binary files (*.bin)"}; });
    return w;
  }
  // The message that starts with `start`; other messages (the save's own) may come with it.
  QString MessageStarting(const QString& start) const {
    for (const QString& m : messages_)
      if (m.startsWith(start)) return m;
    return {};
  }
  // Until the download has ended and said `start`.
  bool Ended(CMainViewerDlg& w, const QString& start) {
    return WaitFor([&] { return !w.worker().busy() && !MessageStarting(start).isEmpty(); }, 60000);
  }
};

TEST_F(DownloadEndTest, ADumpThatCannotBeWrittenStaysShownAndIsKeptInTheTemporaryFolder) {
  SimulatedLine line("ZQT-100");
  ASSERT_TRUE(line.ok());
  // The folder takes files, but the dump's own name is taken by a folder.
  std::filesystem::create_directory(dir_ / "download.bin");
  std::filesystem::create_directory(dir_ / "tmp");
  const char* saved_tmpdir = std::getenv("TMPDIR");
  const std::string tmpdir_before = saved_tmpdir ? saved_tmpdir : "";
  ::setenv("TMPDIR", (dir_ / "tmp").c_str(), 1);
  auto w = Connected(line, {1, 100}, (dir_ / "download").string(), {"\"nLastGeigerCounterSelected\"=dword:00000004"});
  w->StartDownload();
  const bool ended = Ended(*w, "The history data could not be saved");
  if (saved_tmpdir)
    ::setenv("TMPDIR", tmpdir_before.c_str(), 1);
  else
    ::unsetenv("TMPDIR");
  ASSERT_TRUE(ended) << w->StatusLog().toStdString();

  const std::filesystem::path kept = dir_ / "tmp" / "download.unsaved.bin";
  EXPECT_EQ(std::filesystem::file_size(kept), 65536u + 256u);
  const QString told = MessageStarting("The history data could not be saved into " +
                                       QString::fromStdString((dir_ / "download.bin").string()));
  ASSERT_FALSE(told.isEmpty()) << messages_.join("\n").toStdString();
  EXPECT_TRUE(told.contains("kept in " + QString::fromStdString(kept.string()))) << told.toStdString();
  EXPECT_TRUE(told.contains("\"Save History Data As...\""));
  // Still loaded: the chart has its samples and playback can start.
  EXPECT_NE(Text(*w, 1042), "No data loaded.");
  EXPECT_GT(w->context().data.window.sum, 0u);
  EXPECT_TRUE(w->Control(1173)->isEnabled());
}

TEST_F(DownloadEndTest, ADownloadCutShortByALostPortIsShownAndKeptAsPartial) {
  SimulatedLine line("ZQT-400");
  ASSERT_TRUE(line.ok());
  const std::vector<uint8_t> flash = line.flash();
  auto w = Connected(line, {1, 95}, (dir_ / "download").string());
  w->StartDownload();
  ASSERT_TRUE(WaitFor([&] { return w->context().download.address() > 8192; }, 20000));
  line.Unplug();
  ASSERT_TRUE(Ended(*w, "The download ended part-way")) << w->StatusLog().toStdString();

  std::filesystem::path kept;
  for (const auto& entry : std::filesystem::directory_iterator(dir_.path()))
    if (entry.path().filename().string().starts_with("download.partial-")) kept = entry.path();
  ASSERT_FALSE(kept.empty()) << messages_.join("\n").toStdString();
  const uintmax_t bytes = std::filesystem::file_size(kept);
  EXPECT_EQ(kept.filename().string(), "download.partial-" + std::to_string(bytes) + ".bin");
  EXPECT_GT(bytes, 8192u);
  EXPECT_FALSE(MessageStarting(QString("The download ended part-way: %1 of 1048576 bytes arrived. They are shown, "
                                      "and kept in %2.")
                                  .arg(bytes)
                                  .arg(QString::fromStdString(kept.string())))
                   .isEmpty())
      << messages_.join("\n").toStdString();
  // What arrived is what is shown.
  EXPECT_TRUE(std::equal(flash.begin(), flash.begin() + static_cast<std::ptrdiff_t>(bytes),
                         w->context().data.dump.buffer().begin()));
  EXPECT_NE(Text(*w, 1042), "No data loaded.");
}

}  // namespace
}  // namespace norvane
