// Which clock commands each counter gets, and when the realtime poll syncs the clock.
#include "core/tools/clock_rules.h"

#include <gtest/gtest.h>

#include <string>

namespace norvane {
namespace {

std::string AsText(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

TEST(ClockVariant, FollowsFamilyAndFirmware) {
  EXPECT_EQ(ClockVariantFor(8, 0), ClockVariant::kSingleFrame);
  EXPECT_EQ(ClockVariantFor(4, 100), ClockVariant::kSingleFrame);
  EXPECT_EQ(ClockVariantFor(1, 239), ClockVariant::kSingleFrame);
  // The boundaries of the per-field firmware, both ends included.
  EXPECT_EQ(ClockVariantFor(1, 238), ClockVariant::kPerField);
  EXPECT_EQ(ClockVariantFor(3, 223), ClockVariant::kPerField);
  EXPECT_EQ(ClockVariantFor(1, 230), ClockVariant::kPerField);
  EXPECT_EQ(ClockVariantFor(1, 222), ClockVariant::kNone);
  EXPECT_EQ(ClockVariantFor(0, 0), ClockVariant::kNone);
}

TEST(ClockVariant, GetClockChecks) {
  EXPECT_FALSE(GetClockOffered("RadonMax Re 1.05"));
  EXPECT_TRUE(GetClockOffered("ZQT-400Re 4.21"));
  // Above 2.23, not at it; the two models with a clock from the start pass at any version.
  EXPECT_TRUE(GetClockAllowed(224, "ZQT-100Re 2.24"));
  EXPECT_FALSE(GetClockAllowed(223, "ZQT-100Re 2.23"));
  EXPECT_TRUE(GetClockAllowed(100, "ZQT-200Re 1.00"));
  EXPECT_TRUE(GetClockAllowed(0, "ZQT-400"));
  // The request itself needs the single-frame firmware: 2.30 on family 1 passes the first check
  // but never asks.
  EXPECT_TRUE(GetClockAllowed(230, "ZQT-100Re 2.30"));
  EXPECT_FALSE(GetClockRequestAllowed(1, 230));
  EXPECT_TRUE(GetClockRequestAllowed(1, 239));
  EXPECT_TRUE(GetClockRequestAllowed(4, 0));
}

TEST(ClockFrames, CarryTheLocalTimeAsBytes) {
  const LocalTime t{2026, 3, 7, 9, 5, 4};
  const std::vector<uint8_t> single = SingleClockFrame(t);
  EXPECT_EQ(single.size(), 20u);
  EXPECT_EQ(AsText(single), std::string("<SETDATETIME\x1A\x03\x07\x09\x05\x04>>"));

  const auto fields = PerFieldClockFrames(t);
  const char* expected[] = {"<SETDATEYY\x1A>>", "<SETDATEMM\x03>>", "<SETDATEDD\x07>>",
                            "<SETTIMEHH\x09>>", "<SETTIMEMM\x05>>", "<SETTIMESS\x04>>"};
  for (size_t i = 0; i < fields.size(); ++i) {
    EXPECT_EQ(fields[i].size(), 13u);
    EXPECT_EQ(AsText(fields[i]), expected[i]);
  }
  // Midnight on New Year's Eve of 2099: every byte at its edge.
  EXPECT_EQ(AsText(SingleClockFrame({2099, 12, 31, 23, 59, 59})), std::string("<SETDATETIME\x63\x0C\x1F\x17\x3B\x3B>>"));
  EXPECT_EQ(ClockText(ClockBytes(t)), "2026-03-07 09:05:04");
}

TEST(PeriodicClockSync, EveryPeriodOfHours) {
  // Period 24 on a family-8 counter: once a day of polling, never between.
  EXPECT_FALSE(PeriodicClockSyncDue(8, 421, 24, false, 3600));
  EXPECT_TRUE(PeriodicClockSyncDue(8, 421, 24, false, 86400));
  EXPECT_FALSE(PeriodicClockSyncDue(8, 421, 24, false, 86401));
  EXPECT_TRUE(PeriodicClockSyncDue(8, 421, 24, false, 172800));
  // Period 0 switches it off; the first poll of all (0 s) never syncs.
  for (uint64_t tick : {uint64_t{3600}, uint64_t{86400}, uint64_t{0}}) EXPECT_FALSE(PeriodicClockSyncDue(8, 421, 0, false, tick));
  EXPECT_FALSE(PeriodicClockSyncDue(8, 421, 1, false, 0));
}

TEST(PeriodicClockSync, RetryUnitAndOldFirmware) {
  // After a failure the unit drops to 30 s: period 1 tries again every 30 s.
  EXPECT_TRUE(PeriodicClockSyncDue(8, 421, 1, true, 30));
  EXPECT_TRUE(PeriodicClockSyncDue(8, 421, 1, true, 90));
  EXPECT_FALSE(PeriodicClockSyncDue(8, 421, 1, true, 45));
  EXPECT_FALSE(PeriodicClockSyncDue(8, 421, 1, false, 30));
  // Family 1 at 2.38 never syncs by itself; at 2.39 it does.
  EXPECT_FALSE(PeriodicClockSyncDue(1, 238, 1, false, 3600));
  EXPECT_TRUE(PeriodicClockSyncDue(1, 239, 1, false, 3600));
  // A period as large as the setting can hold does not wrap round to a small one.
  EXPECT_FALSE(PeriodicClockSyncDue(8, 421, 0x80000000u, false, uint64_t{0x80000000u} * 3600 / 2));
  EXPECT_TRUE(PeriodicClockSyncDue(8, 421, 0x80000000u, false, uint64_t{0x80000000u} * 3600));
}

}  // namespace
}  // namespace norvane
