// The housekeeping tick: save schedule and types, submission schedule, ACPM, elapsed text, the
// clock sync condition the poll uses.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/tasks/auto_save.h"
#include "core/tasks/elapsed_text.h"
#include "core/tasks/housekeeping_tick.h"
#include "core/tasks/submit_schedule.h"
#include "core/tools/clock_rules.h"

namespace norvane {
namespace {

std::vector<int> SaveTicks(int64_t period, int ticks) {
  AutoSaveSchedule schedule;
  std::vector<int> saves;
  for (int t = 1; t <= ticks; ++t)
    if (schedule.Tick(period)) saves.push_back(t);
  return saves;
}

TEST(AutoSave, SavesComeEveryPeriodPlusOneTicks) {
  EXPECT_EQ(SaveTicks(10, 40), (std::vector<int>{11, 22, 33}));
  Settings s;
  s.auto_save_time_hour = 0;
  s.auto_save_time_minute = 0;
  s.auto_save_time_second = 3;
  EXPECT_EQ(SaveTicks(s.AutoSavePeriodSeconds(), 14), (std::vector<int>{6, 12}));
}

TEST(AutoSave, TypeTextsAreComparedExactly) {
  using V = std::vector<std::string_view>;
  EXPECT_EQ(AutoSavePatterns("Csv"), V{"*.csv"});
  EXPECT_EQ(AutoSavePatterns("Htm"), V{"*.csv"});
  EXPECT_EQ(AutoSavePatterns(""), V{"*.csv"});
  EXPECT_EQ(AutoSavePatterns("htm"), V{"*.htm"});
  EXPECT_EQ(AutoSavePatterns("html"), V{"*.html"});
  EXPECT_EQ(AutoSavePatterns("r@h"), V{"*.R@H"});
  EXPECT_EQ(AutoSavePatterns("R@H"), V{"*.R@H"});
  EXPECT_EQ(AutoSavePatterns("ALL"),
            (V{"*.csv", "*.rbn", "*.html", "*.htm", "*.bmp", "*.jpg", "*.jpeg", "*.R@H"}));
  EXPECT_EQ(AutoSavePatterns("all"), V{"*.csv"});
}

TEST(SubmitScheduleTest, FirstSubmissionOnTick301AndPostponedWhileCpmIsZero) {
  SubmitSchedule schedule;
  int first = 0;
  for (int t = 1; t <= 400 && !first; ++t)
    if (schedule.Tick(true, true, 5, 12)) first = t;
  EXPECT_EQ(first, 301);

  SubmitSchedule quiet;
  for (int t = 1; t <= 600; ++t) EXPECT_FALSE(quiet.Tick(true, true, 5, 0));
  EXPECT_TRUE(quiet.Tick(true, true, 5, 1));
  EXPECT_FALSE(quiet.Tick(true, true, 5, 1));
}

TEST(SubmitScheduleTest, CountsOnlyWhileMonitoringWithSubmissionOn) {
  SubmitSchedule schedule;
  for (int t = 0; t < 1000; ++t) {
    EXPECT_FALSE(schedule.Tick(false, true, 1, 5));
    EXPECT_FALSE(schedule.Tick(true, false, 1, 5));
  }
  EXPECT_EQ(schedule.count(), 0u);
}

TEST(SubmitScheduleTest, AverageCpm) {
  EXPECT_EQ(AverageCpmText(AverageCpmForMap(40, 120, 7)), "20.00");
  EXPECT_EQ(AverageCpmText(AverageCpmForMap(100, 120, 7)), "50.00");
  EXPECT_EQ(AverageCpmText(AverageCpmForMap(999, 30, 7)), "7.00");
  EXPECT_EQ(AverageCpmText(AverageCpmForMap(999, 60, 7)), "7.00");
  EXPECT_EQ(AverageCpmText(AverageCpmForMap(61, 61, 7)), "60.00");
}

TEST(ElapsedTextTest, DaysHoursMinutesSeconds) {
  LanguageDictionary dictionary;
  const std::string day = dictionary.GetText(kDayTextEntry);
  EXPECT_EQ(ElapsedText(0, dictionary), "0 " + day + " 00:00:00");
  EXPECT_EQ(ElapsedText(86400 + 3 * 3600 + 25 * 60 + 9, dictionary), "1 " + day + " 03:25:09");
  EXPECT_EQ(ElapsedText(86399, dictionary), "0 " + day + " 23:59:59");
}

TEST(PollClockSync, FollowsFamilyVersionAndPeriod) {
  for (uint64_t s = 1; s <= 3 * 86400; s += 1) ASSERT_FALSE(PeriodicClockSyncDue(1, 238, 1, false, s));
  EXPECT_FALSE(PeriodicClockSyncDue(8, 0, 24, false, 86399));
  EXPECT_TRUE(PeriodicClockSyncDue(8, 0, 24, false, 86400));
  EXPECT_FALSE(PeriodicClockSyncDue(8, 0, 0, false, 86400));
}

struct TickFixture : ::testing::Test {
  TickFixture() : clock(LocalTime{2026, 3, 7, 9, 5, 4}), data(clock.Now()) {
    settings.auto_save_enabled = 1;
    settings.auto_save_time_hour = 0;
    settings.auto_save_time_second = 5;
    settings.auto_save_file_type = "ALL";
    settings.auto_submit_enabled = 1;
    settings.auto_submit_period = 1;
    settings.zqt_map_user_account_id = "1234";
    settings.zqt_map_geiger_counter_id = "5678";
  }
  HousekeepingTick MakeTick() {
    HousekeepingActions actions;
    actions.save = [this](std::string_view pattern, const std::string& name) {
      saved.push_back(std::string(pattern) + " " + name);
      return pattern != failing_pattern;
    };
    actions.reset_realtime = [this] { ++resets; };
    actions.submit = [this](const std::string& url) { urls.push_back(url); };
    return HousekeepingTick(settings, data, clock, std::move(actions));
  }

  FixedClock clock;
  DataSet data;
  Settings settings;
  std::vector<std::string> saved;
  std::vector<std::string> urls;
  std::string_view failing_pattern;  // the save of this type fails
  int resets = 0;
};

TEST_F(TickFixture, SaveDispatchesEveryTypeUnderOneNameThenResets) {
  HousekeepingTick tick = MakeTick();
  tick.set_name_prefix("/data/");
  for (int t = 0; t < 5; ++t) EXPECT_FALSE(tick.Run(false, 0).saved);
  const TickReport report = tick.Run(false, 0);
  ASSERT_TRUE(report.saved);
  EXPECT_EQ(report.save_name, "/data/20260307_09_05_04");
  ASSERT_EQ(saved.size(), 8u);
  EXPECT_EQ(saved.front(), "*.csv /data/20260307_09_05_04");
  EXPECT_EQ(saved.back(), "*.R@H /data/20260307_09_05_04");
  EXPECT_EQ(resets, 1);

  settings.auto_save_restart_counter = 0;
  for (int t = 0; t < 6; ++t) tick.Run(false, 0);
  EXPECT_EQ(resets, 1);
  settings.auto_save_enabled = 0;
  for (int t = 0; t < 20; ++t) EXPECT_FALSE(tick.Run(false, 0).saved);
}

TEST_F(TickFixture, AFailedSaveNeverResetsTheRecordingAndTheNextOneTriesAgain) {
  settings.auto_save_file_type = "rbn";
  HousekeepingTick tick = MakeTick();
  failing_pattern = "*.rbn";
  for (int t = 0; t < 5; ++t) tick.Run(false, 0);
  EXPECT_FALSE(tick.Run(false, 0).saved);
  ASSERT_EQ(saved.size(), 1u);
  EXPECT_EQ(resets, 0);

  failing_pattern = {};
  for (int t = 0; t < 5; ++t) tick.Run(false, 0);
  EXPECT_TRUE(tick.Run(false, 0).saved);
  EXPECT_EQ(saved.size(), 2u);
  EXPECT_EQ(resets, 1);
}

TEST_F(TickFixture, SubmissionCarriesTheReadings) {
  settings.auto_save_enabled = 0;
  for (uint32_t i = 0; i < 120; ++i) data.realtime.Append(i < 40 ? 1 : 0);
  data.realtime.set_elapsed(120);
  HousekeepingTick tick = MakeTick();
  for (int t = 0; t < 60; ++t) tick.Run(true, 21);
  const TickReport report = tick.Run(true, 21);
  ASSERT_TRUE(report.submitted);
  ASSERT_EQ(urls.size(), 1u);
  EXPECT_EQ(urls[0],
            "http://www.zqtmap.com/log2.asp?AID=1234&GID=5678&CPM=21&ACPM=20.00&uSV=0.136500&type=VWR2.75");
}

}  // namespace
}  // namespace norvane
