#include "core/chart/plot_columns.h"

#include <algorithm>
#include <limits>

#include "core/history/record_stream.h"
#include "core/store/poisson_interval.h"

namespace norvane::chart {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

double InUnit(Unit unit, double cpm, const store::DoseScale& scale, int64_t time) {
  return unit == Unit::kCpm ? cpm : scale.UsvPerHour(cpm, time);
}

int64_t CeilDiv(int64_t a, int64_t b) { return a / b + (a % b > 0 ? 1 : 0); }
int64_t FloorDiv(int64_t a, int64_t b) { return a / b - (a % b < 0 ? 1 : 0); }

}  // namespace

ColumnPlan PlanColumns(int64_t from, int64_t to, size_t columns) {
  ColumnPlan plan;
  if (to <= from || columns == 0) return plan;
  plan.step = std::max<int64_t>(1, CeilDiv(to - from, static_cast<int64_t>(columns)));
  // Columns of whole minutes, hours or days take whole summary rows, so an hour is never split
  // between two columns nor credited wholly to the one its start falls in. From a quarter of an
  // hour on a column is a whole hour: two weeks to a month then read 336 to 720 hour summaries per
  // counter instead of 20,000 to 43,200 minutes (ten counters' minutes took 35 ms, too long for a
  // wheel notch on two cores), and still have a column every one to four pixels. Columns of ten
  // minutes up to then read ten-minute summaries, a tenth of the minutes.
  for (int64_t level : {int64_t{86400}, int64_t{3600}, int64_t{600}, int64_t{60}})
    if (plan.step >= (level == 3600 ? 900 : level)) {
      plan.step = CeilDiv(plan.step, level) * level;
      break;
    }
  plan.from = FloorDiv(from, plan.step) * plan.step;
  plan.count = static_cast<size_t>(CeilDiv(to - plan.from, plan.step));
  return plan;
}

double RateIn(Unit unit, double counts, double seconds, const store::DoseScale& scale, int64_t time) {
  return seconds > 0 ? InUnit(unit, counts * 60.0 / seconds, scale, time) : kNaN;
}

PlotColumns ColumnsOf(const store::Series& series, size_t lead, int64_t average, Unit unit,
                      const store::DoseScale& scale) {
  PlotColumns out;
  out.step = series.step;
  out.raw = series.step == 1;
  const size_t first = std::min(lead, series.points.size());
  const size_t n = series.points.size() - first;
  out.time.reserve(n), out.mean.reserve(n), out.low.reserve(n), out.high.reserve(n);
  for (size_t i = first; i < series.points.size(); ++i) {
    const store::SeriesPoint& p = series.points[i];
    const store::Aggregate& a = p.values;
    out.time.push_back(double(p.start) + double(series.step) / 2.0);
    // A column is converted by the calibration in force at its middle.
    const int64_t at = p.start + series.step / 2;
    if (a.measured == 0) {
      out.mean.push_back(kNaN), out.low.push_back(kNaN), out.high.push_back(kNaN);
      continue;
    }
    out.mean.push_back(RateIn(unit, double(a.sum), double(a.measured), scale, at));
    if (series.step > 60 && a.full_minutes > 0) {
      out.low.push_back(InUnit(unit, a.min_cpm, scale, at));
      out.high.push_back(InUnit(unit, a.max_cpm, scale, at));
    } else if (series.step > 60) {
      const store::Interval counts = store::PoissonInterval95(a.sum);
      out.low.push_back(RateIn(unit, counts.low, double(a.measured), scale, at));
      out.high.push_back(RateIn(unit, counts.high, double(a.measured), scale, at));
    } else {
      out.low.push_back(InUnit(unit, 60.0 * a.min_second, scale, at));
      out.high.push_back(InUnit(unit, 60.0 * a.max_second, scale, at));
    }
  }
  if (average <= 0) return out;
  // A trailing window of whole columns, at least one: its sums slide along with the columns.
  const size_t width = static_cast<size_t>(std::max<int64_t>(1, average / std::max<int64_t>(1, series.step)));
  uint64_t sum = 0, measured = 0;
  out.moving.reserve(n);
  for (size_t i = 0; i < series.points.size(); ++i) {
    sum += series.points[i].values.sum;
    measured += series.points[i].values.measured;
    if (i >= width) {
      sum -= series.points[i - width].values.sum;
      measured -= series.points[i - width].values.measured;
    }
    if (i >= first)
      out.moving.push_back(
          RateIn(unit, double(sum), double(measured), scale, series.points[i].start + series.step / 2));
  }
  return out;
}

PlotColumns HistoryColumnsOf(std::span<const store::HistoryColumn> columns, const ColumnPlan& plan, Unit unit,
                             const store::DoseScale& scale) {
  PlotColumns out;
  out.step = plan.step;
  const size_t n = columns.size();
  out.time.reserve(n), out.mean.reserve(n), out.low.reserve(n), out.high.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    const store::HistoryColumn& c = columns[i];
    const int64_t at = plan.from + plan.step * static_cast<int64_t>(i) + plan.step / 2;
    out.time.push_back(double(plan.from + plan.step * static_cast<int64_t>(i)) + double(plan.step) / 2.0);
    if (c.records == 0 || c.seconds <= 0) {
      out.mean.push_back(kNaN), out.low.push_back(kNaN), out.high.push_back(kNaN);
      continue;
    }
    out.mean.push_back(RateIn(unit, c.counts, c.seconds, scale, at));
    out.low.push_back(InUnit(unit, c.min_cpm, scale, at));
    out.high.push_back(InUnit(unit, c.max_cpm, scale, at));
  }
  return out;
}

PlotColumns SecondsColumns(store::CounterStore& db, store::CounterId counter, const ColumnPlan& plan, int64_t average,
                           Unit unit, const ConversionTable& conversion) {
  // The moving average needs its window's worth of columns before the first one shown.
  const size_t lead = average > 0 ? static_cast<size_t>(CeilDiv(average, plan.step)) : 0;
  const int64_t from = plan.from - static_cast<int64_t>(lead) * plan.step;
  // Columns of whole minutes short of whole hours take the minutes' stored totals: a month of
  // minutes would otherwise be unpacked second by second.
  const bool minutes = plan.step > 60 && plan.step % 60 == 0 && plan.step % 3600 != 0;
  const store::Series series = minutes ? db.MinuteColumns(counter, from, plan.step, plan.count + lead)
                                       : db.Query(counter, from, plan.End(), plan.count + lead);
  return ColumnsOf(series, lead, average, unit, store::ScaleOf(db, counter, conversion));
}

PlotColumns DownloadColumns(store::CounterStore& db, store::CounterId counter, const ColumnPlan& plan, Unit unit,
                            const ConversionTable& conversion) {
  const std::vector<store::HistoryColumn> columns = db.HistoryColumns(counter, plan.from, plan.step, plan.count);
  return HistoryColumnsOf(columns, plan, unit, store::ScaleOf(db, counter, conversion));
}

}  // namespace norvane::chart
