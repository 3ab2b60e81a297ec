#include <gtest/gtest.h>

#include "core/chart/time_ticks.h"
#include "core/store/store_time.h"
#include "tests/core/store/time_zone.h"

namespace norvane::chart {
namespace {

int64_t Berlin(const char* text) {
  SystemClock clock;
  std::string error;
  return *store::ParseTime(text, clock, &error);
}

TEST(TimeTicksTest, StepsGrowWithTheSpanAndKeepTheTickCount) {
  int64_t previous = 0;
  for (int64_t span : {int64_t{30}, int64_t{600}, int64_t{7200}, int64_t{86400}, int64_t{7 * 86400},
                       int64_t{90 * 86400}, int64_t{365 * 86400}, int64_t{20 * 365 * 86400}}) {
    const TickStep step = ChooseTickStep(span, 8);
    EXPECT_LT(span / step.Nominal(), 8) << span;
    EXPECT_GE(step.Nominal(), previous);
    previous = step.Nominal();
  }
  EXPECT_EQ(ChooseTickStep(30, 8).unit, TickUnit::kSecond);
  EXPECT_EQ(ChooseTickStep(86400, 8).unit, TickUnit::kHour);
  EXPECT_EQ(ChooseTickStep(365 * 86400, 14).unit, TickUnit::kMonth);
}

TEST(TimeTicksTest, LabelsSuitTheZoomAndSitOnLocalBoundaries) {
  testing::TimeZone zone("Europe/Berlin");
  SystemClock clock;
  // A minute: seconds, the first with its date under it.
  auto ticks = TimeTicks(Berlin("2026-06-10T12:00:00"), Berlin("2026-06-10T12:01:00"), 8, clock);
  ASSERT_GE(ticks.size(), 4u);
  EXPECT_EQ(ticks[0].label, "12:00:00\n10 Jun 2026");
  EXPECT_EQ(ticks[1].label, "12:00:10");
  // Hours of a day in local time (UTC+2 in June), the next day's midnight dated.
  ticks = TimeTicks(Berlin("2026-06-10T00:00"), Berlin("2026-06-11T00:00"), 10, clock);
  ASSERT_EQ(ticks.size(), 9u);
  EXPECT_EQ(ticks[1].label, "03:00");
  EXPECT_EQ(ticks[1].time, Berlin("2026-06-10T03:00"));
  EXPECT_EQ(ticks.back().label, "00:00\n11 Jun 2026");
  // A year: months, each on the 1st at local midnight.
  ticks = TimeTicks(Berlin("2026-01-01"), Berlin("2027-01-01"), 14, clock);
  ASSERT_EQ(ticks.size(), 13u);
  EXPECT_EQ(ticks[0].label, "Jan 2026");
  EXPECT_EQ(ticks[3].label, "Apr 2026");
  EXPECT_EQ(ticks[3].time, Berlin("2026-04-01T00:00"));
  // Days of a month.
  ticks = TimeTicks(Berlin("2026-02-01"), Berlin("2026-03-01"), 6, clock);
  ASSERT_FALSE(ticks.empty());
  EXPECT_EQ(ticks[0].label, "1 Feb");
  EXPECT_EQ(ticks[1].label, "8 Feb");
}

TEST(TimeTicksTest, DaylightSavingDaysShowTheirRealLength) {
  testing::TimeZone zone("Europe/Berlin");
  SystemClock clock;
  // 2026-03-29: clocks go from 02:00 to 03:00. Hour ticks stay on local hours and the day has
  // 23 of them; the tick after 01:00 is 03:00, one real hour later.
  const auto ticks = TimeTicks(Berlin("2026-03-29T00:00"), Berlin("2026-03-29T06:00"), 10, clock);
  ASSERT_GE(ticks.size(), 4u);
  EXPECT_EQ(ticks[1].label, "01:00");
  EXPECT_EQ(ticks[2].label, "03:00");
  EXPECT_EQ(ticks[2].time - ticks[1].time, 3600);
  // In October the day has 25 hours: midnight to midnight is 25 h apart on the axis.
  const auto day = TimeTicks(Berlin("2026-10-25T00:00"), Berlin("2026-10-26T00:00"), 4, clock);
  ASSERT_GE(day.size(), 2u);
  EXPECT_EQ(day.back().time - day.front().time, 25 * 3600);
}

}  // namespace
}  // namespace norvane::chart
