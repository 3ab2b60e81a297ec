#include "core/graph/navigation.h"

#include <gtest/gtest.h>

#include "tests/core/history/image_builder.h"

namespace norvane {
namespace {

TEST(Navigation, TheFirstThirtyPositionsShowTheStartAndOthersAreTruncated) {
  for (double p : {0.0, 1.5, 29.0, 29.99}) EXPECT_EQ(WindowOffset(p), 0u) << p;
  EXPECT_EQ(WindowOffset(30.0), 30u);
  EXPECT_EQ(WindowOffset(1234.9), 1234u);
  EXPECT_EQ(WindowOffset(-5.0), 0u);
}

TEST(Navigation, ZoomTextsAreComparedExactly) {
  EXPECT_EQ(ZoomFactorFor("x5"), 5.0f);
  EXPECT_EQ(ZoomFactorFor("AUTO"), kAutomaticZoom);
  EXPECT_EQ(kZoomList[kZoomAutoIndex].text, "AUTO");
  EXPECT_FALSE(ZoomFactorFor("X5").has_value());
  EXPECT_FALSE(ZoomFactorFor("x5 ").has_value());
}

TEST(Navigation, SevenPressesOfTheSpeedButtonReturnToOneTimesSpeed) {
  PlaySpeedSelector speed;
  EXPECT_EQ(speed.speed().caption, "x1");
  EXPECT_EQ(speed.speed().period_ms, 1000);
  speed.Next();
  EXPECT_EQ(speed.speed().caption, "x2");
  for (int i = 0; i < 5; ++i) speed.Next();
  EXPECT_EQ(speed.speed().caption, "x64");
  EXPECT_EQ(speed.speed().period_ms, 15);
  speed.Next();
  EXPECT_EQ(speed.index(), 1);
  EXPECT_EQ(speed.speed().period_ms, 1000);
}

TEST(Navigation, AStepBackIntoAStampLandsOnItsFirstByte) {
  // Samples of 5 at 0..99, a stamp at 100..111, samples of 7 from 112.
  using testing::operator+;
  const auto image = testing::Repeat(5, 100) + testing::Stamp(24, 6, 1, 9, 0, 0, kEverySecond) + testing::Repeat(7, 100);
  const ImageView view = testing::View(image);
  for (double inside : {101.0, 105.5, 111.0}) EXPECT_DOUBLE_EQ(StepBackPosition(view, inside), 100.0) << inside;
  // Outside a stamp, and at the start, the position stays where the step put it.
  for (double outside : {112.0, 100.0, 99.0, 20.0}) EXPECT_DOUBLE_EQ(StepBackPosition(view, outside), outside);
  // From the stamp's first byte the next step reaches the sample before it.
  EXPECT_EQ(NextSample(view, WindowOffset(StepBackPosition(view, 99.0))).value, 5u);
}

TEST(PlaybackClock, StepsBySecondMinuteOrHourSample) {
  StampTime t{26, 3, 7, 9, 5, 4};
  AdvancePlaybackClock(t, SaveType::kEverySecond);
  EXPECT_EQ(t, (StampTime{26, 3, 7, 9, 5, 5}));
  AdvancePlaybackClock(t, SaveType::kEveryMinute);
  EXPECT_EQ(t, (StampTime{26, 3, 7, 9, 6, 0}));
  AdvancePlaybackClock(t, SaveType::kEveryHour);
  EXPECT_EQ(t, (StampTime{26, 3, 7, 10, 0, 0}));
}

TEST(PlaybackClock, CarriesThroughTheYearAndHonoursLeapYears) {
  StampTime end_of_99{99, 12, 31, 23, 59, 59};
  AdvancePlaybackClock(end_of_99, SaveType::kEverySecond);
  EXPECT_EQ(end_of_99, (StampTime{0, 1, 1, 0, 0, 0}));

  StampTime leap{24, 2, 28, 23, 59, 59};
  AdvancePlaybackClock(leap, SaveType::kEverySecond);
  EXPECT_EQ(leap, (StampTime{24, 2, 29, 0, 0, 0}));
  StampTime plain{25, 2, 28, 23, 59, 59};
  AdvancePlaybackClock(plain, SaveType::kEverySecond);
  EXPECT_EQ(plain, (StampTime{25, 3, 1, 0, 0, 0}));
}

TEST(PlayTick, AnAllZeroWindowStopsOnlyInEndOfDataMode) {
  HistoryWindow zeros;
  PlayTickPlan fast = PlanPlayTick(zeros, /*end_of_data_mode=*/false, 100, 65536);
  EXPECT_FALSE(fast.stop);
  EXPECT_TRUE(fast.advance);
  EXPECT_EQ(fast.position, 101);

  PlayTickPlan end_of_data = PlanPlayTick(zeros, true, 100, 65536);
  EXPECT_TRUE(end_of_data.stop);
  EXPECT_FALSE(end_of_data.advance);
  EXPECT_EQ(end_of_data.position, 101);  // the stopping tick still moves and refills

  HistoryWindow some;
  some.values[59] = 3;
  EXPECT_FALSE(PlanPlayTick(some, true, 100, 65536).stop);
}

TEST(PlayTick, ReachingTheImageEndStops) {
  HistoryWindow some;
  some.values[0] = 1;
  EXPECT_FALSE(PlanPlayTick(some, false, 65534, 65536).stop);
  EXPECT_TRUE(PlanPlayTick(some, false, 65535, 65536).stop);
}

}  // namespace
}  // namespace norvane
