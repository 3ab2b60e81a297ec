// Reading seconds, series, totals and spans from stored minutes and summaries, whichever database
// hands them over: `minutes(from, to, visit)` calls visit(minute, block) for each stored minute
// overlapping [from, to), oldest first, until visit returns false; `summaries(level, from, to,
// visit)` calls visit(start, aggregate) for each summary of `level` starting in [from, to).
#pragma once

#include <algorithm>
#include <limits>
#include <map>
#include <span>
#include <tuple>
#include <vector>

#include "core/common/dose_conversion.h"
#include "core/store/dose_scale.h"
#include "core/store/minute_block.h"
#include "core/store/store_types.h"

namespace norvane::store {

inline constexpr int64_t kTenMinutes = 600;
inline constexpr int64_t kHour = 3600;
inline constexpr int64_t kDay = 86400;
// The levels of the summaries of measured seconds, kept with the minutes in one transaction: ten
// minutes serve the chart's columns from about two days to two weeks, hours and days the longer.
inline constexpr int64_t kSummaryLevels[] = {kTenMinutes, kHour, kDay};
inline const char* SummaryLevelName(int64_t level) {
  return level == kTenMinutes ? "ten-minute" : level == kHour ? "hour" : "day";
}
inline constexpr int64_t kFarFuture = std::numeric_limits<int64_t>::max() / 4;

inline int64_t FloorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }
inline int64_t CeilDiv(int64_t a, int64_t b) { return -FloorDiv(-a, b); }

// The last (else the first) measured second of a stored minute.
inline std::optional<int64_t> EndOfMinute(int64_t minute, const MinuteBlock& block, bool last) {
  for (int i = 0; i < 60; ++i) {
    const int s = last ? 59 - i : i;
    if (block.Has(s)) return minute * 60 + s;
  }
  return std::nullopt;
}

// The aggregate of one stored minute, limited to its seconds in [from, to).
Aggregate MinuteAggregate(const MinuteBlock& block, int64_t minute, int64_t from, int64_t to);

// Adds seconds of one minute (oldest first) that the block does not hold yet; returns what they
// add to the minute's hour and day, the whole minute included when they complete it.
Aggregate AddToMinute(MinuteBlock& block, int64_t minute, std::span<const Second> seconds, AppendResult& result);

// (save type, level, start) → what records new to the store add to that history summary.
using HistorySummaryChanges = std::map<std::tuple<uint8_t, int64_t, int64_t>, HistoryAggregate>;
HistorySummaryChanges SummaryChangesOf(std::span<const HistoryRecord> added);


// The totals of a stretch of a range that one calibration converts.
struct Stretch {
  int64_t from = 0;
  Aggregate totals;
};

// Mean, its interval, peak and dose of a range [from, to) cut into stretches.
Stats StatsOf(std::span<const Stretch> stretches, int64_t from, int64_t to, const DoseScale& scale);

template <typename Minutes>
std::vector<Second> SecondsOf(Minutes&& minutes, int64_t from, int64_t to, size_t limit) {
  std::vector<Second> out;
  if (from >= to || limit == 0) return out;
  minutes(from, to, [&](int64_t minute, const MinuteBlock& block) {
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

// [from, to) cut into about `points` empty points for history records, with the coarsest
// summary level that still resolves them (the records themselves below an hour).
inline HistorySeries EmptyHistorySeries(int64_t from, int64_t to, size_t points) {
  HistorySeries series;
  if (from >= to || points == 0) return series;
  series.step = std::max<int64_t>(1, CeilDiv(to - from, static_cast<int64_t>(points)));
  series.source_level = series.step >= kDay ? kDay : series.step >= kHour ? kHour : 1;
  series.points.resize(static_cast<size_t>(CeilDiv(to - from, series.step)));
  for (size_t i = 0; i < series.points.size(); ++i) series.points[i].start = from + static_cast<int64_t>(i) * series.step;
  return series;
}

template <typename Minutes, typename Summaries>
Series SeriesOf(Minutes&& minutes, Summaries&& summaries, int64_t from, int64_t to, size_t points) {
  Series series;
  if (from >= to || points == 0) return series;
  const int64_t length = to - from;
  series.step = std::max<int64_t>(1, CeilDiv(length, static_cast<int64_t>(points)));
  for (int64_t level : {kDay, kHour, kTenMinutes, int64_t{60}, int64_t{1}}) {
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
    minutes(from, to, [&](int64_t minute, const MinuteBlock& block) {
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
    minutes(from, to, [&](int64_t minute, const MinuteBlock& block) {
      if (minute * 60 >= from) point_of(minute * 60).values.Merge(MinuteAggregate(block, minute, from, to));
      return true;
    });
  } else {
    summaries(series.source_level, from, to, [&](int64_t start, const Aggregate& a) { point_of(start).values.Merge(a); });
  }
  return series;
}

template <typename Minutes, typename Summaries>
Aggregate TotalsOf(Minutes&& minutes, Summaries&& summaries, int64_t from, int64_t to) {
  Aggregate total;
  // Whole days from the day summaries, whole hours and ten minutes around them from theirs, and the
  // minutes at the edges from the seconds themselves: at most a few hundred rows for any range.
  const auto cover = [&](auto& self, int64_t a, int64_t b, size_t level_index) -> void {
    static constexpr int64_t kLevels[] = {kDay, kHour, kTenMinutes};
    if (a >= b) return;
    if (level_index == std::size(kLevels)) {
      minutes(a, b, [&](int64_t minute, const MinuteBlock& block) {
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
    summaries(level, first, end, [&](int64_t, const Aggregate& row) { total.Merge(row); });
    self(self, a, first, level_index + 1);
    self(self, end, b, level_index + 1);
  };
  cover(cover, from, to, 0);
  return total;
}

// The measured part of a counter's span: its ends, seconds and gaps.
// Columns of `step` from `from`, both whole multiples of `level`, each the merge of that level's
// summaries that start in it.
template <typename Summaries>
Series SummaryColumns(Summaries&& summaries, int64_t level, int64_t from, int64_t step, size_t count) {
  Series series;
  series.step = step;
  series.source_level = level;
  series.points.resize(count);
  for (size_t i = 0; i < count; ++i) series.points[i].start = from + step * static_cast<int64_t>(i);
  summaries(level, from, from + step * static_cast<int64_t>(count), [&](int64_t start, const Aggregate& a) {
    series.points[static_cast<size_t>((start - from) / step)].values.Merge(a);
  });
  return series;
}

template <typename Minutes>
void MeasuredSpan(Minutes&& minutes, CounterSpan& span) {
  bool any = false;
  int64_t next = 0;  // the second after the last measured one seen
  const auto gap_to = [&](int64_t t) {
    if (any && t > next) {
      ++span.gap_count;
      if (t - next >= 60 && span.long_gaps.size() < kMaxListedGaps) span.long_gaps.push_back({next, t});
    }
  };
  minutes(-kFarFuture, kFarFuture, [&](int64_t minute, const MinuteBlock& block) {
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
}

}  // namespace norvane::store
