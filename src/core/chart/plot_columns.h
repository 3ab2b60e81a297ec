// What the long-term chart draws for a view: per screen column a mean and a min/max band and a
// moving average, for measured seconds and downloaded records alike; NaN where nothing was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "core/common/dose_conversion.h"
#include "core/store/counter_store.h"
#include "core/store/dose_scale.h"

namespace norvane::chart {

enum class Unit { kCpm, kUsvPerHour };

// How a view is cut into columns: equal steps of whole seconds, minutes, hours or days, aligned to
// multiples of the step, so that panning keeps every column's contents and only adds columns at
// the edges.
struct ColumnPlan {
  int64_t step = 1;
  int64_t from = 0;  // the first column's start, at or before the view's start
  size_t count = 0;
  int64_t End() const { return from + step * static_cast<int64_t>(count); }
};
ColumnPlan PlanColumns(int64_t from, int64_t to, size_t columns);

struct PlotColumns {
  int64_t step = 1;
  bool raw = false;                  // one column per measured second
  std::vector<double> time;          // each column's middle (UTC seconds)
  std::vector<double> mean, low, high;
  std::vector<double> moving;        // empty unless a moving average was asked for
};

// The rate of a count over some seconds in the chosen unit, as measured at `time`.
double RateIn(Unit unit, double counts, double seconds, const store::DoseScale& scale, int64_t time);

// Columns from a store query. A column without a measured second is NaN throughout, so the lines
// break there. Where columns are longer than a minute, the band is the lowest and highest CPM of
// the column's whole minutes; a column with no whole minute gets the 95 % interval of its counts
// instead, so that a few seconds at the edge of a recording are never scaled into a spike. Shorter
// columns band their lowest and highest second; a column of one second has no band.
// `lead` leading points of `series` serve only the moving average over `average` seconds (0: none),
// which is NaN where its window holds no measured second.
PlotColumns ColumnsOf(const store::Series& series, size_t lead, int64_t average, Unit unit,
                      const store::DoseScale& scale);

// Downloaded records as columns of the plan: the mean over the seconds they cover, and the band
// from the lowest to the highest record, so a one-minute peak keeps its height at a year's view.
PlotColumns HistoryColumnsOf(std::span<const store::HistoryColumn> columns, const ColumnPlan& plan, Unit unit,
                             const store::DoseScale& scale);

// What the chart draws of one counter over a plan, read from the store: its measured seconds (with
// the moving average over `average` seconds, 0 for none) and its downloaded records, in µSv/h by
// the counter's calibrations over time, `conversion` before the first.
PlotColumns SecondsColumns(store::CounterStore& db, store::CounterId counter, const ColumnPlan& plan, int64_t average,
                           Unit unit, const ConversionTable& conversion);
PlotColumns DownloadColumns(store::CounterStore& db, store::CounterId counter, const ColumnPlan& plan, Unit unit,
                            const ConversionTable& conversion);

}  // namespace norvane::chart
