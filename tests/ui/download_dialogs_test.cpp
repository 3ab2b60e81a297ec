// The download's options dialog and its progress window: speed text, options, title pacing, Cancel.
#include "ui/download_dialogs.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>
#include <chrono>
#include <thread>

namespace norvane {
namespace {

using namespace std::chrono_literals;

QString Title(int percent) { return QString("%1 (%2%)").arg(kDownloadProgressCaption).arg(percent); }

TEST(DownloadOptionsDialogTest, ShowsTheOptionsAndGivesBackTheChoice) {
  DownloadOptionsDialog dialog(DownloadOptions{1, 30});
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
  DownloadOptionsDialog fast(DownloadOptions{0, 150});
  EXPECT_EQ(fast.options().speed, 50);
  EXPECT_EQ(fast.speed_label()->text(), "50%");
  EXPECT_TRUE(fast.end_of_data_button()->isChecked());
  EXPECT_EQ(DownloadOptionsDialog(DownloadOptions{0, -4}).options().speed, 50);
  EXPECT_EQ(DownloadOptionsDialog(DownloadOptions{7, 100}).options().end_mode, 0) << "only 1 takes the whole flash";
}

class DownloadProgressWindowTest : public testing::Test {
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
