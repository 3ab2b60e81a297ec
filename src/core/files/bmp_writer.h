// Windows bitmap files of a window picture: the 54-byte header, the colour table and the rows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

namespace norvane {

// A picture as the window capture hands it over. Rows run top to bottom and hold their pixels
// the way a bitmap stores them: 24 bits as blue, green, red; 32 bits as blue, green, red and an
// unused byte; 1, 4 and 8 bits as colour-table indices, the leftmost pixel in the highest bits.
struct BitmapPicture {
  int width = 0;
  int height = 0;
  int bits_per_pixel = 24;             // 1, 4, 8, 24 or 32
  std::span<const uint8_t> pixels;     // row y starts at byte y * stride
  size_t stride = 0;                   // 0: rows packed without padding
  std::span<const uint32_t> colours;   // 0x00BBGGRR, at most 2^b of them; missing ones are black
};

inline constexpr size_t kBitmapHeaderSize = 54;

// The bits per pixel a picture gets on a screen `depth` bits deep: 1, 4, 8, 24 or 32.
int BitmapBitsForDepth(int depth);

// Bytes of one row as stored in the file, padded to a multiple of 4.
uint64_t BitmapRowBytes(int width, int bits_per_pixel);

// The whole file. Empty, with *error saying why, when the picture cannot be a bitmap.
std::string EncodeBitmap(const BitmapPicture& picture, std::string* error = nullptr);

// Replaces `path` with the bitmap only once the whole file is written. False, with *error saying
// why and `path` left as it was, when the picture is unusable or the file cannot be written.
bool WriteBitmapFile(const std::filesystem::path& path, const BitmapPicture& picture,
                     std::string* error = nullptr);

}  // namespace norvane
