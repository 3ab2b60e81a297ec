#include "core/files/bmp_writer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "tests/common/temp_dir.h"
#include "tests/core/history/image_builder.h"

namespace norvane {
namespace {

using testing::EntryCount;
using testing::Hex;
using testing::operator+;
using testing::ReadAll;
using testing::TempDir;
using testing::WriteAll;
using Bytes = std::vector<uint8_t>;

BitmapPicture Picture(int w, int h, int bits, const Bytes& pixels, size_t stride = 0,
                      std::span<const uint32_t> colours = {}) {
  BitmapPicture p;
  p.width = w, p.height = h, p.bits_per_pixel = bits, p.pixels = pixels, p.stride = stride, p.colours = colours;
  return p;
}

Bytes Slice(const std::string& file, size_t from, size_t count) {
  std::string part = file.substr(from, count);
  return {part.begin(), part.end()};
}

TEST(BitmapEncoding, HeaderMatchesTheTableByteForByte) {
  Bytes pixels(500 * 400 * 3, 0x7F);
  std::string file = EncodeBitmap(Picture(500, 400, 24, pixels));
  ASSERT_EQ(file.size(), 54u + 1500u * 400u);
  EXPECT_EQ(Slice(file, 0, 54), Hex("42 4D F6 27 09 00 00 00 00 00 36 00 00 00 28 00 00 00 F4 01 00 00 90 01 00 00"
                                    "01 00 18 00") + Bytes(24, 0));
}

TEST(BitmapEncoding, EveryDepthGetsItsTableAndPaddedBottomUpRows) {
  struct Case { int bits; Bytes top, bottom; size_t stored_row, entries; };
  const std::vector<Case> cases = {
      {1, Hex("A0"), Hex("40"), 4, 2},
      {4, Hex("12 30"), Hex("45 60"), 4, 16},
      {8, Hex("01 02 03"), Hex("04 05 06"), 4, 256},
      {24, Hex("01 02 03 04 05 06 07 08 09"), Hex("11 12 13 14 15 16 17 18 19"), 12, 0},
      {32, Hex("01 02 03 00 04 05 06 00 07 08 09 00"), Hex("11 12 13 00 14 15 16 00 17 18 19 00"), 12, 0},
  };
  const std::vector<uint32_t> colours = {0x000000FF, 0x00FF8000};  // red; blue with some green
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bits);
    const Bytes pixels = c.top + c.bottom;
    std::string file = EncodeBitmap(Picture(3, 2, c.bits, pixels, 0, std::span(colours).first(c.entries ? 2 : 0)));
    const size_t offset = 54 + 4 * c.entries;
    ASSERT_EQ(file.size(), offset + 2 * c.stored_row);
    EXPECT_EQ(Slice(file, 2, 4), Bytes({uint8_t(file.size()), uint8_t(file.size() >> 8), 0, 0}));
    EXPECT_EQ(Slice(file, 10, 20), Bytes({uint8_t(offset), uint8_t(offset >> 8), 0, 0}) +
                                       Hex("28 00 00 00 03 00 00 00 02 00 00 00 01 00") + Bytes({uint8_t(c.bits), 0}));
    if (c.entries) {  // blue, green, red, reserved; entries not given stay black
      EXPECT_EQ(Slice(file, 54, 4 * c.entries), Hex("00 00 FF 00 FF 80 00 00") + Bytes(4 * c.entries - 8, 0));
    }
    const Bytes padding(c.stored_row - c.top.size(), 0);
    EXPECT_EQ(Slice(file, offset, 2 * c.stored_row), c.bottom + padding + c.top + padding);
  }
  // The capture's own row padding never reaches the file.
  const std::string file = EncodeBitmap(Picture(1, 2, 24, Hex("01 02 03 EE 04 05 06"), 4));
  EXPECT_EQ(Slice(file, 54, 8), Hex("04 05 06 00 01 02 03 00"));
}

TEST(BitmapEncoding, ScreenDepthRoundsUpAndUnstorablePicturesAreRefused) {
  const std::vector<std::pair<int, int>> depths = {{0, 1},   {1, 1},   {2, 4},   {8, 8},
                                                   {16, 24}, {24, 24}, {32, 32}, {48, 32}};
  for (auto [depth, bits] : depths) EXPECT_EQ(BitmapBitsForDepth(depth), bits) << depth;

  Bytes pixels(64, 0);
  std::vector<uint32_t> colours(3, 0);
  const std::vector<std::pair<BitmapPicture, const char*>> bad = {
      {Picture(2, 2, 16, pixels), "16 bits"},          {Picture(0, 2, 24, pixels), "empty"},
      {Picture(4, 6, 24, pixels), "do not cover"},     {Picture(4, 2, 24, pixels, 11), "shorter"},
      {Picture(8, 1, 1, pixels, 0, colours), "colour table"}, {Picture(40000, 40000, 24, pixels), "too large"},
  };
  for (const auto& [picture, reason] : bad) {
    std::string error;
    EXPECT_TRUE(EncodeBitmap(picture, &error).empty()) << reason;
    EXPECT_NE(error.find(reason), std::string::npos) << error;
  }
}

TEST(BitmapFile, FailuresKeepTheOldFileAndLeaveNothingBehind) {
  TempDir dir;
  const Bytes pixel = Hex("01 02 03");
  std::string error;
  EXPECT_FALSE(WriteBitmapFile(dir / "missing" / "a.bmp", Picture(1, 1, 24, pixel), &error));
  EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;

  WriteAll(dir / "old.bmp", "previous picture");
  EXPECT_FALSE(WriteBitmapFile(dir / "old.bmp", Picture(1, 5, 24, pixel), &error));
  EXPECT_EQ(ReadAll(dir / "old.bmp"), "previous picture");
  EXPECT_EQ(EntryCount(dir.path()), 1u);
  ASSERT_TRUE(WriteBitmapFile(dir / "old.bmp", Picture(1, 1, 24, pixel), &error)) << error;
  EXPECT_EQ(ReadAll(dir / "old.bmp"), EncodeBitmap(Picture(1, 1, 24, pixel)));

  std::filesystem::permissions(dir.path(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  if (::access(dir.path().c_str(), W_OK) != 0) {  // root writes anyway
    EXPECT_FALSE(WriteBitmapFile(dir / "new.bmp", Picture(1, 1, 24, pixel), &error));
    EXPECT_NE(error.find("Permission denied"), std::string::npos) << error;
  }
  std::filesystem::permissions(dir.path(), std::filesystem::perms::owner_all);
  EXPECT_EQ(EntryCount(dir.path()), 1u);
}

}  // namespace
}  // namespace norvane
