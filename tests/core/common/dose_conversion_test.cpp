#include "core/common/dose_conversion.h"

#include <gtest/gtest.h>

namespace norvane {
namespace {

TEST(DoseConversion, DefaultTableFollowsSegmentSlopes) {
  const ConversionTable& t = kDefaultConversionTable;
  EXPECT_EQ(DoseRateFromCpm(t, 0), 0.0f);
  EXPECT_EQ(DoseRateFromCpm(t, 240), 1.56f);
  EXPECT_EQ(DoseRateFromCpm(t, 60), 0.39f);
  // Slope of the segment times the rate, not an interpolation from the segment start.
  EXPECT_FLOAT_EQ(DoseRateFromCpm(t, 120), static_cast<float>(120 * (1.56 - 0.39) / 180));
  EXPECT_FLOAT_EQ(DoseRateFromCpm(t, 30), static_cast<float>(30 * 0.39 / 60));
  EXPECT_EQ(DoseRateFromCpm(t, 4000), 26.0f);
  EXPECT_EQ(DoseRateFromCpm(t, 5000), 100.0f);
  EXPECT_EQ(DoseRateFromCpm(t, 0xFFFFFFFFu), static_cast<float>(0xFFFFFFFFu * 50.0 / 2500.0));
}

TEST(DoseConversion, UnsortedTableFromACounterStaysUsable) {
  // A counter's points 1-3 replace the first three without re-sorting.
  ConversionTable t = {{{300, 1.95}, {1200, 7.8}, {6000, 39}, {2000, 13}, {4000, 26}}};
  EXPECT_EQ(DoseRateFromCpm(t, 6000), 39.0f);
  EXPECT_FLOAT_EQ(DoseRateFromCpm(t, 1500), static_cast<float>(1500 * (39 - 7.8) / 4800));
  EXPECT_EQ(DoseRateFromCpm(t, 7000), 140.0f);
  ConversionTable zeros{};  // a counter that holds nothing in its points
  EXPECT_EQ(DoseRateFromCpm(zeros, 10), static_cast<float>(10 * 50.0 / 2500.0));
}

}  // namespace
}  // namespace norvane
