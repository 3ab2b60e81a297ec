// The download's options dialog and its progress window: speed text, options, title pacing, Cancel.
#include "ui/download_dialogs.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>
#include <chrono>
#include <thread>

#include "core/history/download_new.h"
#include "tests/integration/simulated_line.h"
#include "tests/ui/main_window_fixture.h"

namespace norvane {
namespace {

using namespace std::chrono_literals;

QString Title(int percent) { return QString("%1 (%2%)").arg(kDownloadProgressCaption).arg(percent); }

TEST(DownloadOptionsDialogTest, DownloadNewIsChosenAtFirstOnlyWhenTheLastDownloadIsKeptAndExcludesTheOthers) {
  const LanguageDictionary texts;
  DownloadOptions asked{0, 100};
  asked.only_new = true;
  DownloadOptionsDialog kept(asked, texts, nullptr, true);
  EXPECT_TRUE(kept.only_new_button()->isEnabled());
  EXPECT_TRUE(kept.only_new_button()->isChecked());
  EXPECT_FALSE(kept.end_of_data_button()->isChecked());
  EXPECT_FALSE(kept.entire_flash_button()->isChecked());
  EXPECT_TRUE(kept.options().only_new);
  kept.entire_flash_button()->click();
  EXPECT_FALSE(kept.only_new_button()->isChecked());
  EXPECT_FALSE(kept.options().only_new) << "the user's choice of a full download was not taken";
  EXPECT_EQ(kept.options().end_mode, 1);
  kept.only_new_button()->click();
  EXPECT_FALSE(kept.entire_flash_button()->isChecked());
  EXPECT_TRUE(kept.options().only_new);

  // With nothing kept there is nothing to continue, whatever the options said.
  DownloadOptionsDialog none(asked, texts);
  EXPECT_FALSE(none.only_new_button()->isEnabled());
  EXPECT_FALSE(none.only_new_button()->isChecked());
  EXPECT_TRUE(none.end_of_data_button()->isChecked());
  EXPECT_FALSE(none.options().only_new);
}

using DownloadNewWindowTest = MainWindowTest;

TEST_F(DownloadNewWindowTest, AfterADownloadTheWindowOffersDownloadNewAndReadsFromTheOldEnd) {
  testing::SimulatedLine line("ZQT-100");
  ASSERT_TRUE(line.ok());
  ViewerOptions viewer;
  viewer.extra_ports = {line.path()};
  viewer.store_path = dir_ / "store.sqlite";
  auto w = Open({}, viewer);
  auto* ports = qobject_cast<QComboBox*>(w->Control(1169));
  ports->setCurrentIndex(ports->findText(QString::fromStdString(line.path()), Qt::MatchContains));
  w->ConnectSelectedPort();
  ASSERT_TRUE(WaitFor([&] { return !w->worker().busy(); }, 20000));

  std::vector<bool> offered;
  w->SetOptionsChooser([&offered](const DownloadOptions& shown) {
    offered.push_back(shown.only_new);
    DownloadOptions chosen = shown;
    chosen.speed = 100;
    return chosen;
  });
  const std::string target = (dir_ / "download").string();
  w->SetFileChooser([target](const FileRequest&) { return FileAnswer{target, "binary files (*.bin)"}; });
  // Until the window has done with what the download brought.
  std::vector<bool> play_while_downloading;
  const auto download = [&](const std::function<bool()>& ended) {
    w->StartDownload();
    play_while_downloading.push_back(w->Control(1173)->isEnabled());
    return WaitFor([&] { return ended() && !w->context().download.running() && !w->worker().busy(); }, 60000);
  };
  ASSERT_TRUE(download([&] { return std::filesystem::exists(target + ".bin"); })) << messages_.join("|").toStdString();
  const auto saved_at = std::filesystem::last_write_time(target + ".bin");

  line.Forget();
  ASSERT_TRUE(download([&] { return !messages_.isEmpty(); }));
  EXPECT_EQ(offered, (std::vector<bool>{false, true}));
  const auto requests = line.FramesOf(sim::CommandKind::kReadFlash);
  ASSERT_FALSE(requests.empty());
  const std::vector<uint8_t> flash = line.flash();
  const uint32_t first = (uint32_t{requests.front().arguments[0]} << 16) |
                         (uint32_t{requests.front().arguments[1]} << 8) | requests.front().arguments[2];
  EXPECT_EQ(first, ResumeAddress(ImageDataEnd(flash)));
  EXPECT_TRUE(messages_.contains(QString::fromUtf8(kNoNewDataText))) << messages_.join("|").toStdString();
  EXPECT_EQ(std::filesystem::last_write_time(target + ".bin"), saved_at);
  // Play waits for each download and comes back with the history it plays.
  EXPECT_EQ(play_while_downloading, (std::vector<bool>{false, false}));
  EXPECT_TRUE(w->Control(1173)->isEnabled());
}

TEST(DownloadOptionsDialogTest, ShowsTheOptionsAndGivesBackTheChoice) {
  const LanguageDictionary texts;
  DownloadOptionsDialog dialog(DownloadOptions{1, 30}, texts);
  EXPECT_EQ(dialog.windowTitle(), "Download Options");
  EXPECT_EQ(dialog.end_of_data_button()->text(), "stop downloading when End Of Data is detected");
  EXPECT_EQ(dialog.entire_flash_button()->text(), "download entire flash memory");
  EXPECT_TRUE(dialog.entire_flash_button()->isChecked());
  EXPECT_EQ(dialog.speed_slider()->minimum(), 0);
  EXPECT_EQ(dialog.speed_slider()->maximum(), 100);
  EXPECT_EQ(dialog.speed_slider()->value(), 30);
  EXPECT_EQ(dialog.speed_label()->text(), "30%");

  dialog.speed_slider()->setValue(75);
  EXPECT_EQ(dialog.speed_label()->text(), "75%");
  EXPECT_EQ(dialog.options().end_mode, 1);
  EXPECT_EQ(dialog.options().speed, 75);

  dialog.end_of_data_button()->click();
  EXPECT_EQ(dialog.options().end_mode, 0);
  dialog.speed_slider()->setValue(0);
  EXPECT_EQ(dialog.speed_label()->text(), "0%");
  EXPECT_EQ(dialog.options().speed, 0);
}

TEST(DownloadOptionsDialogTest, OutOfRangeValuesAreShownSoundly) {
  const LanguageDictionary texts;
  DownloadOptionsDialog fast(DownloadOptions{0, 150}, texts);
  EXPECT_EQ(fast.options().speed, 50);
  EXPECT_EQ(fast.speed_label()->text(), "50%");
  EXPECT_TRUE(fast.end_of_data_button()->isChecked());
  EXPECT_EQ(DownloadOptionsDialog(DownloadOptions{0, -4}, texts).options().speed, 50);
  EXPECT_EQ(DownloadOptionsDialog(DownloadOptions{7, 100}, texts).options().end_mode, 0) << "only 1 takes the whole flash";
}

class DownloadProgressWindowTest : public ::testing::Test {
 protected:
  DownloadProgressWindowTest() : window_(nullptr, [this] { return now_; }) {}

  std::chrono::steady_clock::time_point now_{};
  DownloadProgressWindow window_;
};

TEST_F(DownloadProgressWindowTest, TitleAndBarAgreeAndAreRenewedAtMostEvery500Ms) {
  EXPECT_FALSE(window_.isModal());
  window_.Start(65536);
  EXPECT_EQ(window_.windowTitle(), Title(0)) << "the first title comes at once";
  EXPECT_EQ(window_.bar()->maximum(), 65536);
  EXPECT_EQ(window_.bar()->text(), "0%");

  now_ += 100ms;
  window_.Progressed(16384, 65536);
  EXPECT_EQ(window_.bar()->value(), 0) << "the bar waits with its title";
  EXPECT_EQ(window_.windowTitle(), Title(0));

  now_ += 399ms;
  window_.Progressed(21845, 65536);
  EXPECT_EQ(window_.windowTitle(), Title(0));

  now_ += 1ms;
  window_.Progressed(21845, 65536);
  EXPECT_EQ(window_.windowTitle(), Title(33));
  EXPECT_EQ(window_.bar()->value(), 21845);
  EXPECT_EQ(window_.bar()->text(), "33%");
  EXPECT_EQ(window_.detail()->text().toStdString(), DownloadProgressDetail(21845, 65536, 500ms));

  now_ += 500ms;
  window_.Progressed(65535, 65536);
  EXPECT_EQ(window_.windowTitle(), Title(100)) << "99.998 rounds to 100";
  EXPECT_EQ(window_.bar()->text(), "100%") << "the bar says what the title says";

  now_ += 10ms;
  window_.Progressed(65536, 65536);
  EXPECT_EQ(window_.bar()->value(), 65536) << "the whole image shows at once";

  // A new download starts its title afresh.
  now_ += 10ms;
  window_.Start(2048);
  EXPECT_EQ(window_.windowTitle(), Title(0));
  EXPECT_EQ(window_.bar()->maximum(), 2048);
  EXPECT_EQ(window_.bar()->value(), 0);
}

TEST_F(DownloadProgressWindowTest, CancelAsksOnlyWhileThereIsSomethingLeft) {
  QSignalSpy cancelled(&window_, &DownloadProgressWindow::cancelRequested);
  window_.Start(4096);
  window_.show();
  ASSERT_TRUE(window_.cancel_button()->isEnabled());
  window_.cancel_button()->click();
  EXPECT_EQ(cancelled.count(), 1);
  EXPECT_FALSE(window_.isVisible());

  window_.Start(4096);
  window_.show();
  window_.close();
  EXPECT_EQ(cancelled.count(), 2) << "closing the window cancels too";

  window_.Start(4096);
  window_.show();
  window_.Progressed(4096, 4096);
  EXPECT_FALSE(window_.cancel_button()->isEnabled());
  window_.close();
  EXPECT_EQ(cancelled.count(), 2) << "nothing is left to cancel once the image is in";

  window_.Progressed(0, 4096);
  EXPECT_TRUE(window_.cancel_button()->isEnabled()) << "the end of a download reports address 0";
}

TEST_F(DownloadProgressWindowTest, ReportsFromTheDownloadThreadReachTheWindow) {
  window_.Start(8192);
  now_ += 500ms;
  DownloadProgress& progress = window_;
  std::thread worker([&progress] { progress.DownloadProgressed(4096, 8192); });
  worker.join();
  EXPECT_TRUE(QTest::qWaitFor([this] { return window_.bar()->value() == 4096; }, 2000));
}

}  // namespace
}  // namespace norvane
