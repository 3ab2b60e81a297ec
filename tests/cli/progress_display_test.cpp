// The download's progress bar and log lines on stderr.
#include <gtest/gtest.h>

#include <sstream>

#include "cli/progress_display.h"

namespace norvane::cli {
namespace {

using namespace std::chrono_literals;
using Steady = std::chrono::steady_clock;

int Lines(const std::string& text) { return static_cast<int>(std::count(text.begin(), text.end(), '\n')); }

TEST(ProgressBarText, ShowsPercentBytesRateAndTimeLeft) {
  EXPECT_EQ(ProgressBarText(0x40000, 0x100000, 22.5s),
            "[#####---------------]  25%  262144/1048576 bytes  11.7 kB/s  1:08 left");
  EXPECT_EQ(ProgressBarText(0x100000, 0x100000, 91s),
            "[####################] 100%  1048576/1048576 bytes  11.5 kB/s  0:00 left");
  // Too early for a rate: no division by a near-zero time.
  EXPECT_EQ(ProgressBarText(1024, 0x10000, 0.1s), "[--------------------]   1%  1024/65536 bytes  - kB/s  - left");
  EXPECT_EQ(ProgressBarText(5, 0, 3s), "[--------------------]   0%  0/0 bytes  - kB/s  - left");
}

class FakeTime {
 public:
  Steady::time_point now() const { return now_; }
  void Advance(Steady::duration d) { now_ += d; }

 private:
  Steady::time_point now_ = Steady::time_point(1000s);
};

TEST(ProgressDisplay, OffATerminalItPrintsALineEveryTenPercent) {
  std::ostringstream err;
  FakeTime time;
  ProgressDisplay display(err, false, [&] { return time.now(); });
  for (uint32_t address = 1024; address < 0x10000; address += 1024) {
    time.Advance(90ms);
    display.DownloadProgressed(address, 0x10000);
  }
  display.DownloadProgressed(0, 0x10000);  // the end's reset leaves the bar alone
  display.Finish(0x10000);
  const std::string text = err.str();
  EXPECT_EQ(Lines(text), 10) << text;
  EXPECT_NE(text.find(" 10%"), std::string::npos);
  EXPECT_NE(text.find("100%  65536/65536"), std::string::npos);
  EXPECT_EQ(text.find('\r'), std::string::npos);
}

TEST(ProgressDisplay, OnATerminalLogLinesGoAboveTheBarAndRedrawsAreThrottled) {
  std::ostringstream err;
  FakeTime time;
  ProgressDisplay display(err, true, [&] { return time.now(); });
  display.DownloadProgressed(1024, 0x10000);
  const size_t after_first = err.str().size();
  time.Advance(10ms);
  display.DownloadProgressed(2048, 0x10000);  // too soon to draw again
  EXPECT_EQ(err.str().size(), after_first);

  display.Status("FAIL #0");
  // The bar's line is cleared, the log line printed, the bar drawn again below it.
  const std::string text = err.str().substr(after_first);
  EXPECT_EQ(text.rfind("\r\033[KFAIL #0\n\r\033[K[", 0), 0u) << text;
  EXPECT_NE(text.find("2048/65536"), std::string::npos);

  display.Finish(0x10000);
  EXPECT_TRUE(err.str().ends_with("65536/65536 bytes  - kB/s  - left\n")) << err.str();
}

TEST(ProgressDisplay, MessagesBecomeOneLineAndQuestionsAreAnsweredNo) {
  std::ostringstream err;
  ProgressDisplay display(err, false);
  display.Message("There are some unsynched communication. \r\n Check the unit.", "");
  EXPECT_FALSE(display.Ask("Reset and Restart?", "Reset and Restart?"));
  EXPECT_EQ(err.str(),
            "There are some unsynched communication.   Check the unit.\n"
            "Reset and Restart?: Reset and Restart? no\n");
}

}  // namespace
}  // namespace norvane::cli
