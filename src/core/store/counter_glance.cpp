#include "core/store/counter_glance.h"

namespace norvane::store {

CounterGlance Glance(CounterStore& store, CounterId counter, int64_t now) {
  CounterGlance glance;
  glance.counter = counter;
  glance.last = store.NewestSecond(counter);
  if (!glance.last) return glance;
  const Aggregate minute = store.Totals(counter, *glance.last - 59, *glance.last + 1);
  if (minute.measured) glance.last_cpm = 60.0 * double(minute.sum) / double(minute.measured);
  const int64_t from = now + 1 - kGlanceStretch;
  glance.coverage = double(store.Totals(counter, from, now + 1).measured) / double(kGlanceStretch);
  glance.quality = StretchQuality(store, counter, from, now + 1);
  return glance;
}

}  // namespace norvane::store
