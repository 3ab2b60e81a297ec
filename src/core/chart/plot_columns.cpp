#include "core/chart/plot_columns.h"

#include <algorithm>
#include <limits>

#include "core/history/record_stream.h"
#include "core/store/poisson_interval.h"

namespace norvane::chart {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

double InUnit(Unit unit, double cpm, const ConversionTable& conversion) {
  return unit == Unit::kCpm ? cpm : store::DoseRate(conversion, cpm);
}

int64_t CeilDiv(int64_t a, int64_t b) { return a / b + (a % b > 0 ? 1 : 0); }
int64_t FloorDiv(int64_t a, int64_t b) { return a / b - (a % b < 0 ? 1 : 0); }

}  // namespace

ColumnPlan PlanColumns(int64_t from, int64_t to, size_t columns) {
  ColumnPlan plan;
  if (to <= from || columns == 0) return plan;
  plan.step = std::max<int64_t>(1, CeilDiv(to - from, static_cast<int64_t>(columns)));
  // Columns of whole minutes, hours or days take whole summary rows, so an hour is never split
  // between two columns nor credited wholly to the one its start falls in.
  for (int64_t level : {int64_t{86400}, int64_t{3600}, int64_t{60}})
    if (plan.step >= level) {
      plan.step = CeilDiv(plan.step, level) * level;
      break;
    }
  plan.from = FloorDiv(from, plan.step) * plan.step;
  plan.count = static_cast<size_t>(CeilDiv(to - plan.from, plan.step));
  return plan;
}

double RateIn(Unit unit, double counts, double seconds, const ConversionTable& conversion) {
  return seconds > 0 ? InUnit(unit, counts * 60.0 / seconds, conversion) : kNaN;
}

PlotColumns ColumnsOf(const store::Series& series, size_t lead, int64_t average, Unit unit,
                      const ConversionTable& conversion) {
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
    if (a.measured == 0) {
      out.mean.push_back(kNaN), out.low.push_back(kNaN), out.high.push_back(kNaN);
      continue;
    }
    out.mean.push_back(RateIn(unit, double(a.sum), double(a.measured), conversion));
    if (a.full_minutes > 0 && series.step > 60) {
      out.low.push_back(InUnit(unit, a.min_cpm, conversion));
      out.high.push_back(InUnit(unit, a.max_cpm, conversion));
    } else {
      out.low.push_back(InUnit(unit, 60.0 * a.min_second, conversion));
      out.high.push_back(InUnit(unit, 60.0 * a.max_second, conversion));
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
    if (i >= first) out.moving.push_back(RateIn(unit, double(sum), double(measured), conversion));
  }
  return out;
}

int64_t RecordLength(uint8_t save_type) {
  switch (save_type) {
    case kEveryMinute:
    case kThresholdMinute: return 60;
    case kEveryHour: return 3600;
    default: return 1;
  }
}

HistoryLine HistoryLineOf(std::span<const store::HistoryRecord> records, int64_t step, Unit unit,
                          const ConversionTable& conversion) {
  // Records first become pieces [start, end) with a CPM; records that share a column longer
  // than themselves merge into one piece of that column.
  struct Piece {
    int64_t start, end;
    double cpm_sum;
    int n;
  };
  std::vector<Piece> pieces;
  for (const store::HistoryRecord& r : records) {
    const int64_t length = RecordLength(r.save_type);
    const double cpm = length == 1 ? 60.0 * r.value : double(r.value);
    if (step > length) {
      const int64_t column = FloorDiv(r.time, step) * step;
      if (!pieces.empty() && pieces.back().start == column) {
        pieces.back().cpm_sum += cpm;
        ++pieces.back().n;
        pieces.back().end = std::max(pieces.back().end, r.time + length);
        continue;
      }
      pieces.push_back({column, r.time + length, cpm, 1});
      continue;
    }
    pieces.push_back({r.time, r.time + length, cpm, 1});
  }
  HistoryLine line;
  for (size_t i = 0; i < pieces.size(); ++i) {
    const Piece& p = pieces[i];
    const double value = InUnit(unit, p.cpm_sum / p.n, conversion);
    line.time.push_back(double(p.start));
    line.value.push_back(value);
    const bool meets = i + 1 < pieces.size() && pieces[i + 1].start <= std::max(p.end, p.start + step);
    if (!meets) {
      // The step's last level reaches the record's end; the NaN after it breaks the line.
      line.time.push_back(double(std::max(p.end, p.start + 1)));
      line.value.push_back(value);
      line.time.push_back(double(std::max(p.end, p.start + 1)));
      line.value.push_back(kNaN);
    }
  }
  return line;
}

}  // namespace norvane::chart
