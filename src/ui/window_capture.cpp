#include "ui/window_capture.h"

#include <QGuiApplication>
#include <QList>
#include <QPixmap>
#include <QScreen>
#include <cstdint>
#include <span>
#include <vector>

#include "core/files/bmp_writer.h"
#include "core/files/jpeg_writer.h"

namespace norvane {
namespace {

// The colours a 4-bit screen shows, in the order Windows gives its 16-colour bitmaps.
constexpr QRgb kSixteenColours[16] = {
    0xFF000000, 0xFF800000, 0xFF008000, 0xFF808000, 0xFF000080, 0xFF800080, 0xFF008080, 0xFFC0C0C0,
    0xFF808080, 0xFFFF0000, 0xFF00FF00, 0xFFFFFF00, 0xFF0000FF, 0xFFFF00FF, 0xFF00FFFF, 0xFFFFFFFF,
};

bool Refuse(std::string* error, std::string reason) {
  if (error) *error = std::move(reason);
  return false;
}

std::span<const uint8_t> Bytes(const QImage& image) {
  return {image.constBits(), static_cast<size_t>(image.sizeInBytes())};
}

std::vector<uint32_t> ColourRefs(const QList<QRgb>& table) {
  std::vector<uint32_t> refs;
  refs.reserve(static_cast<size_t>(table.size()));
  for (QRgb c : table)
    refs.push_back(static_cast<uint32_t>(qRed(c)) | static_cast<uint32_t>(qGreen(c)) << 8 |
                   static_cast<uint32_t>(qBlue(c)) << 16);
  return refs;
}

// Platforms that draw nowhere, or will not hand out the screen's pixels.
bool ScreenHasPixels() {
  const QString platform = QGuiApplication::platformName();
  return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal") &&
         !platform.startsWith(QLatin1String("wayland"));
}

QImage GrabFromScreen(QWidget* top) {
  QScreen* screen = top->screen();
  if (!screen || !ScreenHasPixels() || !top->isVisible() || top->isMinimized()) return {};
  // The whole screen, then the frame cut out of it: the only coordinates grabWindow(0) states.
  const QPixmap shot = screen->grabWindow(0);
  if (shot.isNull()) return {};
  const qreal ratio = shot.devicePixelRatio();
  const QRect frame = top->frameGeometry().translated(-screen->geometry().topLeft());
  const QRect pixels(QPoint(qRound(frame.x() * ratio), qRound(frame.y() * ratio)),
                     QSize(qRound(frame.width() * ratio), qRound(frame.height() * ratio)));
  // Parts of the frame beyond the screen's edge come out black.
  return shot.toImage().convertToFormat(QImage::Format_RGB32).copy(pixels);
}

bool WriteIndexed(const std::filesystem::path& path, const QImage& indexed, int bits, std::string* error) {
  const std::vector<uint32_t> colours = ColourRefs(indexed.colorTable());
  BitmapPicture picture{indexed.width(), indexed.height(), bits, Bytes(indexed),
                        static_cast<size_t>(indexed.bytesPerLine()), colours};
  return WriteBitmapFile(path, picture, error);
}

// Two colour-table indices to a byte, the left pixel in the high half.
bool WriteSixteenColours(const std::filesystem::path& path, const QImage& image, std::string* error) {
  const QList<QRgb> table(std::begin(kSixteenColours), std::end(kSixteenColours));
  const QImage indexed =
      image.convertToFormat(QImage::Format_RGB32).convertToFormat(QImage::Format_Indexed8, table, Qt::ThresholdDither);
  const int width = indexed.width();
  const size_t stride = static_cast<size_t>(width + 1) / 2;
  std::vector<uint8_t> packed(stride * static_cast<size_t>(indexed.height()), 0);
  for (int y = 0; y < indexed.height(); ++y) {
    const uchar* row = indexed.constScanLine(y);
    uint8_t* out = packed.data() + static_cast<size_t>(y) * stride;
    for (int x = 0; x < width; ++x)
      out[x / 2] |= static_cast<uint8_t>((row[x] & 0x0F) << (x % 2 ? 0 : 4));
  }
  const std::vector<uint32_t> colours = ColourRefs(table);
  BitmapPicture picture{width, indexed.height(), 4, packed, stride, colours};
  return WriteBitmapFile(path, picture, error);
}

// Blue, green, red and a zero byte, whatever order the host keeps a QRgb in.
bool WriteTrueColour32(const std::filesystem::path& path, const QImage& image, std::string* error) {
  const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
  const size_t stride = 4 * static_cast<size_t>(rgb.width());
  std::vector<uint8_t> rows(stride * static_cast<size_t>(rgb.height()));
  for (int y = 0; y < rgb.height(); ++y) {
    const QRgb* in = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
    uint8_t* out = rows.data() + static_cast<size_t>(y) * stride;
    for (int x = 0; x < rgb.width(); ++x, out += 4) {
      out[0] = static_cast<uint8_t>(qBlue(in[x]));
      out[1] = static_cast<uint8_t>(qGreen(in[x]));
      out[2] = static_cast<uint8_t>(qRed(in[x]));
      out[3] = 0;
    }
  }
  BitmapPicture picture{rgb.width(), rgb.height(), 32, rows, stride, {}};
  return WriteBitmapFile(path, picture, error);
}

}  // namespace

QImage CaptureWindow(QWidget* window) {
  if (!window) return {};
  QWidget* top = window->window();
  QImage shot = GrabFromScreen(top);
  if (!shot.isNull()) return shot;
  return top->grab().toImage();
}

int ScreenDepth(QWidget* window) {
  QScreen* screen = window ? window->screen() : QGuiApplication::primaryScreen();
  // Without any screen the picture keeps the colours it was drawn with.
  return screen ? screen->depth() : 32;
}

int SaveWindowJpeg(const std::filesystem::path& path, const QImage& image, int quality, std::string* error) {
  if (image.isNull()) {
    Refuse(error, "cannot write " + path.string() + ": there is no picture of the window");
    return kJpegNoPicture;
  }
  const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
  RgbPicture picture{rgb.width(), rgb.height(), Bytes(rgb), static_cast<size_t>(rgb.bytesPerLine())};
  return WriteJpegFile(path, picture, quality, error);
}

bool SaveWindowBitmap(const std::filesystem::path& path, const QImage& image, int screen_depth, std::string* error) {
  // Reporting success for a file that was never written would hide the failure from the log.
  if (image.isNull()) return Refuse(error, "cannot write " + path.string() + ": there is no picture of the window");
  switch (BitmapBitsForDepth(screen_depth)) {
    case 1:
      // Qt maps onto a given colour table only from 32-bit pixels.
      return WriteIndexed(path,
                          image.convertToFormat(QImage::Format_RGB32)
                              .convertToFormat(QImage::Format_Mono, QList<QRgb>{0xFF000000, 0xFFFFFFFF},
                                               Qt::ThresholdDither),
                          1, error);
    case 4:
      return WriteSixteenColours(path, image, error);
    case 8:
      return WriteIndexed(path,
                          image.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither | Qt::AvoidDither),
                          8, error);
    case 24: {
      const QImage bgr = image.convertToFormat(QImage::Format_BGR888);
      BitmapPicture picture{bgr.width(), bgr.height(), 24, Bytes(bgr), static_cast<size_t>(bgr.bytesPerLine()), {}};
      return WriteBitmapFile(path, picture, error);
    }
    default:
      return WriteTrueColour32(path, image, error);
  }
}

bool SaveWindowPicture(QWidget* window, std::string_view pattern, const std::filesystem::path& path,
                       std::string* error) {
  const bool bitmap = pattern.find("*.bmp") != std::string_view::npos;
  const bool jpeg = !bitmap && (pattern.find("*.jpg") != std::string_view::npos ||
                                pattern.find("*.jpeg") != std::string_view::npos);
  if (!bitmap && !jpeg)
    return Refuse(error, "cannot write " + path.string() + ": \"" + std::string(pattern) + "\" is not a picture type");
  const QImage picture = CaptureWindow(window);
  if (bitmap) return SaveWindowBitmap(path, picture, ScreenDepth(window), error);
  return SaveWindowJpeg(path, picture, kWindowPictureQuality, error) == kJpegSaved;
}

}  // namespace norvane
