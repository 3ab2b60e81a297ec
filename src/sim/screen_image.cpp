#include "sim/screen_image.h"

#include <algorithm>
#include <cstdio>

namespace norvane::sim {
namespace {

// 3 x 5 glyphs, one row of three bits per entry, top row first.
struct Glyph {
  char c;
  uint8_t rows[5];
};
constexpr Glyph kGlyphs[] = {
    {'0', {7, 5, 5, 5, 7}}, {'1', {2, 6, 2, 2, 7}}, {'2', {7, 1, 7, 4, 7}}, {'3', {7, 1, 7, 1, 7}},
    {'4', {5, 5, 7, 1, 1}}, {'5', {7, 4, 7, 1, 7}}, {'6', {7, 4, 7, 5, 7}}, {'7', {7, 1, 1, 1, 1}},
    {'8', {7, 5, 7, 5, 7}}, {'9', {7, 5, 7, 1, 7}}, {'C', {7, 4, 4, 4, 7}}, {'P', {7, 5, 7, 4, 4}},
    {'M', {5, 7, 7, 5, 5}}, {'u', {0, 5, 5, 5, 7}}, {'S', {7, 4, 7, 1, 7}}, {'v', {0, 5, 5, 5, 2}},
    {'h', {4, 4, 7, 5, 5}}, {'/', {1, 1, 2, 4, 4}}, {'.', {0, 0, 0, 0, 2}}, {' ', {0, 0, 0, 0, 0}},
};

const Glyph* FindGlyph(char c) {
  for (const Glyph& g : kGlyphs)
    if (g.c == c) return &g;
  return nullptr;
}

}  // namespace

void ScreenCanvas::Set(int x, int y) {
  if (x < 0 || x >= 128 || y < 0 || y >= 64) return;
  image_[static_cast<size_t>((y / 8) * 128 + x)] |= static_cast<uint8_t>(1u << (y % 8));
}

bool ScreenCanvas::Get(int x, int y) const {
  if (x < 0 || x >= 128 || y < 0 || y >= 64) return false;
  return (image_[static_cast<size_t>((y / 8) * 128 + x)] >> (y % 8)) & 1;
}

void ScreenCanvas::Text(int x, int y, const char* text) {
  for (; *text; ++text, x += 4) {
    const Glyph* g = FindGlyph(*text);
    if (!g) continue;
    for (int row = 0; row < 5; ++row)
      for (int col = 0; col < 3; ++col)
        if (g->rows[row] & (4 >> col)) Set(x + col, y + row);
  }
}

ScreenImage DrawReadingScreen(uint32_t cpm, const char* dose_text, const uint8_t* bars, int bar_count) {
  ScreenCanvas canvas;
  for (int x = 0; x < 128; ++x) {
    canvas.Set(x, 0);
    canvas.Set(x, 63);
  }
  for (int y = 0; y < 64; ++y) {
    canvas.Set(0, y);
    canvas.Set(127, y);
  }
  char number[16];
  std::snprintf(number, sizeof number, "%u", cpm);
  canvas.Text(4, 4, "CPM");
  // The reading twice as large as the labels.
  ScreenCanvas small;
  small.Text(0, 0, number);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 64; ++x)
      if (small.Get(x, y))
        for (int d = 0; d < 4; ++d) canvas.Set(20 + 2 * x + d % 2, 3 + 2 * y + d / 2);
  canvas.Text(4, 16, dose_text);
  canvas.Text(4 + 4 * 8, 16, "uSv/h");

  const int count = std::clamp(bar_count, 0, 120);
  const uint8_t highest = count ? *std::max_element(bars, bars + count) : 0;
  for (int i = 0; i < count; ++i) {
    const int height = highest ? bars[i] * 36 / highest : 0;
    for (int h = 0; h < height; ++h) canvas.Set(4 + i, 60 - h);
  }
  return canvas.image();
}

}  // namespace norvane::sim
