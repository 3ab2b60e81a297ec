// The history chart worked out as data: every line, rectangle and text, in painting order.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "core/history/history_window.h"

namespace norvane {

// Line mode is the "Peak" button, value mode the "Total" button.
enum class ChartMode { kLine, kValue };

struct ChartInputs {
  float zoom = 100.0f;  // 100 means automatic; otherwise 10 * zoom pixels per count
  ChartMode mode = ChartMode::kLine;
  bool realtime = false;  // realtime monitoring ticked: every sample is labelled "S"
};

inline constexpr int kChartWidth = 612;
inline constexpr int kChartHeight = 182;
inline constexpr int kChartBottomMargin = 18;
inline constexpr float kAutomaticZoom = 100.0f;

// Colours are 0x00BBGGRR: red in the low byte, blue in the high one.
inline constexpr uint32_t kChartWhite = 0xFFFFFF;
inline constexpr uint32_t kChartGrid = 0xDEDEDE;
inline constexpr uint32_t kChartRed = 0x0000FF;
inline constexpr uint32_t kChartBlue = 0xFF0000;
inline constexpr uint32_t kChartMagenta = 0xFF00FF;

// A 1-pixel solid line. As with a pen's line-to, the end point itself is not painted, so a
// polyline never paints a joint twice and a frame leaves its last corner open.
struct ChartLine {
  int x1 = 0;
  int y1 = 0;
  int x2 = 0;
  int y2 = 0;
  uint32_t colour = 0;
  bool operator==(const ChartLine&) const = default;
};

// Filled and outlined in one colour. Right and bottom are exclusive: (490,5)-(500,15) covers
// the pixels 490..499 by 5..14.
struct ChartRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  uint32_t colour = 0;
  bool operator==(const ChartRect&) const = default;
};

// Text on an opaque white background. (x, y) is the text's top-left corner before rotation;
// escapement is in tenths of a degree, 900 running upwards. Height is the font's cell height.
struct ChartText {
  int x = 0;
  int y = 0;
  std::string text;
  int height = 0;
  uint32_t colour = 0;
  int escapement = 0;
  bool bold = false;
  // Above 0, the widest the text may be: a longer one (a translation, say) is drawn smaller.
  int max_width = 0;
  bool operator==(const ChartText&) const = default;
};

using ChartPrimitive = std::variant<ChartLine, ChartRect, ChartText>;

struct ChartPoint {
  int x = 0;
  int y = 0;
  bool operator==(const ChartPoint&) const = default;
};

struct ChartDrawing {
  std::vector<ChartPrimitive> primitives;  // painting order; the first one whitens everything
  std::vector<ChartPoint> polyline;        // the 60 sample points in line mode, empty in value mode
  uint32_t maximum = 0;                    // as labelled, before the automatic scale's floor of 2
  uint32_t minimum = 0;
  double scale = 0.0;                      // pixels per count
};

// Works out the whole chart for `window`. Like the counter's own viewer it first turns every
// 255 (erased flash) in the window into 0, so later readers of the window see 0 too.
ChartDrawing BuildChart(HistoryWindow& window, const ChartInputs& inputs);

// The letter shown above a sample in value mode.
char SaveTypeLetter(uint8_t save_type, bool realtime);

}  // namespace norvane
