#include "core/tools/screenshot_image.h"

#include <filesystem>

#include "core/common/text_format.h"

namespace norvane {
namespace {

constexpr int kImageWidth = kScreenWidth * kScreenScale;
constexpr int kImageHeight = kScreenHeight * kScreenScale;
constexpr uint32_t kHeaderSize = 54;
constexpr uint32_t kInfoHeaderSize = 40;

// Blue, green, red, as the rows store them.
constexpr uint8_t kLit[3] = {0xFD, 0xC8, 0xB4};
constexpr uint8_t kDark[3] = {0x2D, 0x2D, 0x2D};

void Put16(std::string& out, size_t at, uint16_t v) {
  out[at] = static_cast<char>(v & 0xFF);
  out[at + 1] = static_cast<char>(v >> 8);
}

void Put32(std::string& out, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + static_cast<size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

}  // namespace

bool ScreenPixel(std::span<const uint8_t, kScreenBytes> screen, int x, int y) {
  return (screen[static_cast<size_t>(x + kScreenWidth * (y / 8))] >> (y % 8)) & 1;
}

std::string ScreenshotBitmap(std::span<const uint8_t, kScreenBytes> screen) {
  std::string out(kScreenshotFileSize, '\0');
  out[0] = 'B';
  out[1] = 'M';
  Put32(out, 2, static_cast<uint32_t>(kScreenshotFileSize));
  Put32(out, 10, kHeaderSize);
  Put32(out, 14, kInfoHeaderSize);
  Put32(out, 18, kImageWidth);
  Put32(out, 22, kImageHeight);
  Put16(out, 26, 1);
  Put16(out, 28, 24);
  // Rows of 512 * 3 bytes need no padding. A positive height declares the rows bottom-up, so
  // the bottom of the counter's screen is stored first; viewers then show it the right way up.
  size_t at = kHeaderSize;
  for (int row = kImageHeight - 1; row >= 0; --row) {
    const int y = row / kScreenScale;
    for (int column = 0; column < kImageWidth; ++column) {
      const uint8_t* colour = ScreenPixel(screen, column / kScreenScale, y) ? kLit : kDark;
      out[at++] = static_cast<char>(colour[0]);
      out[at++] = static_cast<char>(colour[1]);
      out[at++] = static_cast<char>(colour[2]);
    }
  }
  return out;
}

std::string ScreenshotDefaultName(char screen_digit, std::span<const uint8_t, 6> t) {
  return Format("zqtscreenshot%c_%02d%02d%02d_%02d%02d%02d", screen_digit, t[2], t[1], t[0], t[3], t[4], t[5]);
}

std::string ScreenshotPath(std::string_view chosen) {
  // Only the file name: a ".bmp" inside a folder's name is part of where the user wants it.
  const size_t slash = chosen.find_last_of('/');
  const size_t name_start = slash == std::string_view::npos ? 0 : slash + 1;
  std::string path(chosen.substr(0, name_start));
  std::string name(chosen.substr(name_start));
  for (size_t at = name.find(".bmp"); at != std::string::npos; at = name.find(".bmp")) name.erase(at, 4);
  return path + name + ".bmp";
}

}  // namespace norvane
