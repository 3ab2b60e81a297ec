#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <sstream>

#include "core/common/text_format.h"
#include "core/platform/store_location.h"
#include "core/store/poisson_interval.h"
#include "core/store/store.h"
#include "core/store/store_export.h"
#include "core/store/store_time.h"
#include "tests/common/temp_dir.h"
#include "tests/core/store/any_store.h"
#include "tests/core/store/time_zone.h"

namespace norvane::store {
namespace {

using testing::TempDir;

// 2026-03-01 00:00:00 UTC.
constexpr int64_t kMarch1 = 1'772'323'200;
constexpr int64_t kHour = 3600;

TEST(PoissonIntervalTest, ExactBoundsForSmallCountsAndNormalForLarge) {
  // Garwood's tabulated 95 % limits.
  const Interval zero = PoissonInterval95(0);
  EXPECT_DOUBLE_EQ(zero.low, 0.0);
  EXPECT_NEAR(zero.high, 3.689, 0.001);
  const Interval ten = PoissonInterval95(10);
  EXPECT_NEAR(ten.low, 4.795, 0.001);
  EXPECT_NEAR(ten.high, 18.390, 0.001);
  const Interval hundred = PoissonInterval95(100);
  EXPECT_NEAR(hundred.low, 81.364, 0.001);
  EXPECT_NEAR(hundred.high, 121.627, 0.001);
  // Above the exact range: n ± 1.96 √n, and where the method changes the bounds move by less
  // than a third of a percent.
  const Interval large = PoissonInterval95(40000);
  EXPECT_NEAR(large.low, 40000 - 1.96 * 200, 0.1);
  EXPECT_NEAR(large.high, 40000 + 1.96 * 200, 0.1);
  const Interval below = PoissonInterval95(999), above = PoissonInterval95(1000);
  EXPECT_NEAR(below.low + 1, above.low, 0.003 * 1000);
  EXPECT_NEAR(below.high + 1, above.high, 0.003 * 1000);
}

TEST(PoissonIntervalTest, DoseRateOfFractionalRatesFollowsTheTable) {
  EXPECT_DOUBLE_EQ(DoseRate(kDefaultConversionTable, 0), 0.0);
  EXPECT_NEAR(DoseRate(kDefaultConversionTable, 60), DoseRateFromCpm(kDefaultConversionTable, 60), 1e-6);
  const double between = DoseRate(kDefaultConversionTable, 120.5);
  EXPECT_GT(between, DoseRateFromCpm(kDefaultConversionTable, 120));
  EXPECT_LT(between, DoseRateFromCpm(kDefaultConversionTable, 121));
}

using StoreStatsTest = AnyStoreTest;
INSTANTIATE_TEST_SUITE_P(Stores, StoreStatsTest, ::testing::Values(Backend::kSqlite, Backend::kPostgres), BackendName);

TEST_P(StoreStatsTest, SmallRangeAgreesWithAHandCalculation) {
  const std::unique_ptr<CounterStore> opened = Open();
  CounterStore& s = *opened;
  const CounterId c = s.RegisterCounter({"V", "1", "ZQT-400", "", ""}, kMarch1);
  // Minute 0: 60 seconds of 1 count (CPM 60). Minute 1: 60 seconds, 2 counts each in the
  // first 30 (CPM 60 too, the later peak loses). Minute 2: 30 seconds of 4 (not whole). Then a
  // gap, and minute 10 whole with 3 counts a second (CPM 180).
  std::vector<Second> seconds;
  for (int i = 0; i < 60; ++i) seconds.push_back({kMarch1 + i, 1});
  for (int i = 0; i < 60; ++i) seconds.push_back({kMarch1 + 60 + i, i < 30 ? 2u : 0u});
  for (int i = 0; i < 30; ++i) seconds.push_back({kMarch1 + 120 + i, 4});
  for (int i = 0; i < 60; ++i) seconds.push_back({kMarch1 + 600 + i, 3});
  s.AppendSeconds(c, seconds);

  const Stats st = s.ComputeStats(c, kMarch1, kMarch1 + 900, kDefaultConversionTable);
  // 210 measured seconds, 60 + 60 + 120 + 180 = 420 counts: 120 CPM.
  EXPECT_EQ(st.measured_seconds, 210u);
  EXPECT_EQ(st.counts, 420u);
  EXPECT_NEAR(st.coverage, 210.0 / 900.0, 1e-12);
  EXPECT_NEAR(st.mean_cpm, 120.0, 1e-9);
  // The exact interval of 420 counts, as a rate over 3.5 minutes.
  const Interval counts = PoissonInterval95(420);
  EXPECT_NEAR(st.cpm_low, counts.low / 3.5, 1e-9);
  EXPECT_NEAR(st.cpm_high, counts.high / 3.5, 1e-9);
  EXPECT_LT(st.cpm_low, 120.0);
  EXPECT_GT(st.cpm_high, 120.0);
  ASSERT_TRUE(st.max_cpm);
  EXPECT_EQ(*st.max_cpm, 180u);
  EXPECT_EQ(st.max_cpm_at, kMarch1 + 600);
  // 120 CPM on the default table (0.39 µSv/h at 60 CPM, same slope up to 240): 0.78 µSv/h.
  EXPECT_NEAR(st.mean_usv_h, 0.78, 1e-4);
  EXPECT_NEAR(*st.max_usv_h, 1.17, 1e-4);
  EXPECT_NEAR(st.dose_usv, 0.78 * 210 / 3600, 1e-6);

  // Cutting into minute 0 and 10: their counts still count, but no longer as whole minutes.
  const Stats cut = s.ComputeStats(c, kMarch1 + 30, kMarch1 + 630, kDefaultConversionTable);
  EXPECT_EQ(cut.counts, 30u + 60 + 120 + 90);
  ASSERT_TRUE(cut.max_cpm);
  EXPECT_EQ(*cut.max_cpm, 60u);
  EXPECT_EQ(cut.max_cpm_at, kMarch1 + 60);

  const Stats empty = s.ComputeStats(c, kMarch1 + 200, kMarch1 + 500, kDefaultConversionTable);
  EXPECT_EQ(empty.measured_seconds, 0u);
  EXPECT_FALSE(empty.max_cpm);
}

// The usv_h of each tidy row by its time text.
std::map<std::string, std::string> TidyDoses(CounterStore& s, CounterId c, int64_t from, int64_t to, const Clock& clock) {
  std::string text;
  BuildTidyExport(s, c, from, to, TidyFormat::kCsv, kDefaultConversionTable, clock, [&](std::string_view rows) {
    text += rows;
    return true;
  });
  std::map<std::string, std::string> doses;
  std::istringstream lines(text);
  std::string line;
  std::getline(lines, line);  // the column names
  while (std::getline(lines, line)) {
    std::vector<std::string> cells;
    std::istringstream row(line);
    for (std::string cell; std::getline(row, cell, ',');) cells.push_back(cell);
    doses[cells.at(0)] = cells.at(5);
  }
  return doses;
}

TEST_P(StoreStatsTest, ACalibrationAddedLaterConvertsOnlyTheSecondsFromItsTimeAndLeavesTheCounts) {
  const testing::TimeZone utc("UTC");
  SystemClock clock;
  const std::unique_ptr<CounterStore> opened = Open();
  CounterStore& s = *opened;
  const CounterId c = s.RegisterCounter({"V", "1", "ZQT-400", "", ""}, kMarch1);
  const CounterId other = s.RegisterCounter({"W", "1", "ZQT-400", "", ""}, kMarch1);
  // Two hours at 2 counts a second: 120 CPM.
  constexpr uint32_t kPerSecond = 2;
  std::vector<Second> seconds;
  for (int64_t t = kMarch1; t < kMarch1 + 2 * kHour; ++t) seconds.push_back({t, kPerSecond});
  s.AppendSeconds(c, seconds);
  s.AppendSeconds(other, seconds);
  const auto stats = [&](CounterId id, int64_t from, int64_t to) {
    return s.ComputeStats(id, from, to, kDefaultConversionTable);
  };
  const Stats before = stats(c, kMarch1, kMarch1 + 2 * kHour);
  const auto doses_before = TidyDoses(s, c, kMarch1, kMarch1 + 2 * kHour, clock);

  // Taken from half a minute into the second hour: the seconds from there on take it.
  const int64_t from = kMarch1 + kHour + 30;
  const Calibration calibration{from, 0.0125, 0};
  s.AddCalibration(c, calibration);
  EXPECT_EQ(s.Calibrations(c), std::vector<Calibration>{calibration});
  EXPECT_TRUE(s.Calibrations(other).empty());

  EXPECT_EQ(s.ReadSeconds(c, kMarch1, kMarch1 + 2 * kHour), seconds);
  const double cpm = 60.0 * kPerSecond, calibrated = cpm * calibration.usv_per_cpm;
  const Stats first = stats(c, kMarch1, from), second = stats(c, from, kMarch1 + 2 * kHour);
  EXPECT_NEAR(first.mean_usv_h, before.mean_usv_h, 1e-12);
  EXPECT_NEAR(second.mean_usv_h, calibrated, 1e-12);
  const Stats after = stats(c, kMarch1, kMarch1 + 2 * kHour);
  EXPECT_EQ(after.counts, before.counts);
  EXPECT_NEAR(after.mean_cpm, before.mean_cpm, 1e-12);
  EXPECT_NEAR(after.dose_usv, before.mean_usv_h * double(from - kMarch1) / 3600 +
                                  calibrated * double(kMarch1 + 2 * kHour - from) / 3600,
              1e-9);
  EXPECT_NEAR(*after.max_usv_h, calibrated, 1e-12);
  EXPECT_NEAR(stats(other, kMarch1, kMarch1 + 2 * kHour).dose_usv, before.dose_usv, 1e-12);

  // The tidy export, second by second: changed from the calibration's second on, and only there.
  const auto doses = TidyDoses(s, c, kMarch1, kMarch1 + 2 * kHour, clock);
  ASSERT_EQ(doses.size(), seconds.size());
  size_t changed = 0;
  for (const auto& [time, dose] : doses) {
    const bool calibrated_second = time >= FormatTime(from, clock);
    EXPECT_EQ(dose, calibrated_second ? FormatFixed(calibrated, 4) : doses_before.at(time)) << time;
    changed += calibrated_second;
  }
  EXPECT_EQ(changed, static_cast<size_t>(kMarch1 + 2 * kHour - from));

  // The original CSV's minute rows: the first whole minute after the calibration is converted by it.
  const ExportText csv =
      BuildExport(s.ReadSeconds(c, kMarch1, kMarch1 + 2 * kHour), kMarch1, ExportKind::kCsv, WriterOptions{}, clock,
                  ScaleOf(s, c, kDefaultConversionTable));
  const auto row_dose = [&](int64_t minute) {
    const LocalTime t = clock.ToLocal(minute);
    const std::string row = Format("20%02d-%02d-%02d %02d:%02d,", t.year % 100, t.month, t.day, t.hour, t.minute);
    const size_t at = csv.text.find(row);
    if (at == std::string::npos) return std::string();
    const size_t begin = at + row.size();
    return csv.text.substr(begin, csv.text.find(',', begin) - begin);
  };
  EXPECT_EQ(row_dose(kMarch1 + kHour - 60), doses_before.at(FormatTime(kMarch1, clock)));
  EXPECT_EQ(row_dose(kMarch1 + kHour + 60), FormatFixed(calibrated, 4));
}

TEST_P(StoreStatsTest, DeadTimeCorrectsTheRateAndIsHeldBackWhereItWouldRunAway) {
  // Non-paralysable: half the time dead doubles the rate.
  EXPECT_NEAR(CorrectDeadTime(500, 1000).per_second, 1000, 1e-9);
  EXPECT_FALSE(CorrectDeadTime(500, 1000).capped);
  // At and beyond one dead time per count the model has no answer: held at its limit, and said.
  for (const double rate : {950.0, 999.999, 1000.0, 5000.0}) {
    const CorrectedRate r = CorrectDeadTime(rate, 1000);
    EXPECT_TRUE(r.capped) << rate;
    EXPECT_NEAR(r.per_second, rate / (1 - kMaxDeadTimeShare), 1e-6) << rate;
  }
  EXPECT_FALSE(CalibrationProblem({0, 0.01, kMaxDeadTimeUs + 1}).empty());
  EXPECT_FALSE(CalibrationProblem({0, 0, 100}).empty());

  const std::unique_ptr<CounterStore> opened = Open();
  CounterStore& s = *opened;
  const CounterId c = s.RegisterCounter({"V", "1", "ZQT-400", "", ""}, kMarch1);
  // A quiet minute, then a minute of 1000 counts a second, which a 1000 µs dead time cannot give.
  std::vector<Second> seconds;
  for (int i = 0; i < 60; ++i) seconds.push_back({kMarch1 + i, 5});
  for (int i = 60; i < 120; ++i) seconds.push_back({kMarch1 + i, 1000});
  s.AppendSeconds(c, seconds);
  constexpr double kFactor = 0.01, kDeadUs = 1000;
  s.AddCalibration(c, {kMarch1, kFactor, kDeadUs});
  const Stats quiet = s.ComputeStats(c, kMarch1, kMarch1 + 60, kDefaultConversionTable);
  EXPECT_FALSE(quiet.dead_time_capped);
  EXPECT_NEAR(quiet.mean_usv_h, 60 * CorrectDeadTime(5, kDeadUs).per_second * kFactor, 1e-9);
  const Stats busy = s.ComputeStats(c, kMarch1 + 60, kMarch1 + 120, kDefaultConversionTable);
  EXPECT_TRUE(busy.dead_time_capped);
  ASSERT_TRUE(std::isfinite(busy.mean_usv_h) && busy.max_usv_h && std::isfinite(*busy.max_usv_h));
  EXPECT_NEAR(busy.mean_usv_h, 60 * 1000 / (1 - kMaxDeadTimeShare) * kFactor, 1e-6);
}

TEST(StoreTimeTest, LocalTimesAcrossDaylightSavingChanges) {
  const testing::TimeZone berlin("Europe/Berlin");
  SystemClock clock;
  std::string error;
  // 2026-03-29 01:30 CET is 00:30 UTC; one real hour later the clocks show 03:30 CEST.
  const auto before = ParseTime("2026-03-29T01:30", clock, &error);
  const auto after = ParseTime("2026-03-29 03:30", clock, &error);
  ASSERT_TRUE(before && after) << error;
  EXPECT_EQ(*after - *before, 3600);
  EXPECT_EQ(FormatTime(*before, clock), "2026-03-29T01:30:00+01:00");
  EXPECT_EQ(FormatTime(*after, clock), "2026-03-29T03:30:00+02:00");
  // An offset says which of the two 02:30 on the autumn night is meant.
  const auto summer = ParseTime("2026-10-25T02:30:00+02:00", clock, &error);
  const auto winter = ParseTime("2026-10-25T02:30:00+0100", clock, &error);
  ASSERT_TRUE(summer && winter) << error;
  EXPECT_EQ(*winter - *summer, 3600);
  EXPECT_EQ(FormatTime(*winter, clock), "2026-10-25T02:30:00+01:00");
  EXPECT_EQ(ParseTime("2026-03-01Z", clock, &error), kMarch1);
  EXPECT_EQ(ParseTime("2026-03-01", clock, &error), kMarch1 - 3600);

  for (const char* bad : {"2026-02-30", "yesterday", "2026-03-01T25:00", "2026-03-01T10:00+2", "2026-03-01T10:00 x"}) {
    error.clear();
    EXPECT_FALSE(ParseTime(bad, clock, &error)) << bad;
    EXPECT_NE(error.find(bad), std::string::npos) << error;
  }
}

TEST(StoreLocationTest, EnvironmentXdgAndHomeInThatOrder) {
  const auto from = [](std::map<std::string, std::string> env) {
    return StorePathFrom([&env](const char* name) -> std::optional<std::string> {
      const auto it = env.find(name);
      return it == env.end() ? std::nullopt : std::optional(it->second);
    });
  };
  EXPECT_EQ(from({{"NORVANE_STORE", "/x/s.db"}, {"XDG_DATA_HOME", "/d"}, {"HOME", "/h"}}), "/x/s.db");
  EXPECT_EQ(from({{"NORVANE_STORE", ""}, {"XDG_DATA_HOME", "/d"}, {"HOME", "/h"}}),
            "/d/norvane-data-viewer/store.sqlite");
  EXPECT_EQ(from({{"XDG_DATA_HOME", "relative"}, {"HOME", "/h"}}),
            "/h/.local/share/norvane-data-viewer/store.sqlite");
  EXPECT_EQ(from({}), "");
}

}  // namespace
}  // namespace norvane::store
