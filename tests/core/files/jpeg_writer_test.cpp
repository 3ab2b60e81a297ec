#include "core/files/jpeg_writer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstdio>

#include "tests/common/temp_dir.h"

namespace norvane {
namespace {

using testing::EntryCount;
using testing::ReadAll;
using testing::TempDir;
using testing::WriteAll;
using Bytes = std::vector<uint8_t>;

RgbPicture Picture(int w, int h, const Bytes& pixels, size_t stride = 0) {
  RgbPicture p;
  p.width = w, p.height = h, p.pixels = pixels, p.stride = stride;
  return p;
}

// The top rows pure red, the rest pure blue: a swapped channel or a flipped picture shows.
Bytes RedOverBlue(int w, int h, int red_rows) {
  Bytes pixels;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      pixels.insert(pixels.end(), {uint8_t(y < red_rows ? 255 : 0), 0, uint8_t(y < red_rows ? 0 : 255)});
  return pixels;
}

struct Decoded {
  int width = 0, height = 0;
  std::string rgb;
};

// libjpeg-turbo's djpeg, an independent decoder (scripts/install-deps installs it), as a PPM.
Decoded Djpeg(const std::filesystem::path& file) {
  Decoded d;
  std::FILE* pipe = ::popen(("djpeg -pnm '" + file.string() + "' 2>/dev/null").c_str(), "r");
  if (!pipe) return d;
  char chunk[4096];
  for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) d.rgb.append(chunk, n);
  int header = 0;
  if (::pclose(pipe) != 0 || std::sscanf(d.rgb.c_str(), "P6 %d %d 255%n", &d.width, &d.height, &header) != 2 || !header)
    return {};
  d.rgb.erase(0, static_cast<size_t>(header) + 1);
  return d;
}

void ExpectNear(const Decoded& d, int x, int y, std::array<int, 3> rgb) {
  const size_t at = 3 * static_cast<size_t>(y * d.width + x);
  ASSERT_LE(at + 3, d.rgb.size()) << "djpeg missing or failed";
  for (size_t i = 0; i < 3; ++i) EXPECT_NEAR(uint8_t(d.rgb[at + i]), rgb[i], 24) << x << "," << y << " channel " << i;
}

TEST(JpegFile, AnIndependentDecoderReadsBackItsSizeAndColours) {
  TempDir dir;
  std::string error;
  const Bytes pixels = RedOverBlue(37, 29, 8);  // neither side a multiple of the 16-pixel blocks
  ASSERT_EQ(WriteJpegFile(dir / "w.jpg", Picture(37, 29, pixels), kWindowPictureQuality, &error), kJpegSaved) << error;
  const Decoded d = Djpeg(dir / "w.jpg");
  EXPECT_EQ(d.width, 37);
  EXPECT_EQ(d.height, 29);
  ExpectNear(d, 0, 0, {255, 0, 0});
  ExpectNear(d, 36, 26, {0, 0, 255});

  // Rows handed over with the capture's own padding encode exactly as packed ones.
  Bytes padded;
  const Bytes packed = RedOverBlue(2, 3, 1);
  for (auto row = packed.begin(); row != packed.end(); row += 6) {
    padded.insert(padded.end(), row, row + 6);
    padded.insert(padded.end(), {0xEE, 0xEE});
  }
  ASSERT_EQ(WriteJpegFile(dir / "packed.jpg", Picture(2, 3, packed), 90), kJpegSaved);
  ASSERT_EQ(WriteJpegFile(dir / "padded.jpg", Picture(2, 3, padded, 8), 90), kJpegSaved);
  EXPECT_EQ(ReadAll(dir / "padded.jpg"), ReadAll(dir / "packed.jpg"));
}

TEST(JpegFile, QualityIsClampedAndBaselineTablesAreNotForced) {
  TempDir dir;
  const Bytes pixels = RedOverBlue(64, 48, 20);
  for (int quality : {100, 50, 0})
    ASSERT_EQ(WriteJpegFile(dir / std::to_string(quality), Picture(64, 48, pixels), quality), kJpegSaved);
  EXPECT_EQ(ClampJpegQuality(101), 100);
  EXPECT_EQ(ClampJpegQuality(-1), 0);
  EXPECT_EQ(ClampJpegQuality(73), 73);
  EXPECT_GT(ReadAll(dir / "100").size(), ReadAll(dir / "50").size());
  // The coarsest quality needs steps above 255, which only an extended frame (SOF1) carries.
  EXPECT_NE(ReadAll(dir / "0").find("\xFF\xC1"), std::string::npos);
  EXPECT_NE(ReadAll(dir / "50").find("\xFF\xC0"), std::string::npos);
  EXPECT_EQ(Djpeg(dir / "0").height, 48);
}

TEST(JpegFile, FailuresReturnTheirResultAndLeaveNothingBehind) {
  TempDir dir;
  const Bytes pixels = RedOverBlue(4, 4, 2);
  std::string error;
  EXPECT_EQ(WriteJpegFile(dir / "a.jpg", Picture(0, 4, pixels), 50, &error), kJpegNoPicture);
  EXPECT_EQ(WriteJpegFile(dir / "a.jpg", Picture(4, 5, pixels), 50, &error), kJpegNoPicture);
  EXPECT_EQ(WriteJpegFile(dir / "a.jpg", Picture(4, 4, pixels, 11), 50, &error), kJpegNoPicture);
  EXPECT_NE(error.find("do not cover"), std::string::npos) << error;
  EXPECT_EQ(WriteJpegFile(dir / "missing" / "a.jpg", Picture(4, 4, pixels), 50, &error), kJpegFileError);
  EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
  EXPECT_EQ(EntryCount(dir.path()), 0u);

  // libjpeg's own error (past its 65500-pixel limit) comes back instead of ending the process.
  WriteAll(dir / "a.jpg", "previous picture");
  EXPECT_EQ(WriteJpegFile(dir / "a.jpg", Picture(65501, 1, Bytes(3 * 65501)), 50, &error), kJpegFileError);
  EXPECT_NE(error.find("65500"), std::string::npos) << error;
  EXPECT_EQ(ReadAll(dir / "a.jpg"), "previous picture");
  EXPECT_EQ(WriteJpegFile(dir / "a.jpg", Picture(4, 4, pixels), 50), kJpegSaved);
  EXPECT_EQ(Djpeg(dir / "a.jpg").width, 4);

  std::filesystem::permissions(dir.path(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  if (::access(dir.path().c_str(), W_OK) != 0) {  // root writes anyway
    EXPECT_EQ(WriteJpegFile(dir / "b.jpg", Picture(4, 4, pixels), 50, &error), kJpegFileError);
    EXPECT_NE(error.find("Permission denied"), std::string::npos) << error;
  }
  std::filesystem::permissions(dir.path(), std::filesystem::perms::owner_all);
  EXPECT_EQ(EntryCount(dir.path()), 1u);
}

}  // namespace
}  // namespace norvane
