#include "core/alarm/alarm_detector.h"

#include <gtest/gtest.h>

#include <random>

#include "core/alarm/poisson_threshold.h"

namespace norvane::alarm {
namespace {

constexpr int64_t kT0 = 1'800'000'000;  // a whole minute
constexpr double kPerSecondOfYear = 1.0 / 3 / (365.25 * 86400);

// A station that has learnt a week of exactly `per_minute` counts a minute.
AlarmDetector Learnt(AlarmOptions options, uint64_t per_minute) {
  AlarmDetector d(std::move(options));
  for (int64_t m = 7 * 1440; m > 0; --m) d.LearnMinute(kT0 - 60 * m, per_minute, 60);
  return d;
}

TEST(PoissonThreshold, UpCrossingChanceMatchesASimulatedCounterAndTheThresholdIsTheLeastThatMeetsIt) {
  // Two million seconds of one count a second through a 10 s window.
  std::mt19937_64 random(7);
  std::poisson_distribution<uint32_t> counts(1.0);
  constexpr uint32_t k = 19;
  std::vector<uint32_t> ring(10, 0);
  uint32_t sum = 0, crossings = 0, n = 2'000'000;
  for (uint32_t t = 0; t < n; ++t) {
    const uint32_t before = sum;
    const uint32_t c = counts(random);
    sum += c - ring[t % 10];
    ring[t % 10] = c;
    if (t >= 10 && before < k && sum >= k) ++crossings;
  }
  const double expected = UpCrossingChance(1.0, 10, k) * n;
  EXPECT_GT(expected, 50);
  EXPECT_NEAR(crossings, expected, 5 * std::sqrt(expected));

  for (double rate : {0.1, 2.0, 10.0})
    for (int window : {10, 600}) {
      const uint32_t t = ThresholdFor(rate, window, kPerSecondOfYear);
      EXPECT_LE(UpCrossingChance(rate, window, t), kPerSecondOfYear) << rate << " " << window;
      EXPECT_GT(UpCrossingChance(rate, window, t - 1), kPerSecondOfYear) << rate << " " << window;
    }
  // Little measured, a high bound; much measured, close to the rate seen.
  EXPECT_GT(RateUpperBound(0, 10, 1e-3), 0.6);
  EXPECT_NEAR(RateUpperBound(1'000'000, 1'000'000, 1e-3), 1.0, 0.004);
}

TEST(AlarmDetector, AWindowAlarmsAtItsThresholdAndNotACountBelow) {
  AlarmDetector quiet = Learnt({}, 60);
  int64_t t = kT0;
  for (; t < kT0 + 600; ++t) ASSERT_FALSE(quiet.OnSecond(t, 1, 0));
  const uint32_t threshold = quiet.windows().front().threshold;
  ASSERT_EQ(quiet.windows().front().seconds, 10);
  ASSERT_GT(threshold, 10u);

  AlarmDetector below = quiet;
  for (int i = 0; i < 20; ++i) EXPECT_FALSE(below.OnSecond(t + i, i == 0 ? threshold - 10 : 1, 0));
  AlarmDetector at = quiet;
  const auto event = at.OnSecond(t, threshold - 9, 0);
  ASSERT_TRUE(event);
  EXPECT_EQ(event->kind, AlarmKind::kRaised);
  EXPECT_EQ(event->window, 10);
  EXPECT_DOUBLE_EQ(event->level_cpm, 6.0 * threshold);
  EXPECT_NEAR(event->background_cpm, 60, 0.1);
  EXPECT_TRUE(at.active());

  // Seconds that were not measured are not counted as background: after a gap the window
  // judges fewer seconds against a lower threshold.
  AlarmDetector gap = quiet;
  gap.OnSecond(t + 5, 1, 0);
  EXPECT_EQ(gap.windows().front().measured, 5u);
  EXPECT_LT(gap.windows().front().threshold, threshold);
}

TEST(AlarmDetector, AllClearComesAfterTheQuietSecondsAndAnySecondAboveTheClearLevelStartsThemAgain) {
  AlarmOptions options;
  options.windows = {10};
  options.clear_seconds = 30;
  AlarmDetector d = Learnt(options, 60);
  int64_t t = kT0;
  for (; t < kT0 + 600; ++t) d.OnSecond(t, 1, 0);
  const uint32_t threshold = d.windows().front().threshold;
  ASSERT_TRUE(d.OnSecond(t++, threshold, 0));
  // The spike leaves the 10 s window after ten seconds; from then on every window is quiet.
  for (int i = 1; i < 10 + 29; ++i) ASSERT_FALSE(d.OnSecond(t++, 1, 0)) << i;
  // A second well above the 10 s window's clear level: the quiet run starts again.
  const uint32_t nudge = (threshold + 10) / 2 + 1 - 9;
  ASSERT_FALSE(d.OnSecond(t++, nudge, 0));
  for (int i = 1; i < 10 + 29; ++i) ASSERT_FALSE(d.OnSecond(t++, 1, 0)) << i;
  const auto clear = d.OnSecond(t++, 1, 0);
  ASSERT_TRUE(clear);
  EXPECT_EQ(clear->kind, AlarmKind::kCleared);
  EXPECT_FALSE(d.active());
}

TEST(AlarmDetector, TheFixedDoseThresholdAlarmsAtItsValueAndClearsBelowNinetyPercent) {
  AlarmOptions options;
  options.fixed_usv_h = 0.5;
  options.clear_seconds = 5;
  AlarmDetector d = Learnt(options, 60);
  int64_t t = kT0;
  EXPECT_FALSE(d.OnSecond(t++, 1, 0.4999));
  const auto raised = d.OnSecond(t++, 1, 0.5);
  ASSERT_TRUE(raised);
  EXPECT_EQ(raised->window, 0);
  EXPECT_DOUBLE_EQ(raised->usv_h, 0.5);
  // At 90 % the alarm holds, however long.
  for (int i = 0; i < 20; ++i) EXPECT_FALSE(d.OnSecond(t++, 1, 0.45));
  for (int i = 1; i < 5; ++i) EXPECT_FALSE(d.OnSecond(t++, 1, 0.4499));
  const auto clear = d.OnSecond(t++, 1, 0.4499);
  ASSERT_TRUE(clear);
  EXPECT_EQ(clear->kind, AlarmKind::kCleared);
}

TEST(AlarmDetector, TheBackgroundKeepsOutSourcesSilenceAndAlarmedSeconds) {
  AlarmDetector d{AlarmOptions{}};
  // A week of 30 CPM with two hours of a 150 CPM source and six hours of a silent tube in it.
  std::mt19937_64 random(3);
  std::poisson_distribution<uint64_t> background(30), source(150);
  for (int64_t m = 7 * 1440; m > 0; --m) {
    const bool lit = m > 3000 && m <= 3120, silent = m > 5000 && m <= 5360;
    d.LearnMinute(kT0 - 60 * m, silent ? 0 : lit ? source(random) : background(random), 60);
  }
  EXPECT_NEAR(d.background_cpm(), 30, 0.3);

  // An hour of a source under an alarm does not teach the background either.
  std::poisson_distribution<uint32_t> hot(5.0);
  int64_t t = kT0;
  bool raised = false;
  for (; t < kT0 + 3600; ++t) raised |= d.OnSecond(t, hot(random), 0).has_value();
  EXPECT_TRUE(raised);
  EXPECT_TRUE(d.active());
  EXPECT_NEAR(d.background_cpm(), 30, 0.3);
}

TEST(AlarmDetector, ANewStationRaisesNoFalseAlarmInItsFirstMinutesYetFindsATenfoldRise) {
  std::mt19937_64 random(11);
  std::poisson_distribution<uint32_t> background(0.5), tenfold(5.0);
  int found = 0;
  for (int station = 0; station < 100; ++station) {
    AlarmDetector d{AlarmOptions{}};
    int64_t t = kT0;
    for (; t < kT0 + 600; ++t) ASSERT_FALSE(d.OnSecond(t, background(random), 0)) << station << " " << t - kT0;
    for (int s = 0; s < 30; ++s)
      if (d.OnSecond(t++, tenfold(random), 0)) {
        ++found;
        break;
      }
  }
  EXPECT_EQ(found, 100);
}

// Every start, resume and gap empties the windows; their first seconds are judged by what they
// hold. Each run learnt a week of its background, measures 20 s, loses 15 s and measures 20 s
// more: at 6 to 600 CPM no run may alarm, yet a burst in a first second is still found.
TEST(AlarmDetector, WindowsThatHoldFewerSecondsThanTheirLengthRaiseNoFalseAlarm) {
  std::mt19937_64 random(13);
  for (const uint64_t cpm : {6, 30, 120, 600}) {
    const AlarmDetector learnt = Learnt({}, cpm);
    std::poisson_distribution<uint32_t> background(static_cast<double>(cpm) / 60);
    for (int run = 0; run < 150; ++run) {
      AlarmDetector d = learnt;
      for (int64_t t = kT0; t < kT0 + 55; ++t) {
        if (t >= kT0 + 20 && t < kT0 + 35) continue;
        ASSERT_FALSE(d.OnSecond(t, background(random), 0)) << cpm << " CPM, run " << run << ", second " << t - kT0;
      }
    }
    AlarmDetector burst = learnt;
    EXPECT_TRUE(burst.OnSecond(kT0, static_cast<uint32_t>(cpm / 60 * 10 + 40), 0)) << cpm << " CPM";
  }
}

}  // namespace
}  // namespace norvane::alarm
