#include "core/store/store_quality.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "core/store/store.h"
#include "tests/common/temp_dir.h"

namespace norvane::store {
namespace {

constexpr int64_t kDay0 = 1'800'000'000 / 86400 * 86400;  // a UTC midnight
constexpr uint32_t kHour = 3600;

// Each case is a counter of its own with an hour of seconds, so the hour is its whole span.
class QualityRig {
 public:
  QualityRig() : db_(dir_ / "store.sqlite") {}

  // One count a second on average, Poisson, with `change` applied to second i (none: a gap).
  template <typename Change>
  DayQuality Hour(Change change) {
    const CounterId id = db_.RegisterCounter({"ZQT-400 v" + std::to_string(++cases_), "1", "ZQT-400", "", "", "", ""}, kDay0);
    std::poisson_distribution<uint32_t> counts(1.0);
    std::vector<Second> out;
    for (uint32_t i = 0; i < kHour; ++i)
      if (const std::optional<uint32_t> c = change(i, counts(random_))) out.push_back({kDay0 + i, *c});
    db_.AppendSeconds(id, out);
    const std::vector<DayQuality> days = DailyQuality(db_, id, kDay0, kDay0 + 86400);
    EXPECT_EQ(days.size(), 1u);
    return days.empty() ? DayQuality{} : days.front();
  }

 private:
  testing::TempDir dir_;
  Store db_;
  int cases_ = 0;
  std::mt19937 random_{5};
};

bool Says(const DayQuality& q, const std::string& words) {
  for (const std::string& p : q.problems)
    if (p.find(words) != std::string::npos) return true;
  return false;
}

// Stuck, noisy, repeating and silent tubes against a working one, each rule at its edge: the
// longest run of a count or of silence that a working counter shows in a day with a chance of a
// millionth, and 90 % coverage.
TEST(StoreQuality, EachRuleFailsItsDayAtItsEdgeAndAWorkingCounterPasses) {
  QualityRig rig;
  using Count = std::optional<uint32_t>;
  const DayQuality working = rig.Hour([](uint32_t, uint32_t c) -> Count { return c; });
  EXPECT_TRUE(working.problems.empty()) << working.problems.front();
  EXPECT_NEAR(working.dispersion, 1, 0.1);
  EXPECT_DOUBLE_EQ(working.coverage(), 1);

  const DayQuality stuck = rig.Hour([](uint32_t, uint32_t) -> Count { return 1; });
  EXPECT_TRUE(Says(stuck, "steadier")) << stuck.dispersion;
  EXPECT_TRUE(Says(stuck, "the count 1 repeats 3600 seconds"));
  EXPECT_TRUE(Says(rig.Hour([](uint32_t i, uint32_t) -> Count { return i % 2 ? 1 : 2; }), "steadier"));
  const DayQuality noisy = rig.Hour([](uint32_t i, uint32_t c) -> Count { return i % 10 ? c : 10 * c; });
  EXPECT_TRUE(Says(noisy, "wilder")) << noisy.dispersion;

  // The longest run of one count above zero, and of silence, that passes at one count a second,
  // and one second more. The count 1 is the mode, the likeliest to repeat.
  const double n = kHour, p_mode = std::exp(-1.0);
  const auto run_edge = static_cast<uint32_t>(std::floor(1 + std::log(1e-6 / n) / std::log(p_mode)));
  const auto silence_edge = static_cast<uint32_t>(std::floor(std::log(n / 1e-6)));
  const auto run = [](uint32_t length, uint32_t value) {
    return [=](uint32_t i, uint32_t c) -> Count {
      if (i >= 1000 && i < 1000 + length) return value;
      return i == 999 || i == 1000 + length ? std::max(c, 3u) : c;  // the run's edges differ from it
    };
  };
  EXPECT_FALSE(Says(rig.Hour(run(run_edge, 1)), "repeats"));
  const DayQuality repeats = rig.Hour(run(run_edge + 1, 1));
  EXPECT_EQ(repeats.longest_repeat, run_edge + 1);
  EXPECT_TRUE(Says(repeats, "repeats"));
  EXPECT_FALSE(Says(rig.Hour(run(silence_edge, 0)), "no count"));
  const DayQuality silent = rig.Hour(run(silence_edge + 1, 0));
  EXPECT_EQ(silent.longest_silence, silence_edge + 1);
  EXPECT_TRUE(Says(silent, "no count"));

  // 360 seconds missing of the hour leave 90 %, one more fails.
  const auto gap = [](uint32_t missing) {
    return [=](uint32_t i, uint32_t c) -> Count { return i >= 1000 && i < 1000 + missing ? std::nullopt : Count(c); };
  };
  const DayQuality ninety = rig.Hour(gap(kHour / 10));
  EXPECT_DOUBLE_EQ(ninety.coverage(), 0.9);
  EXPECT_FALSE(Says(ninety, "coverage"));
  EXPECT_TRUE(Says(rig.Hour(gap(kHour / 10 + 1)), "coverage"));
}

}  // namespace
}  // namespace norvane::store
