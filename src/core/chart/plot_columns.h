// What the long-term chart draws for a view: per screen column a mean and a min/max band, a
// moving average, and downloaded history as the steps it was recorded in; NaN where nothing was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "core/history/dose_conversion.h"
#include "core/store/store.h"

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

// The rate of a count over some seconds in the chosen unit.
double RateIn(Unit unit, double counts, double seconds, const ConversionTable& conversion);

// Columns from a store query. A column without a measured second is NaN throughout, so the lines
// break there. The band is the lowest and highest whole-minute CPM of the column when it holds
// whole minutes, else its lowest and highest second; a column of one second has no band.
// `lead` leading points of `series` serve only the moving average over `average` seconds (0: none),
// which is NaN where its window holds no measured second.
PlotColumns ColumnsOf(const store::Series& series, size_t lead, int64_t average, Unit unit,
                      const ConversionTable& conversion);

// Downloaded history as steps: each record holds its value for its save type's length (a second,
// a minute or an hour), and NaN separates records that do not meet. Where a column is longer
// than the records, the records of a column are averaged so that a year stays a few thousand
// points.
struct HistoryLine {
  std::vector<double> time, value;
};
HistoryLine HistoryLineOf(std::span<const store::HistoryRecord> records, int64_t step, Unit unit,
                          const ConversionTable& conversion);

// Seconds a history record of this save type stands for; its value is a CPM unless it is 1.
int64_t RecordLength(uint8_t save_type);

}  // namespace norvane::chart
