// JPEG files of a window picture through libjpeg; the target is replaced only by a whole file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

namespace norvane {

// Rows run top to bottom, each pixel as red, green, blue bytes.
struct RgbPicture {
  int width = 0;
  int height = 0;
  std::span<const uint8_t> pixels;  // row y starts at byte y * stride
  size_t stride = 0;                // 0: rows packed, 3 * width bytes each
};

// Results of WriteJpegFile, as the window's picture save reports them.
inline constexpr int kJpegSaved = 0;
inline constexpr int kJpegFileError = -1;  // the file could not be written, or the encoder failed
inline constexpr int kJpegNoPicture = -2;  // there is no usable picture to encode

// Quality of the window pictures the program saves.
inline constexpr int kWindowPictureQuality = 50;

// Qualities outside 0-100 are taken as the nearest end.
int ClampJpegQuality(int quality);

// Encodes the picture with the library's defaults at `quality` (clamped; baseline tables not
// forced) and replaces `path` with it. Every failure, the encoder's own included, returns a
// negative result with *error saying why and leaves `path` as it was.
int WriteJpegFile(const std::filesystem::path& path, const RgbPicture& picture, int quality,
                  std::string* error = nullptr);

}  // namespace norvane
