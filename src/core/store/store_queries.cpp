// Reading the store back: seconds, chart series, totals, statistics and spans.
#include <algorithm>
#include <limits>

#include "core/store/poisson_interval.h"
#include "core/store/store.h"
#include "core/store/store_statements.h"

namespace norvane::store {
namespace {

constexpr int64_t kFarFuture = std::numeric_limits<int64_t>::max() / 4;

}  // namespace

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

std::vector<Second> Store::ReadSeconds(CounterId counter, int64_t from, int64_t to, size_t limit) {
  std::vector<Second> out;
  if (from >= to || limit == 0) return out;
  ForEachMinute(counter, from, to, [&](int64_t minute, const MinuteBlock& block) {
    for (int s = 0; s < 60; ++s) {
      const int64_t t = minute * 60 + s;
      if (!block.Has(s) || t < from || t >= to) continue;
      out.push_back({t, block.counts[s]});
      if (out.size() >= limit) return false;
    }
    return true;
  });
  return out;
}

std::vector<Second> Store::SecondsAfter(CounterId counter, int64_t after, size_t limit) {
  return ReadSeconds(counter, after + 1, kFarFuture, limit);
}

Series Store::Query(CounterId counter, int64_t from, int64_t to, size_t points) {
  Series series;
  if (from >= to || points == 0) return series;
  const int64_t length = to - from;
  series.step = std::max<int64_t>(1, CeilDiv(length, static_cast<int64_t>(points)));
  for (int64_t level : {kDay, kHour, int64_t{60}, int64_t{1}}) {
    if (series.step >= level) {
      series.source_level = level;
      break;
    }
  }
  const auto count = static_cast<size_t>(CeilDiv(length, series.step));
  series.points.resize(count);
  for (size_t i = 0; i < count; ++i) series.points[i].start = from + static_cast<int64_t>(i) * series.step;
  const auto point_of = [&](int64_t t) -> SeriesPoint& {
    return series.points[static_cast<size_t>((t - from) / series.step)];
  };

  if (series.source_level == 1) {
    ForEachMinute(counter, from, to, [&](int64_t minute, const MinuteBlock& block) {
      for (int s = 0; s < 60; ++s) {
        const int64_t t = minute * 60 + s;
        if (!block.Has(s) || t < from || t >= to) continue;
        const uint32_t v = block.counts[s];
        Aggregate one;
        one.sum = v;
        one.measured = 1;
        one.min_second = one.max_second = v;
        point_of(t).values.Merge(one);
      }
      return true;
    });
  } else if (series.source_level == 60) {
    // A minute belongs to the point its start falls in; at this zoom a point spans many minutes.
    ForEachMinute(counter, from, to, [&](int64_t minute, const MinuteBlock& block) {
      if (minute * 60 >= from) point_of(minute * 60).values.Merge(MinuteAggregate(block, minute, from, to));
      return true;
    });
  } else {
    ForEachSummary(counter, series.source_level, from, to,
                   [&](int64_t start, const Aggregate& a) { point_of(start).values.Merge(a); });
  }
  return series;
}

Aggregate Store::Totals(CounterId counter, int64_t from, int64_t to) {
  Aggregate total;
  // Whole days from the day summaries, whole hours around them from the hour summaries, and the
  // minutes at the edges from the seconds themselves: at most a few hundred rows for any range.
  const auto cover = [&](auto& self, int64_t a, int64_t b, size_t level_index) -> void {
    static constexpr int64_t kLevels[] = {kDay, kHour};
    if (a >= b) return;
    if (level_index == std::size(kLevels)) {
      ForEachMinute(counter, a, b, [&](int64_t minute, const MinuteBlock& block) {
        total.Merge(MinuteAggregate(block, minute, a, b));
        return true;
      });
      return;
    }
    const int64_t level = kLevels[level_index];
    const int64_t first = CeilDiv(a, level) * level, end = FloorDiv(b, level) * level;
    if (first >= end) {
      self(self, a, b, level_index + 1);
      return;
    }
    ForEachSummary(counter, level, first, end,
                   [&](int64_t, const Aggregate& row) { total.Merge(row); });
    self(self, a, first, level_index + 1);
    self(self, end, b, level_index + 1);
  };
  cover(cover, from, to, 0);
  return total;
}

Stats Store::ComputeStats(CounterId counter, int64_t from, int64_t to, const ConversionTable& conversion) {
  Stats stats;
  if (from >= to) return stats;
  const Aggregate total = Totals(counter, from, to);
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
  stats.mean_usv_h = DoseRate(conversion, stats.mean_cpm);
  // The table is linear within a segment, so the dose from the mean rate equals the sum of the
  // minutes' doses wherever the rate stays within one segment, as background does.
  stats.dose_usv = stats.mean_usv_h * double(total.measured) / 3600.0;
  if (total.full_minutes) {
    stats.max_cpm = total.max_cpm;
    stats.max_cpm_at = total.max_cpm_at;
    stats.max_usv_h = DoseRateFromCpm(conversion, total.max_cpm);
  }
  return stats;
}

CounterSpan Store::Span(CounterId counter) {
  CounterSpan span;
  bool any = false;
  int64_t next = 0;  // the second after the last measured one seen
  const auto gap_to = [&](int64_t t) {
    if (any && t > next) {
      ++span.gap_count;
      if (t - next >= 60 && span.long_gaps.size() < kMaxListedGaps) span.long_gaps.push_back({next, t});
    }
  };
  ForEachMinute(counter, -kFarFuture, kFarFuture, [&](int64_t minute, const MinuteBlock& block) {
    const int64_t start = minute * 60;
    if (block.measured == kFullMinute) {
      gap_to(start);
      if (!any) span.first = start;
      any = true;
      next = start + 60;
      span.measured += 60;
      return true;
    }
    for (int s = 0; s < 60; ++s) {
      if (!block.Has(s)) continue;
      gap_to(start + s);
      if (!any) span.first = start + s;
      any = true;
      next = start + s + 1;
      ++span.measured;
    }
    return true;
  });
  span.last = any ? next - 1 : 0;
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
