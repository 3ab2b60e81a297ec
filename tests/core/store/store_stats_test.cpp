#include <gtest/gtest.h>

#include <cmath>

#include "core/platform/store_location.h"
#include "core/store/poisson_interval.h"
#include "core/store/store.h"
#include "core/store/store_time.h"
#include "tests/common/temp_dir.h"
#include "tests/core/store/any_store.h"
#include "tests/core/store/time_zone.h"

namespace norvane::store {
namespace {

using testing::TempDir;

// 2026-03-01 00:00:00 UTC.
constexpr int64_t kMarch1 = 1'772'323'200;

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
