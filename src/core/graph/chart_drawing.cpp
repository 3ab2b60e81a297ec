#include "core/graph/chart_drawing.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace norvane {
namespace {

constexpr int kBaseLine = kChartHeight - kChartBottomMargin;  // 164, the time axis
constexpr int kColumn = kChartWidth / 60;                     // 10 pixels per sample
constexpr int kHalfHeight = kChartHeight / 2;                 // 91, the automatic scale's span
// Samples far off the top are kept at this height: still well outside the picture, but the
// conversion stays defined for 4-byte counts and the painter's fixed-point coordinates hold.
constexpr double kFarOff = 1 << 20;

void Line(ChartDrawing& d, int x1, int y1, int x2, int y2, uint32_t colour) {
  d.primitives.emplace_back(ChartLine{x1, y1, x2, y2, colour});
}

void Text(ChartDrawing& d, int x, int y, std::string text, int height, uint32_t colour, int escapement = 0,
          bool bold = false, int max_width = 0) {
  d.primitives.emplace_back(ChartText{x, y, std::move(text), height, colour, escapement, bold, max_width});
}

void DrawGrid(ChartDrawing& d) {
  for (int i = 1; i <= 60; ++i) Line(d, kColumn * i, 0, kColumn * i, kBaseLine, kChartGrid);
  for (int j = 0; j < 20; ++j) {
    const int y = (kChartHeight / 20) * j - 4;
    Line(d, kColumn, y, kChartWidth - 1, y, kChartGrid);
  }
  // No top edge.
  Line(d, 0, 0, 0, kBaseLine, kChartGrid);
  Line(d, 0, kBaseLine, kChartWidth - 1, kBaseLine, kChartGrid);
  Line(d, kChartWidth - 1, kBaseLine, kChartWidth - 1, 0, kChartGrid);
}

void DrawTimeAxis(ChartDrawing& d) {
  int last_x = 0;
  for (int k = 0; k <= 12; ++k) {
    int x = (kChartWidth / 12) * k - 10;
    if (k == 0) x = 0;
    if (k == 12) x = (kChartWidth / 12) * 12 - 15;  // pulled in so "60" stays inside
    // The last label ends at the picture's edge; the one before it leaves room for "(Time)".
    Text(d, x, kBaseLine, std::to_string(5 * k), 15, kChartRed, 0, false, k == 12 ? kChartWidth - x : 0);
    last_x = x;
  }
  Text(d, last_x - 31, kBaseLine, "(Time)", 14, kChartRed, 0, false, 30);
}

void DrawLegend(ChartDrawing& d) {
  d.primitives.emplace_back(ChartRect{490, 5, 500, 15, kChartBlue});
  Text(d, 505, 3, "Activity", 14, kChartBlue, 0, false, 44);
  d.primitives.emplace_back(ChartRect{550, 5, 560, 15, kChartMagenta});
  Text(d, 565, 3, "Type", 14, kChartMagenta, 0, false, kChartWidth - 565);
}

// Pixels above the base line for one value, truncated towards zero.
class VerticalScale {
 public:
  VerticalScale(const ChartInputs& inputs, uint32_t maximum)
      : automatic_(inputs.zoom == kAutomaticZoom), span_(std::max<uint32_t>(maximum, 2)) {
    // The zoom is single precision, so 0.1 becomes exactly 1 pixel per count.
    scale_ = automatic_ ? static_cast<double>(kHalfHeight) / span_ : static_cast<double>(10.0f * inputs.zoom);
  }

  double scale() const { return scale_; }

  int Offset(uint32_t value) const {
    // Exact, so the largest value lands on the top line whatever it is: 91 / m * m computed in
    // floating point falls short of 91 for many m (77 among them) and would truncate to 90.
    if (automatic_) return static_cast<int>(uint64_t{value} * kHalfHeight / span_);
    const double product = value * scale_;
    if (std::isnan(product)) return 0;
    return static_cast<int>(std::trunc(std::clamp(product, -kFarOff, kFarOff)));
  }

 private:
  bool automatic_;
  uint32_t span_;
  double scale_ = 0.0;
};

}  // namespace

char SaveTypeLetter(uint8_t save_type, bool realtime) {
  if (realtime) return 'S';
  switch (save_type) {
    case kEverySecond: return 'S';
    case kEveryMinute: return 'M';
    case kEveryHour: return 'H';
    default: return '-';
  }
}

ChartDrawing BuildChart(HistoryWindow& window, const ChartInputs& inputs) {
  ChartDrawing d;
  d.primitives.reserve(230);
  d.primitives.emplace_back(ChartRect{0, 0, kChartWidth, kChartHeight, kChartWhite});
  DrawGrid(d);
  DrawTimeAxis(d);
  DrawLegend(d);

  // The minimum starts above any count, so a window of 3- or 4-byte counts shows its own
  // smallest value rather than 65535.
  uint32_t maximum = 0;
  uint32_t minimum = std::numeric_limits<uint32_t>::max();
  for (uint32_t& value : window.values) {
    if (value == kNoData) value = 0;
    maximum = std::max(maximum, value);
    minimum = std::min(minimum, value);
  }
  d.maximum = maximum;
  d.minimum = minimum;
  const VerticalScale scale(inputs, maximum);
  d.scale = scale.scale();

  // Printed unsigned, so a 4-byte count never shows as a negative number.
  Text(d, 30, 3, "Maximum:" + std::to_string(maximum), 16, kChartMagenta);
  Text(d, 30, 20, "Minimum: " + std::to_string(minimum), 16, kChartMagenta);

  for (size_t n = 0; n < HistoryWindow::kSamples; ++n) {
    const ChartPoint point{kColumn * static_cast<int>(n) + 10, kBaseLine - 1 - scale.Offset(window.values[n])};
    if (inputs.mode == ChartMode::kLine) {
      if (n > 0) Line(d, d.polyline.back().x, d.polyline.back().y, point.x, point.y, kChartBlue);
      d.polyline.push_back(point);
    } else {
      // Every sample gets its labels, the first too: at the image start it is shown nowhere else.
      Text(d, point.x - 10, 120, std::to_string(window.values[n]), 10, kChartBlue, 900, true);
      Text(d, point.x - 10, 80, std::string(1, SaveTypeLetter(window.types[n], inputs.realtime)), 10, kChartMagenta,
           900, true);
    }
  }
  return d;
}

}  // namespace norvane
