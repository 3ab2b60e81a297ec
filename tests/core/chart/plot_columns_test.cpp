#include <gtest/gtest.h>

#include <cmath>

#include "core/chart/plot_columns.h"
#include "core/history/record_stream.h"
#include "core/store/poisson_interval.h"
#include "tests/common/temp_dir.h"

namespace norvane::chart {
namespace {

using store::Second;
using testing::TempDir;

constexpr int64_t kDay0 = 1'772'323'200;  // 2026-03-01 00:00:00 UTC

TEST(PlanColumnsTest, StepsAreAlignedSoPanningKeepsColumns) {
  const ColumnPlan a = PlanColumns(kDay0 + 1000, kDay0 + 1000 + 86400, 1000);
  EXPECT_EQ(a.step, 120);  // 87 s rounded up to whole minutes
  EXPECT_EQ(a.from % a.step, 0);
  EXPECT_LE(a.from, kDay0 + 1000);
  EXPECT_GE(a.End(), kDay0 + 1000 + 86400);
  const ColumnPlan b = PlanColumns(kDay0 + 1000 + 1200, kDay0 + 1000 + 1200 + 86400, 1000);
  EXPECT_EQ(b.from - a.from, 1200);
  EXPECT_EQ(b.count, a.count);
  // A year: whole hours, each column starting on an hour.
  const ColumnPlan year = PlanColumns(kDay0 + 17, kDay0 + 17 + 365 * 86400, 1000);
  EXPECT_EQ(year.step, 9 * 3600);
  EXPECT_EQ(year.from % 3600, 0);
  EXPECT_EQ(PlanColumns(0, 30, 1000).step, 1);
  EXPECT_EQ(PlanColumns(5, 5, 1000).count, 0u);
}

class ColumnsFromStore : public ::testing::Test {
 protected:
  void SetUp() override {
    db_.emplace(dir_ / "store.sqlite");
    counter_ = db_->RegisterCounter({"GC-test 1.0", "GC", "GC-test", "/dev/null", ""}, kDay0);
    std::vector<Second> seconds;
    // Two hours at 1 count a second, then an hour's gap, then an hour at 3 a second except a
    // minute of 10 a second in its middle.
    for (int64_t t = 0; t < 7200; ++t) seconds.push_back({kDay0 + t, 1});
    for (int64_t t = 3 * 3600; t < 4 * 3600; ++t) seconds.push_back({kDay0 + t, t / 60 == 210 ? 10u : 3u});
    db_->AppendSeconds(counter_, seconds);
  }
  TempDir dir_;
  std::optional<store::Store> db_;
  store::CounterId counter_ = 0;
};

TEST_F(ColumnsFromStore, GapsAreNaNAndTheBandHoldsTheBusiestMinute) {
  const ColumnPlan plan = PlanColumns(kDay0, kDay0 + 4 * 3600, 48);  // 5-minute columns
  const store::Series series = db_->Query(counter_, plan.from, plan.End(), plan.count);
  const PlotColumns c = ColumnsOf(series, 0, 0, Unit::kCpm, kDefaultConversionTable);
  ASSERT_EQ(c.mean.size(), 48u);
  EXPECT_DOUBLE_EQ(c.mean[0], 60.0);
  EXPECT_DOUBLE_EQ(c.low[0], 60.0);
  EXPECT_DOUBLE_EQ(c.time[0], double(kDay0) + 150.0);
  for (size_t i = 24; i < 36; ++i) EXPECT_TRUE(std::isnan(c.mean[i]) && std::isnan(c.high[i])) << i;
  // Minute 210 lies in column 42: its band reaches 600 CPM while its mean is a fifth of the way.
  EXPECT_DOUBLE_EQ(c.high[42], 600.0);
  EXPECT_DOUBLE_EQ(c.low[42], 180.0);
  EXPECT_DOUBLE_EQ(c.mean[42], (4 * 180.0 + 600.0) / 5);
  EXPECT_FALSE(c.raw);
  // Seconds: one column each, no band, the count as a rate.
  const store::Series raw = db_->Query(counter_, kDay0 + 210 * 60 - 5, kDay0 + 210 * 60 + 5, 10);
  const PlotColumns r = ColumnsOf(raw, 0, 0, Unit::kCpm, kDefaultConversionTable);
  EXPECT_TRUE(r.raw);
  EXPECT_DOUBLE_EQ(r.mean[4], 180.0);
  EXPECT_DOUBLE_EQ(r.mean[5], 600.0);
  EXPECT_DOUBLE_EQ(r.high[5], r.low[5]);
  // Dose rates follow the calibration.
  const PlotColumns u = ColumnsOf(raw, 0, 0, Unit::kUsvPerHour, kDefaultConversionTable);
  EXPECT_DOUBLE_EQ(u.mean[5], store::DoseRate(kDefaultConversionTable, 600.0));
}

TEST_F(ColumnsFromStore, MovingAverageLooksBackOverItsWindowAndSkipsGaps) {
  // One-minute columns over the last hour with a ten-minute average: ten lead columns.
  const int64_t from = kDay0 + 3 * 3600;
  const store::Series series = db_->Query(counter_, from - 600, from + 3600, 70);
  ASSERT_EQ(series.step, 60);
  const PlotColumns c = ColumnsOf(series, 10, 600, Unit::kCpm, kDefaultConversionTable);
  ASSERT_EQ(c.moving.size(), 60u);
  // Right after the gap the window holds only the new minute.
  EXPECT_DOUBLE_EQ(c.moving[0], 180.0);
  // The busy minute (30) lifts the ten windows that hold it by 420/10 CPM, and no others.
  EXPECT_DOUBLE_EQ(c.moving[29], 180.0);
  for (size_t i = 30; i < 40; ++i) EXPECT_DOUBLE_EQ(c.moving[i], 180.0 + 42.0) << i;
  EXPECT_DOUBLE_EQ(c.moving[40], 180.0);
  // Windows wholly inside the gap have nothing to average.
  const store::Series gap = db_->Query(counter_, kDay0 + 7200, kDay0 + 3 * 3600, 60);
  const PlotColumns g = ColumnsOf(gap, 0, 600, Unit::kCpm, kDefaultConversionTable);
  EXPECT_TRUE(std::isnan(g.moving[30]));
}

TEST(HistoryLineTest, RecordsAreStepsOfTheirOwnLengthBrokenWhereTheyDoNotMeet) {
  const std::vector<store::HistoryRecord> records = {
      {kDay0, kEveryMinute, 20}, {kDay0 + 60, kEveryMinute, 30},  // two minutes that meet
      {kDay0 + 600, kEveryHour, 25},                              // an hour after a gap
      {kDay0 + 7200, kEverySecond, 2},                            // a second: 120 CPM
  };
  const HistoryLine line = HistoryLineOf(records, 1, Unit::kCpm, kDefaultConversionTable);
  const std::vector<double> times = {double(kDay0), double(kDay0 + 60), double(kDay0 + 120), double(kDay0 + 120),
                                     double(kDay0 + 600), double(kDay0 + 4200), double(kDay0 + 4200),
                                     double(kDay0 + 7200), double(kDay0 + 7201), double(kDay0 + 7201)};
  EXPECT_EQ(line.time, times);
  ASSERT_EQ(line.value.size(), times.size());
  EXPECT_EQ(line.value[0], 20);
  EXPECT_EQ(line.value[1], 30);
  EXPECT_EQ(line.value[2], 30);
  EXPECT_TRUE(std::isnan(line.value[3]));
  EXPECT_EQ(line.value[4], 25);
  EXPECT_EQ(line.value[7], 120);
  // Columns of an hour average the minutes inside them.
  const HistoryLine coarse = HistoryLineOf(records, 3600, Unit::kCpm, kDefaultConversionTable);
  ASSERT_FALSE(coarse.value.empty());
  EXPECT_DOUBLE_EQ(coarse.value[0], 25.0);  // the two minutes: (20 + 30) / 2
  EXPECT_EQ(coarse.time[0], double(kDay0));
}

}  // namespace
}  // namespace norvane::chart
