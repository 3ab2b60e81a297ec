// Window pictures: the capture, the bitmap at every screen depth, the JPEG and the failures.
#include "ui/window_capture.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <QWidget>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "core/files/bmp_writer.h"
#include "core/files/jpeg_writer.h"

namespace norvane {
namespace {

namespace fs = std::filesystem;

// White, with a red block at the top left, a black one in the middle and a blue one at the
// bottom right, so rows and columns that come out swapped or mirrored show.
class MarkedWidget : public QWidget {
 public:
  MarkedWidget() { setFixedSize(500, 400); }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    painter.fillRect(QRect(0, 0, 51, 40), QColor(255, 0, 0));
    painter.fillRect(QRect(100, 100, 50, 40), QColor(0, 0, 0));
    painter.fillRect(QRect(450, 360, 50, 40), QColor(0, 0, 255));
  }
};

uint32_t Le16(const std::string& b, size_t at) {
  return static_cast<uint8_t>(b[at]) | static_cast<uint32_t>(static_cast<uint8_t>(b[at + 1])) << 8;
}
uint32_t Le32(const std::string& b, size_t at) { return Le16(b, at) | Le16(b, at + 2) << 16; }

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Bitmap {
  std::string bytes;
  uint32_t bits() const { return Le16(bytes, 28); }
  uint32_t width() const { return Le32(bytes, 18); }
  uint32_t height() const { return Le32(bytes, 22); }
  size_t row_bytes() const { return (bits() * width() + 31) / 32 * 4; }
  // The byte that holds pixel (x, y) counted from the top, in a file stored bottom-up.
  size_t PixelAt(int x, int y) const {
    return Le32(bytes, 10) + (height() - 1 - static_cast<uint32_t>(y)) * row_bytes() + x * bits() / 8;
  }
  uint32_t TableEntry(uint32_t index) const { return Le32(bytes, 54 + 4 * index) & 0xFFFFFF; }
  uint32_t Index(int x, int y) const {
    const uint8_t byte = static_cast<uint8_t>(bytes[PixelAt(x, y)]);
    if (bits() == 8) return byte;
    if (bits() == 4) return x % 2 ? byte & 0x0F : byte >> 4;
    return (byte >> (7 - x % 8)) & 1;
  }
};

class WindowCaptureTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("norvane_capture_" + std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    picture_ = CaptureWindow(&widget_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  Bitmap SavedBitmap(int depth) {
    const fs::path path = dir_ / ("depth" + std::to_string(depth) + ".bmp");
    std::string error;
    EXPECT_TRUE(SaveWindowBitmap(path, picture_, depth, &error)) << error;
    return {ReadAll(path)};
  }

  fs::path dir_;
  MarkedWidget widget_;
  QImage picture_;
};

TEST_F(WindowCaptureTest, OffscreenCaptureIsTheWindowsOwnRendering) {
  ASSERT_EQ(picture_.size(), QSize(500, 400));
  EXPECT_EQ(QColor(picture_.pixel(10, 10)), QColor(255, 0, 0));
  EXPECT_EQ(QColor(picture_.pixel(490, 390)), QColor(0, 0, 255));
  EXPECT_TRUE(CaptureWindow(nullptr).isNull());
}

TEST_F(WindowCaptureTest, TwentyFourBitBitmapHasTheHeaderAndBottomUpRows) {
  const Bitmap bmp = SavedBitmap(24);
  const std::string& b = bmp.bytes;
  ASSERT_EQ(b.size(), 54u + 1500u * 400u);
  EXPECT_EQ(b.substr(0, 2), "BM");
  EXPECT_EQ(Le32(b, 2), b.size());
  EXPECT_EQ(Le32(b, 6), 0u);
  EXPECT_EQ(Le32(b, 10), 54u);
  EXPECT_EQ(Le32(b, 14), 40u);
  EXPECT_EQ(bmp.width(), 500u);
  EXPECT_EQ(bmp.height(), 400u);
  EXPECT_EQ(Le16(b, 26), 1u);
  EXPECT_EQ(bmp.bits(), 24u);
  for (size_t at = 30; at < 54; at += 4) EXPECT_EQ(Le32(b, at), 0u) << "header byte " << at;

  // Blue, green, red: the red block is near the end of the file, the blue one near the start.
  const size_t red = bmp.PixelAt(10, 20);
  EXPECT_EQ(red, 54u + 379u * 1500u + 30u);
  EXPECT_EQ(b.substr(red, 3), std::string("\x00\x00\xFF", 3));
  EXPECT_EQ(b.substr(bmp.PixelAt(495, 395), 3), std::string("\xFF\x00\x00", 3));
  EXPECT_EQ(b.substr(bmp.PixelAt(300, 200), 3), std::string("\xFF\xFF\xFF", 3));
}

TEST_F(WindowCaptureTest, ScreenDepthChoosesTheBitsPerPixel) {
  const Bitmap deep = SavedBitmap(32);
  EXPECT_EQ(deep.bits(), 32u);
  EXPECT_EQ(deep.bytes.size(), 54u + 2000u * 400u);
  EXPECT_EQ(deep.bytes.substr(deep.PixelAt(10, 20), 4), std::string("\x00\x00\xFF\x00", 4));

  const Bitmap sixteen = SavedBitmap(16);
  EXPECT_EQ(sixteen.bits(), 24u);
  EXPECT_EQ(Le32(sixteen.bytes, 10), 54u) << "no colour table above 8 bits";
  EXPECT_EQ(sixteen.bytes.size(), 54u + 1500u * 400u);
}

TEST_F(WindowCaptureTest, IndexedDepthsWriteAColourTableThePixelsPointInto) {
  struct Case {
    int depth;
    uint32_t table_entries;
    uint32_t row_bytes;
  };
  for (const Case& c : {Case{8, 256, 500}, Case{4, 16, 252}, Case{1, 2, 64}}) {
    SCOPED_TRACE(c.depth);
    const Bitmap bmp = SavedBitmap(c.depth);
    ASSERT_EQ(bmp.bits(), static_cast<uint32_t>(c.depth));
    const uint32_t table = 4 * c.table_entries;
    EXPECT_EQ(Le32(bmp.bytes, 10), 54u + table);
    ASSERT_EQ(bmp.bytes.size(), 54u + table + c.row_bytes * 400u);
    EXPECT_EQ(bmp.TableEntry(bmp.Index(300, 200)), 0xFFFFFFu);
    EXPECT_EQ(bmp.TableEntry(bmp.Index(120, 120)), 0x000000u);
    // Edges inside one byte, so a bit or half-byte order turned round shows.
    EXPECT_EQ(bmp.TableEntry(bmp.Index(99, 120)), 0xFFFFFFu);
    EXPECT_EQ(bmp.TableEntry(bmp.Index(100, 120)), 0x000000u);
    if (c.depth > 1) {
      EXPECT_EQ(bmp.TableEntry(bmp.Index(10, 20)), 0xFF0000u) << "red, stored blue first";
      EXPECT_EQ(bmp.TableEntry(bmp.Index(495, 395)), 0x0000FFu);
      EXPECT_EQ(bmp.TableEntry(bmp.Index(50, 20)), 0xFF0000u);
      EXPECT_EQ(bmp.TableEntry(bmp.Index(51, 20)), 0xFFFFFFu);
    }
  }
}

TEST_F(WindowCaptureTest, JpegDecodesBackAtTheWindowsSize) {
  const fs::path path = dir_ / "window.jpg";
  std::string error;
  ASSERT_EQ(SaveWindowJpeg(path, picture_, kWindowPictureQuality, &error), kJpegSaved) << error;
  QImage decoded(QString::fromStdString(path.string()));
  ASSERT_EQ(decoded.size(), QSize(500, 400));
  const QColor red = decoded.pixelColor(20, 20);
  EXPECT_GT(red.red(), 200);
  EXPECT_LT(red.blue(), 60);
  const QColor blue = decoded.pixelColor(480, 380);
  EXPECT_GT(blue.blue(), 200);
  EXPECT_LT(blue.red(), 60);

}

TEST_F(WindowCaptureTest, PatternChoosesTheFileKind) {
  std::string error;
  ASSERT_TRUE(SaveWindowPicture(&widget_, "*.bmp", dir_ / "a.bmp", &error)) << error;
  const Bitmap bmp{ReadAll(dir_ / "a.bmp")};
  EXPECT_EQ(bmp.bytes.substr(0, 2), "BM");
  EXPECT_EQ(bmp.bits(), static_cast<uint32_t>(BitmapBitsForDepth(ScreenDepth(&widget_))));

  for (const char* pattern : {"*.jpg", "*.jpeg"}) {
    const fs::path path = dir_ / (std::string("b") + (pattern + 1));
    ASSERT_TRUE(SaveWindowPicture(&widget_, pattern, path, &error)) << pattern << ": " << error;
    EXPECT_EQ(ReadAll(path).substr(0, 2), "\xFF\xD8") << pattern;
  }

  // The bitmap is looked for first.
  ASSERT_TRUE(SaveWindowPicture(&widget_, "*.jpg;*.bmp", dir_ / "c.bmp", &error)) << error;
  EXPECT_EQ(ReadAll(dir_ / "c.bmp").substr(0, 2), "BM");

  EXPECT_FALSE(SaveWindowPicture(&widget_, "*.csv", dir_ / "d.csv", &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(fs::exists(dir_ / "d.csv"));
}

TEST_F(WindowCaptureTest, FailuresAreReportedAndLeaveNoFile) {
  const fs::path missing = dir_ / "no such folder";
  std::string error;
  EXPECT_FALSE(SaveWindowBitmap(missing / "a.bmp", picture_, 24, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(SaveWindowJpeg(missing / "a.jpg", picture_, 50, &error), kJpegFileError);
  EXPECT_FALSE(SaveWindowPicture(&widget_, "*.bmp", missing / "b.bmp", &error));
  EXPECT_FALSE(SaveWindowPicture(&widget_, "*.jpeg", missing / "b.jpeg", &error));
  EXPECT_FALSE(fs::exists(missing));

  // No picture: nothing is written, and the bitmap path says so instead of claiming success.
  error.clear();
  EXPECT_EQ(SaveWindowJpeg(dir_ / "empty.jpg", QImage(), 50, &error), kJpegNoPicture);
  EXPECT_FALSE(error.empty());
  error.clear();
  EXPECT_FALSE(SaveWindowBitmap(dir_ / "empty.bmp", QImage(), 24, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(fs::exists(dir_ / "empty.jpg"));
  EXPECT_FALSE(fs::exists(dir_ / "empty.bmp"));

}

}  // namespace
}  // namespace norvane
