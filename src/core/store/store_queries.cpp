// Reading the store back: seconds, chart series, totals, statistics and spans.
#include "core/store/poisson_interval.h"
#include "core/store/store.h"
#include "core/store/store_reading.h"
#include "core/store/store_statements.h"

namespace norvane::store {

Aggregate SummaryAggregate(const Statement& row) {
  Aggregate a;
  a.sum = static_cast<uint64_t>(row.Int(1));
  a.measured = static_cast<uint64_t>(row.Int(2));
  a.min_second = static_cast<uint32_t>(row.Int(3));
  a.max_second = static_cast<uint32_t>(row.Int(4));
  a.full_minutes = static_cast<uint64_t>(row.Int(5));
  a.min_cpm = static_cast<uint32_t>(row.Int(6));
  a.max_cpm = static_cast<uint32_t>(row.Int(7));
  a.max_cpm_at = row.Int(8);
  return a;
}

Stats StatsOf(std::span<const Stretch> stretches, int64_t from, int64_t to, const DoseScale& scale) {
  Stats stats;
  if (from >= to) return stats;
  Aggregate total;
  for (const Stretch& s : stretches) total.Merge(s.totals);
  stats.measured_seconds = total.measured;
  stats.counts = total.sum;
  stats.coverage = double(total.measured) / double(to - from);
  if (total.measured == 0) return stats;
  // Counts in a measured time are Poisson: the interval for the total count, scaled to a rate.
  const double per_count = 60.0 / double(total.measured);
  const Interval counts = PoissonInterval95(total.sum);
  stats.mean_cpm = double(total.sum) * per_count;
  stats.cpm_low = counts.low * per_count;
  stats.cpm_high = counts.high * per_count;
  // Each stretch's dose comes from its own mean rate. The table is linear within a segment (and
  // a calibration linear throughout), so that equals the sum of the minutes' doses wherever the
  // rate stays within one segment, as background does; a dead-time correction grows faster than
  // the rate, but at background rates it is a fraction of a percent.
  for (const Stretch& s : stretches) {
    if (s.totals.measured == 0) continue;
    const double cpm = double(s.totals.sum) * 60.0 / double(s.totals.measured);
    stats.dose_usv += scale.UsvPerHour(cpm, s.from) * double(s.totals.measured) / 3600.0;
    if (s.totals.full_minutes) {
      const double peak = scale.UsvPerHour(s.totals.max_cpm, s.totals.max_cpm_at);
      stats.max_usv_h = std::max(stats.max_usv_h.value_or(peak), peak);
    }
  }
  stats.mean_usv_h = stats.dose_usv * 3600.0 / double(total.measured);
  if (total.full_minutes) {
    stats.max_cpm = total.max_cpm;
    stats.max_cpm_at = total.max_cpm_at;
  }
  stats.dead_time_capped = scale.capped();
  return stats;
}

std::vector<Second> Store::ReadSeconds(CounterId counter, int64_t from, int64_t to, size_t limit) {
  return SecondsOf([&](int64_t a, int64_t b, auto visit) { ForEachMinute(counter, a, b, visit); }, from, to, limit);
}

Series Store::Query(CounterId counter, int64_t from, int64_t to, size_t points) {
  return SeriesOf([&](int64_t a, int64_t b, auto visit) { ForEachMinute(counter, a, b, visit); },
                  [&](int64_t level, int64_t a, int64_t b, auto visit) { ForEachSummary(counter, level, a, b, visit); },
                  from, to, points);
}

Aggregate Store::Totals(CounterId counter, int64_t from, int64_t to) {
  return TotalsOf([&](int64_t a, int64_t b, auto visit) { ForEachMinute(counter, a, b, visit); },
                  [&](int64_t level, int64_t a, int64_t b, auto visit) { ForEachSummary(counter, level, a, b, visit); },
                  from, to);
}

CounterSpan Store::Span(CounterId counter) {
  CounterSpan span;
  MeasuredSpan([&](int64_t a, int64_t b, auto visit) { ForEachMinute(counter, a, b, visit); }, span);
  Statement history(database().handle(), "SELECT count(*), min(time), max(time) FROM history WHERE counter = ?1");
  history.Bind(1, counter);
  if (history.Step()) {
    span.history_records = static_cast<uint64_t>(history.Int(0));
    span.history_first = history.Int(1);
    span.history_last = history.Int(2);
  }
  Statement notes(database().handle(), "SELECT count(*) FROM notes WHERE counter = ?1");
  notes.Bind(1, counter);
  if (notes.Step()) span.notes = static_cast<uint64_t>(notes.Int(0));
  return span;
}

}  // namespace norvane::store
