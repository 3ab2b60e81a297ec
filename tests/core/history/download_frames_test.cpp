// The download's arithmetic: request frames, waits, request lengths, end of data, prompt replies.
#include <gtest/gtest.h>

#include <vector>

#include "core/history/download.h"

namespace norvane {
namespace {

TEST(DownloadFrames, AddressAndLengthGoMostSignificantByteFirst) {
  const auto frame = BuildSpirFrame(0x1FDC00, 0x0123);
  const std::array<uint8_t, 12> expected = {'<', 'S', 'P', 'I', 'R', 0x1F, 0xDC, 0x00, 0x01, 0x23, '>', '>'};
  EXPECT_EQ(frame, expected);
  // Address bits above 23 do not fit the frame and must not spill into the length.
  EXPECT_EQ(BuildSpirFrame(0x12345678, 1024)[5], 0x34);
}

TEST(DownloadFrames, SpeedWaitRunsFrom808To8Milliseconds) {
  EXPECT_EQ(SpeedWaitMs(0), 808);
  EXPECT_EQ(SpeedWaitMs(50), 408);
  EXPECT_EQ(SpeedWaitMs(100), 8);
  // Out of range is held to the slider's ends, never a negative wait.
  EXPECT_EQ(SpeedWaitMs(250), 8);
  EXPECT_EQ(SpeedWaitMs(-3), 808);
}

TEST(DownloadFrames, TheLastRequestAsksOnlyForTheRemainder) {
  EXPECT_EQ(SpirRequestLength(0, 0x10000), 1024u);
  EXPECT_EQ(SpirRequestLength(0xFC00, 0x10000), 1024u);
  EXPECT_EQ(SpirRequestLength(3072, 3500), 428u);
  EXPECT_EQ(SpirRequestLength(0, 700), 700u);
  EXPECT_EQ(SpirRequestLength(700, 700), 0u);
}

TEST(DownloadFrames, EndOfDataNeedsA1024ByteErasedRunEndingAbove2048) {
  std::vector<uint8_t> image(8192, 0xFF);
  // An erased start is not the end: the address must be above 2048 first.
  EXPECT_FALSE(IsEndOfData(image, 1024));
  EXPECT_FALSE(IsEndOfData(image, 2048));
  EXPECT_TRUE(IsEndOfData(image, 2049));

  std::fill(image.begin(), image.begin() + 3000, 0x10);
  EXPECT_FALSE(IsEndOfData(image, 4023));  // byte 2999 is still inside the last 1024
  EXPECT_TRUE(IsEndOfData(image, 4024));
  image[4000] = 0xFE;
  EXPECT_FALSE(IsEndOfData(image, 4096));
  EXPECT_FALSE(IsEndOfData(image, 9000));  // beyond the image: never read outside it
}

TEST(DownloadFrames, PromptRepliesAreRecognisedAtAnyOfTheFirstFourOffsets) {
  const std::string prompt = "?\r\n> ?\r\n> ?\r\n> ?\r\n> ";
  EXPECT_TRUE(LooksUnsynched({reinterpret_cast<const uint8_t*>(prompt.data()), prompt.size()}));
  const std::string shifted = "abc" + prompt;
  EXPECT_TRUE(LooksUnsynched({reinterpret_cast<const uint8_t*>(shifted.data()), shifted.size()}));
  const std::string too_late = "abcd" + prompt;
  EXPECT_FALSE(LooksUnsynched({reinterpret_cast<const uint8_t*>(too_late.data()), too_late.size()}));
  std::vector<uint8_t> history = {0x55, 0xAA, 0x00, 24, 3, 7, 9, 5, 4, 0x55, 0xAA, 1, '?', 0, 0, 0, 0, '?', 0, 0};
  EXPECT_FALSE(LooksUnsynched(history));
  EXPECT_FALSE(LooksUnsynched(std::vector<uint8_t>(10, '?')));  // too short to hold the pattern
}

TEST(DownloadFrames, OptionsComeFromTheSettingsWithTheDialogsRules) {
  Settings settings;
  EXPECT_EQ(DownloadOptionsFromSettings(settings).speed, 50);
  EXPECT_EQ(DownloadOptionsFromSettings(settings).end_mode, 0);
  settings.download_speed = 100;
  settings.fast_download = 1;
  EXPECT_EQ(DownloadOptionsFromSettings(settings).speed, 100);
  EXPECT_EQ(DownloadOptionsFromSettings(settings).end_mode, 1);
  settings.download_speed = 101;
  settings.fast_download = 7;
  EXPECT_EQ(DownloadOptionsFromSettings(settings).speed, 50);
  EXPECT_EQ(DownloadOptionsFromSettings(settings).end_mode, 0);
}

TEST(DownloadFrames, ProgressDetailGivesBytesRateAndTimeLeft) {
  using std::chrono::milliseconds;
  EXPECT_EQ(DownloadProgressDetail(0, 1048576, milliseconds(0)), "0 of 1048576 bytes");
  EXPECT_EQ(DownloadProgressDetail(2000, 1048576, milliseconds(500)), "2000 of 1048576 bytes");
  // 2,500 bytes a second: the 1,036,576 bytes still to come take 414.6 s.
  EXPECT_EQ(DownloadProgressDetail(12000, 1048576, milliseconds(4800)),
            "12000 of 1048576 bytes, 2.5 KB/s, 6 min 55 s left");
  EXPECT_EQ(DownloadProgressDetail(60000, 65536, milliseconds(10000)), "60000 of 65536 bytes, 6.0 KB/s, 1 s left");
  EXPECT_EQ(DownloadProgressDetail(65536, 65536, milliseconds(10000)), "65536 of 65536 bytes");
}

TEST(DownloadFrames, ProgressTitleRoundsThePercentage) {
  EXPECT_EQ(DownloadProgressTitle(kDownloadProgressCaption, 0, 0x10000),
            "Downloading history data from Norvane ZQT device (0%)");
  EXPECT_EQ(DownloadProgressTitle("D", 0x8000, 0x10000), "D (50%)");
  EXPECT_EQ(DownloadProgressTitle("D", 2, 3), "D (67%)");
  EXPECT_EQ(DownloadProgressTitle("D", 5, 0), "D (0%)");
}

}  // namespace
}  // namespace norvane
