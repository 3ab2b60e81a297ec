// The counter's calibration points replacing the first three of the conversion table.
#include <gtest/gtest.h>

#include <bit>

#include "core/config/calibration.h"
#include "core/config/config_editor.h"
#include "tests/common/recording_notifier.h"

namespace norvane {
namespace {

void PutBig(ConfigBlock& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

TEST(Calibration, ExtendedPointsReplaceTheFirstThreeUnsorted) {
  ConfigBlock block;
  block.fill(0xFF);
  const std::pair<uint32_t, float> points[] = {{300, 1.95f}, {1200, 7.8f}, {6000, 39.0f}, {9, 9.0f}};
  for (size_t p = 0; p < 4; ++p) {
    PutBig(block, 379 + 4 * p, points[p].first);
    PutBig(block, 403 + 4 * p, std::bit_cast<uint32_t>(points[p].second));
  }
  ConversionTable table = kDefaultConversionTable;
  testing::RecordingNotifier notifier;
  ConfigEditor editor(block, table, notifier);
  editor.Decode(8);

  EXPECT_EQ(table[0].cpm, 300u);
  EXPECT_DOUBLE_EQ(table[0].usv, static_cast<double>(1.95f));
  EXPECT_EQ(table[2].cpm, 6000u);  // above point 4's 2000: not re-sorted
  EXPECT_DOUBLE_EQ(table[2].usv, 39.0);
  EXPECT_EQ(table[3].cpm, 2000u);  // point 4 of the counter does not reach the table
  EXPECT_DOUBLE_EQ(table[3].usv, 13.0);
  EXPECT_EQ(table[4].cpm, 4000u);
  EXPECT_EQ(notifier.status(), std::vector<std::string>{"Main calibration 1,2,3 have been updated."});
}

TEST(Calibration, SinglePrecisionWidenedAndZerosTakenAsTheyAre) {
  ConfigBlock block;
  block.fill(0xFF);
  const uint8_t bytes[] = {0x00, 0x3C, 0x3E, 0xC7, 0xAE, 0x14};
  std::copy(std::begin(bytes), std::end(bytes), block.begin() + 8);
  std::fill_n(block.begin() + 14, 6, uint8_t{0});
  ConversionTable table = kDefaultConversionTable;
  testing::RecordingNotifier notifier;
  ConfigEditor editor(block, table, notifier);
  editor.Decode(4);
  EXPECT_EQ(table[0].cpm, 60u);
  EXPECT_EQ(table[0].usv, 0.38999998569488525);
  EXPECT_EQ(table[1].cpm, 0u);
  EXPECT_EQ(table[1].usv, 0.0);
  // An erased point 3 is taken too: 0xFFFF CPM and a NaN dose rate.
  EXPECT_EQ(table[2].cpm, 0xFFFFu);
}

}  // namespace
}  // namespace norvane
