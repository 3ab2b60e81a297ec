#include <gtest/gtest.h>

#include "core/common/clock.h"

namespace norvane {
namespace {

TEST(FixedClock, ShowsTheChosenLocalTimeAndMovesOn) {
  FixedClock clock({2024, 2, 28, 23, 59, 58});
  LocalTime t = clock.LocalNow();
  EXPECT_EQ(t.year, 2024);
  EXPECT_EQ(t.day, 28);
  EXPECT_EQ(t.second, 58);
  clock.Advance(2);
  t = clock.LocalNow();
  EXPECT_EQ(t.month, 2);
  EXPECT_EQ(t.day, 29);
  EXPECT_EQ(t.hour, 0);
  EXPECT_EQ(t.second, 0);
}

}  // namespace
}  // namespace norvane
