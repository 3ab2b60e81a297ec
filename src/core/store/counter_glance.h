// What the long-term chart's counter list tells of each counter at a glance.
#pragma once

#include <cstdint>
#include <optional>

#include "core/store/counter_store.h"
#include "core/store/store_quality.h"

namespace norvane::store {

inline constexpr int64_t kGlanceStretch = 86400;  // the last day, up to now

struct CounterGlance {
  CounterId counter = 0;
  std::optional<int64_t> last;     // its newest measured second
  std::optional<double> last_cpm;  // over the measured seconds of the minute up to `last`
  double coverage = 0;             // share of the last kGlanceStretch seconds measured
  std::optional<DayQuality> quality;  // the last kGlanceStretch seconds judged; none when unmeasured
};

CounterGlance Glance(CounterStore& store, CounterId counter, int64_t now);

}  // namespace norvane::store
