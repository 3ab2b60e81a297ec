// Pictures of the counter's 128 x 64 display, as its screenshot slots keep them.
#pragma once

#include <array>
#include <cstdint>

namespace norvane::sim {

// Byte i covers column i % 128 of band i / 128; bit j is row 8 * (i / 128) + j.
using ScreenImage = std::array<uint8_t, 1024>;

class ScreenCanvas {
 public:
  void Set(int x, int y);
  bool Get(int x, int y) const;
  void Text(int x, int y, const char* text);  // digits, "CPM", "uSv/h", blank and '.'
  const ScreenImage& image() const { return image_; }

 private:
  ScreenImage image_{};
};

// A reading screen: the CPM in large digits, the dose rate, and a bar chart of the last minute
// made of `bars` (up to 120 values, scaled to the chart's height).
ScreenImage DrawReadingScreen(uint32_t cpm, const char* dose_text, const uint8_t* bars, int bar_count);

}  // namespace norvane::sim
