// The screen capture's bitmap: header, colours, block expansion and row order; its file names.
#include "core/tools/screenshot_image.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>

namespace norvane {
namespace {

using Screen = std::array<uint8_t, kScreenBytes>;

uint32_t Le32(const std::string& f, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(f[at + static_cast<size_t>(i)]);
  return v;
}

// Blue, green, red of picture pixel (column, row from the top). The header's positive height
// means the file stores the bottom row first.
std::array<uint8_t, 3> Pixel(const std::string& f, int column, int row) {
  const size_t stored = static_cast<size_t>(255 - row);
  const size_t at = 54 + (stored * 512 + static_cast<size_t>(column)) * 3;
  return {static_cast<uint8_t>(f[at]), static_cast<uint8_t>(f[at + 1]), static_cast<uint8_t>(f[at + 2])};
}

constexpr std::array<uint8_t, 3> kLit{0xFD, 0xC8, 0xB4};
constexpr std::array<uint8_t, 3> kDark{0x2D, 0x2D, 0x2D};

TEST(ScreenshotBitmap, DarkScreenHeaderAndSize) {
  const Screen screen{};
  const std::string f = ScreenshotBitmap(screen);
  ASSERT_EQ(f.size(), 393270u);
  EXPECT_EQ(f.substr(0, 2), "BM");
  EXPECT_EQ(Le32(f, 2), 393270u);
  EXPECT_EQ(Le32(f, 6), 0u);
  EXPECT_EQ(Le32(f, 10), 54u);
  EXPECT_EQ(Le32(f, 14), 40u);
  EXPECT_EQ(Le32(f, 18), 512u);
  EXPECT_EQ(Le32(f, 22), 256u);
  EXPECT_EQ(static_cast<uint8_t>(f[26]) | static_cast<uint8_t>(f[27]) << 8, 1);
  EXPECT_EQ(static_cast<uint8_t>(f[28]) | static_cast<uint8_t>(f[29]) << 8, 24);
  for (size_t i = 30; i < 54; ++i) EXPECT_EQ(f[i], 0) << "header byte " << i;
  EXPECT_EQ(f.find_first_not_of('\x2D', 54), std::string::npos);
}

TEST(ScreenshotBitmap, BitsBecomeFourByFourBlocks) {
  // Byte 129 is column 1 of the second band: pixel (1, 8) for bit 0, image columns 4-7 and
  // rows 32-35; the last byte's top bit is the bottom-right pixel.
  Screen far{};
  far[129] = 0x01;
  far[1023] = 0x80;
  const std::string c = ScreenshotBitmap(far);
  EXPECT_EQ(Pixel(c, 4, 32), kLit);
  EXPECT_EQ(Pixel(c, 7, 35), kLit);
  EXPECT_EQ(Pixel(c, 3, 32), kDark);
  EXPECT_EQ(Pixel(c, 511, 255), kLit);
  EXPECT_EQ(Pixel(c, 507, 252), kDark);
  EXPECT_EQ(Pixel(c, 508, 252), kLit);
}

TEST(ScreenshotBitmap, TheTopOfTheScreenIsTheLastRowStored) {
  // Pixel (0, 0), the screen's top-left corner, is the top-left of the picture a viewer shows:
  // the first pixel of the last row in the file, never of the first.
  Screen corner{};
  corner[0] = 0x01;
  const std::string c = ScreenshotBitmap(corner);
  EXPECT_EQ(c.substr(54 + 255 * 512 * 3, 3), "\xFD\xC8\xB4");
  EXPECT_EQ(c.substr(54, 3), "\x2D\x2D\x2D");
}

TEST(ScreenshotNames, DefaultNameAndExtension) {
  const std::array<uint8_t, 6> taken{0x1A, 0x03, 0x07, 0x09, 0x05, 0x04};
  EXPECT_EQ(ScreenshotDefaultName('2', taken), "zqtscreenshot2_070326_090504");
  EXPECT_EQ(ScreenshotPath("shot"), "shot.bmp");
  EXPECT_EQ(ScreenshotPath("shot.bmp"), "shot.bmp");
  EXPECT_EQ(ScreenshotPath("a.bmp.b.bmp"), "a.b.bmp");
  // Every ".bmp" in the name, also one that forms again once another is removed.
  EXPECT_EQ(ScreenshotPath("x.b.bmpmp"), "x.bmp");
  // A folder's name is where the user wants the file, not part of its name.
  EXPECT_EQ(ScreenshotPath("/tmp/old.bmp/shot.bmp"), "/tmp/old.bmp/shot.bmp");
}

}  // namespace
}  // namespace norvane
