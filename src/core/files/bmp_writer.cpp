#include "core/files/bmp_writer.h"

#include <cstring>
#include <limits>

#include "core/common/text_format.h"
#include "core/platform/atomic_file.h"

namespace norvane {
namespace {

constexpr uint32_t kInfoHeaderSize = 40;

void Put16(std::string& out, size_t at, uint32_t value) {
  out[at] = static_cast<char>(value & 0xFF);
  out[at + 1] = static_cast<char>((value >> 8) & 0xFF);
}

void Put32(std::string& out, size_t at, uint32_t value) {
  Put16(out, at, value & 0xFFFF);
  Put16(out, at + 2, value >> 16);
}

bool Refuse(std::string* error, std::string reason) {
  if (error) *error = std::move(reason);
  return false;
}

bool SupportedBits(int bits) { return bits == 1 || bits == 4 || bits == 8 || bits == 24 || bits == 32; }

}  // namespace

int BitmapBitsForDepth(int depth) {
  if (depth <= 1) return 1;
  if (depth <= 4) return 4;
  if (depth <= 8) return 8;
  if (depth <= 24) return 24;
  return 32;
}

uint64_t BitmapRowBytes(int width, int bits_per_pixel) {
  return (static_cast<uint64_t>(bits_per_pixel) * static_cast<uint64_t>(width) + 31) / 32 * 4;
}

std::string EncodeBitmap(const BitmapPicture& picture, std::string* error) {
  const int bits = picture.bits_per_pixel;
  if (!SupportedBits(bits)) {
    Refuse(error, Format("a bitmap cannot have %d bits per pixel", bits));
    return {};
  }
  if (picture.width <= 0 || picture.height <= 0) {
    Refuse(error, Format("a %dx%d picture is empty", picture.width, picture.height));
    return {};
  }
  const uint64_t width = static_cast<uint64_t>(picture.width);
  const uint64_t height = static_cast<uint64_t>(picture.height);
  const uint64_t table_entries = bits <= 8 ? uint64_t{1} << bits : 0;
  if (picture.colours.size() > table_entries) {
    Refuse(error, Format("%zu colours do not fit the colour table of a %d-bit bitmap",
                         picture.colours.size(), bits));
    return {};
  }

  // The file size is a 32-bit field; a picture beyond it cannot be written honestly.
  const uint64_t row_out = BitmapRowBytes(picture.width, bits);
  const uint64_t table_size = 4 * table_entries;
  const uint64_t file_size = kBitmapHeaderSize + table_size + row_out * height;
  if (file_size > std::numeric_limits<uint32_t>::max()) {
    Refuse(error, Format("a %dx%d picture is too large for a bitmap file", picture.width, picture.height));
    return {};
  }

  const uint64_t row_in = (static_cast<uint64_t>(bits) * width + 7) / 8;
  const uint64_t stride = picture.stride ? picture.stride : row_in;
  if (stride < row_in) {
    Refuse(error, Format("rows of %llu bytes are shorter than the %llu bytes a row needs",
                         static_cast<unsigned long long>(stride), static_cast<unsigned long long>(row_in)));
    return {};
  }
  const uint64_t available = picture.pixels.size();
  if (available < row_in || (available - row_in) / stride < height - 1) {
    Refuse(error, Format("the pixels (%llu bytes) do not cover a %dx%d picture",
                         static_cast<unsigned long long>(available), picture.width, picture.height));
    return {};
  }

  std::string out(static_cast<size_t>(file_size), '\0');
  Put16(out, 0, 0x4D42);
  Put32(out, 2, static_cast<uint32_t>(file_size));
  Put32(out, 10, static_cast<uint32_t>(kBitmapHeaderSize + table_size));
  Put32(out, 14, kInfoHeaderSize);
  Put32(out, 18, static_cast<uint32_t>(picture.width));
  Put32(out, 22, static_cast<uint32_t>(picture.height));  // positive: rows stored bottom-up
  Put16(out, 26, 1);
  Put16(out, 28, static_cast<uint32_t>(bits));

  // Table entries are blue, green, red, reserved.
  size_t at = kBitmapHeaderSize;
  for (uint32_t colour : picture.colours) {
    out[at] = static_cast<char>((colour >> 16) & 0xFF);
    out[at + 1] = static_cast<char>((colour >> 8) & 0xFF);
    out[at + 2] = static_cast<char>(colour & 0xFF);
    at += 4;
  }

  char* rows = out.data() + kBitmapHeaderSize + table_size;
  for (uint64_t y = 0; y < height; ++y) {
    const uint8_t* source = picture.pixels.data() + y * stride;
    std::memcpy(rows + (height - 1 - y) * row_out, source, static_cast<size_t>(row_in));
  }
  return out;
}

bool WriteBitmapFile(const std::filesystem::path& path, const BitmapPicture& picture, std::string* error) {
  std::string reason;
  std::string bytes = EncodeBitmap(picture, &reason);
  if (bytes.empty()) return Refuse(error, "cannot write " + path.string() + ": " + reason);
  return AtomicWriteFile(path, bytes, error);
}

}  // namespace norvane
