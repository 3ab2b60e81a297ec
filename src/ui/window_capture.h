// Pictures of the main window: the capture itself and its JPEG and bitmap files.
#pragma once

#include <QImage>
#include <QWidget>
#include <filesystem>
#include <string>
#include <string_view>

namespace norvane {

// The window as the screen shows it. On a real display this is the screen's pixels under the
// top-level window's frame rectangle, frame and caption included. Where the platform has no
// frame or hands out no screen pixels (offscreen, Wayland, a hidden or minimised window) it is
// the window's own rendering of its client area (QWidget::grab). Null without a window.
QImage CaptureWindow(QWidget* window);

// Bits per pixel of the screen the window is on (of the primary screen without a window).
int ScreenDepth(QWidget* window);

// kJpegSaved, kJpegFileError or kJpegNoPicture (a null image), with *error saying why.
int SaveWindowJpeg(const std::filesystem::path& path, const QImage& image, int quality, std::string* error = nullptr);

// Writes the picture with the bits per pixel a screen `screen_depth` deep gives (1, 4, 8, 24 or
// 32; 8 and below with a colour table). A null image is a failure, and nothing is written.
bool SaveWindowBitmap(const std::filesystem::path& path, const QImage& image, int screen_depth,
                      std::string* error = nullptr);

// Captures `window` and saves it by the type pattern: "*.bmp" as a bitmap of the screen's depth,
// else "*.jpg" or "*.jpeg" as a JPEG of the program's picture quality. False, with *error saying
// why, when nothing was saved; the caller logs "File error:<path>".
bool SaveWindowPicture(QWidget* window, std::string_view pattern, const std::filesystem::path& path,
                       std::string* error = nullptr);

}  // namespace norvane
