// A counter's 128 x 64 one-bit screen capture as a 512 x 256 24-bit bitmap file, and its name.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace norvane {

inline constexpr size_t kScreenBytes = 1024;
inline constexpr int kScreenWidth = 128;
inline constexpr int kScreenHeight = 64;
inline constexpr int kScreenScale = 4;
inline constexpr size_t kScreenshotFileSize = 54 + 512 * 256 * 3;  // 393270

// Whether screen pixel (x, y) is lit: byte x + 128 * (y / 8), bit y % 8.
bool ScreenPixel(std::span<const uint8_t, kScreenBytes> screen, int x, int y);

// The whole file: headers, then the rows bottom-up as the header declares them, each screen pixel a 4 x 4 block; lit
// pixels pale blue-white, dark ones grey.
std::string ScreenshotBitmap(std::span<const uint8_t, kScreenBytes> screen);

// "zqtscreenshot%c_%02d%02d%02d_%02d%02d%02d": the screen digit, then day, month, year - 2000,
// hour, minute and second of the capture (the first six bytes of the information reply).
std::string ScreenshotDefaultName(char screen_digit, std::span<const uint8_t, 6> taken);

// The path with every ".bmp" taken out of its file name and ".bmp" put at the end.
std::string ScreenshotPath(std::string_view chosen);

}  // namespace norvane
