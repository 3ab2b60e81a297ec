#include "sim/config_area.h"

#include <gtest/gtest.h>

#include <bit>

namespace norvane::sim {
namespace {

float FloatAt(const std::vector<uint8_t>& a, size_t at, bool most_significant_first) {
  uint32_t bits = 0;
  for (int i = 0; i < 4; ++i) bits |= uint32_t{a[at + i]} << (most_significant_first ? 24 - 8 * i : 8 * i);
  return std::bit_cast<float>(bits);
}

uint32_t Int32At(const std::vector<uint8_t>& a, size_t at) {
  return uint32_t{a[at]} << 24 | a[at + 1] << 16 | a[at + 2] << 8 | a[at + 3];
}

TEST(DefaultConfigArea, CalibrationWhereEachFamilyReadsIt) {
  const auto legacy = DefaultConfigArea(4, 0);
  EXPECT_EQ(legacy.size(), kConfigAreaSize);
  EXPECT_EQ(legacy[20] << 8 | legacy[21], 1000);  // point 3
  EXPECT_FLOAT_EQ(FloatAt(legacy, 22, true), 6.5f);

  const auto lt = DefaultConfigArea(6, 0);  // least significant byte first, this family alone
  EXPECT_EQ(Int32At(lt, 73), 60u);
  EXPECT_FLOAT_EQ(FloatAt(lt, 97, false), 0.39f);
  const auto v600 = DefaultConfigArea(7, 0);
  EXPECT_FLOAT_EQ(FloatAt(v600, 97, true), 0.39f);
  EXPECT_EQ(Int32At(v600, 125), 1000u);  // its 32-bit CPM alarm

  const auto extended = DefaultConfigArea(8, 0);
  EXPECT_EQ(Int32At(extended, 379 + 4 * 5), 10000u);
  EXPECT_FLOAT_EQ(FloatAt(extended, 403 + 4 * 5, true), 65.0f);
  EXPECT_EQ(Int32At(extended, 434), 1000u);
  EXPECT_EQ(extended[338] << 8 | extended[339], 0xFFFF);
}

TEST(DefaultConfigArea, WritesBackNoFurtherThanNeeded) {
  // The program writes up to the last byte that is not 0xFF, one exchange per byte.
  const auto extended = DefaultConfigArea(8, 0);
  const auto last = std::find_if(extended.rbegin(), extended.rend(), [](uint8_t b) { return b != 0xFF; });
  EXPECT_EQ(extended.rend() - last, 438);
  // The legacy write never touches address 127.
  EXPECT_EQ(DefaultConfigArea(4, 0)[127], 0xFF);
}

}  // namespace
}  // namespace norvane::sim
