// Entry point of norvane-viewer.
#include <QApplication>
#include <QIcon>

#include "ui/viewer_app.h"

int main(int argc, char** argv) {
  // The usage, the version and a mistyped option need no display: answered before the window
  // system is looked for.
  if (const std::optional<int> answered = norvane::AnswerWithoutWindow({argv, argv + argc})) return *answered;

  QApplication app(argc, argv);
  QApplication::setApplicationName("Norvane Data Viewer");
  // The installed desktop entry and icon: Wayland compositors match the window to them by this name.
  QApplication::setDesktopFileName("org.norvane.DataViewer");
  QApplication::setWindowIcon(QIcon::fromTheme("org.norvane.DataViewer"));
  return norvane::CViewerApp().Run(QApplication::arguments());
}
