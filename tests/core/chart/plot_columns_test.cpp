#include <gtest/gtest.h>

#include <cmath>
#include <ctime>
#include <fstream>

#include "core/chart/plot_columns.h"
#include "core/store/store.h"
#include "core/store/store_chart_queries.h"
#include "core/history/record_stream.h"
#include "core/store/poisson_interval.h"
#include "core/store/seconds_journal.h"
#include "sim/history_generator.h"
#include "tests/common/temp_dir.h"
#include "tests/core/store/time_zone.h"

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
  // A month and two weeks: whole hours, not 44- or 21-minute columns of the stored minutes; a week
  // whole ten minutes (20-minute columns, not 11), so that it reads the ten-minute summaries.
  EXPECT_EQ(PlanColumns(kDay0, kDay0 + 30 * 86400, 1000).step, 3600);
  EXPECT_EQ(PlanColumns(kDay0, kDay0 + 14 * 86400, 1000).step, 3600);
  EXPECT_EQ(PlanColumns(kDay0, kDay0 + 7 * 86400, 1000).step, 1200);
  EXPECT_EQ(PlanColumns(kDay0, kDay0 + 3 * 86400, 1000).step, 300);
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

// The newest seconds wait in a writer's journal until it folds them into the table: they are
// drawn at every span, those read from the table's minute totals among them.
TEST_F(ColumnsFromStore, JournaledSecondsAreDrawnAtEverySpan) {
  {
    std::ofstream journal(store::NewJournalPath(dir_ / "store.sqlite"));
    journal << store::JournalHeader(db_->id());
    for (int64_t t = 4 * 3600; t < 4 * 3600 + 1800; ++t) journal << store::JournalLine({counter_, {kDay0 + t, 2}});
  }
  store::Store reader(dir_ / "store.sqlite", store::Store::Access::kReadOnly);
  const int64_t journaled = kDay0 + 4 * 3600 + 900;
  for (int64_t span : {int64_t{6 * 3600}, int64_t{86400}, int64_t{30 * 86400}}) {
    const ColumnPlan plan = PlanColumns(kDay0, kDay0 + span, 1000);
    const PlotColumns c = SecondsColumns(reader, counter_, plan, 0, Unit::kCpm, kDefaultConversionTable);
    EXPECT_DOUBLE_EQ(c.mean[static_cast<size_t>((journaled - plan.from) / plan.step)], 120.0) << span;
    EXPECT_DOUBLE_EQ(c.mean[0], 60.0) << span;
  }
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

// A flash image written as the counter writes it: per session a stamp (UTC here) and its values.
struct Session {
  int64_t start;
  uint8_t save_type;
  std::vector<uint32_t> values;
};
std::vector<uint8_t> ImageOf(const std::vector<Session>& sessions) {
  std::vector<uint8_t> image(0x10000, 0xFF);
  uint32_t end = 0;
  for (const Session& s : sessions) {
    std::tm t{};
    const std::time_t start = s.start;
    gmtime_r(&start, &t);
    const uint8_t stamp[] = {kMarker0, kMarker1, kCodeStamp, uint8_t(t.tm_year - 100), uint8_t(t.tm_mon + 1),
                             uint8_t(t.tm_mday), uint8_t(t.tm_hour), uint8_t(t.tm_min), uint8_t(t.tm_sec),
                             kMarker0, kMarker1, s.save_type};
    std::copy(std::begin(stamp), std::end(stamp), image.begin() + end);
    end += sizeof stamp;
    for (uint32_t v : s.values) EXPECT_TRUE(sim::AppendSample(image, end, v));
  }
  return image;
}

class DownloadsInStore : public ::testing::Test {
 protected:
  void Import(const std::vector<Session>& sessions) {
    const std::vector<uint8_t> image = ImageOf(sessions);
    db_.ImportHistory(counter_, ImageView(image.data(), image.size()), clock_);
  }
  const testing::TimeZone zone_{"UTC"};
  TempDir dir_;
  SystemClock clock_;
  store::Store db_{dir_ / "store.sqlite"};
  store::CounterId counter_ = db_.RegisterCounter({"ZQT-400 1.0", "4", "ZQT-400", "/dev/null", ""}, kDay0);
};

TEST_F(DownloadsInStore, RecordsCoverTheirOwnLengthAndColumnsWeighThemBySeconds) {
  Import({{kDay0, kEveryMinute, {20, 30}}, {kDay0 + 600, kEveryHour, {25}}, {kDay0 + 7200, kEverySecond, {2}}});
  const ColumnPlan seconds = PlanColumns(kDay0, kDay0 + 7260, 7260);
  const PlotColumns fine = DownloadColumns(db_, counter_, seconds, Unit::kCpm, kDefaultConversionTable);
  EXPECT_DOUBLE_EQ(fine.mean[30], 20.0);
  EXPECT_DOUBLE_EQ(fine.mean[90], 30.0);
  EXPECT_TRUE(std::isnan(fine.mean[300]));  // between the minutes and the hour
  EXPECT_DOUBLE_EQ(fine.mean[4199], 25.0);  // the hour record covers its whole hour
  EXPECT_TRUE(std::isnan(fine.mean[4200]));
  EXPECT_DOUBLE_EQ(fine.mean[7200], 120.0);  // a per-second record: its count as a rate
  // An hour's column holds the minutes and the hour by the seconds they cover, and their extremes.
  const ColumnPlan hours = PlanColumns(kDay0, kDay0 + 2 * 3600, 2);
  const PlotColumns coarse = DownloadColumns(db_, counter_, hours, Unit::kCpm, kDefaultConversionTable);
  EXPECT_DOUBLE_EQ(coarse.mean[0], (20.0 + 30.0 + 25.0 * 60) / (60 + 60 + 3600) * 60);
  EXPECT_DOUBLE_EQ(coarse.low[0], 20.0);
  EXPECT_DOUBLE_EQ(coarse.high[0], 30.0);
}

// A one-minute peak, measured live and downloaded, keeps its height at every width of view: the
// drawn maximum is the peak's own CPM from a year down to a minute.
TEST_F(DownloadsInStore, AOneMinutePeakIsDrawnAtItsValueAtEverySpan) {
  constexpr uint32_t kLivePeak = 429 * 60, kDownloadedPeak = 25755;
  const int64_t live_peak = kDay0 + 3600 + 17 * 60, downloaded_peak = kDay0 + 40 * 86400 + 3600 + 23 * 60;
  std::vector<Second> seconds;
  for (int64_t t = kDay0; t < kDay0 + 3 * 3600; ++t)
    seconds.push_back({t, t >= live_peak && t < live_peak + 60 ? 429u : uint32_t(t % 3 == 0)});
  db_.AppendSeconds(counter_, seconds);
  std::vector<uint32_t> minutes(180, 20);
  minutes[(downloaded_peak - (kDay0 + 40 * 86400)) / 60] = kDownloadedPeak;
  Import({{kDay0 + 40 * 86400, kEveryMinute, minutes}});

  const auto highest = [](const PlotColumns& c) {
    double top = 0;
    for (double h : c.high)
      if (!std::isnan(h)) top = std::max(top, h);
    return top;
  };
  for (int64_t span : {365 * 86400, 30 * 86400, 7 * 86400, 86400, 3600, 600, 60}) {
    const ColumnPlan live = PlanColumns(live_peak + 30 - span / 2, live_peak + 30 + span / 2, 1000);
    EXPECT_DOUBLE_EQ(highest(SecondsColumns(db_, counter_, live, 0, Unit::kCpm, kDefaultConversionTable)), kLivePeak)
        << span;
    const ColumnPlan downloaded = PlanColumns(downloaded_peak + 30 - span / 2, downloaded_peak + 30 + span / 2, 1000);
    EXPECT_DOUBLE_EQ(highest(DownloadColumns(db_, counter_, downloaded, Unit::kCpm, kDefaultConversionTable)),
                     kDownloadedPeak)
        << span;
  }
}

// The first seconds of a recording, a few counts in a few seconds, are drawn with the uncertainty
// they carry: never as a minute of their busiest second.
TEST_F(DownloadsInStore, AMinuteMeasuredInPartIsNoSpike) {
  db_.AppendSeconds(counter_, std::vector<Second>{{kDay0 + 50, 3}, {kDay0 + 51, 0}, {kDay0 + 52, 0}, {kDay0 + 53, 0}});
  const ColumnPlan day = PlanColumns(kDay0, kDay0 + 86400, 1000);  // two-minute columns
  const PlotColumns c = SecondsColumns(db_, counter_, day, 0, Unit::kCpm, kDefaultConversionTable);
  EXPECT_DOUBLE_EQ(c.mean[0], 45.0);
  EXPECT_LT(c.high[0], 180.0);
  EXPECT_GT(c.high[0], c.mean[0]);
  EXPECT_LT(c.low[0], c.mean[0]);
}

}  // namespace
}  // namespace norvane::chart
