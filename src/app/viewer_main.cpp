// Entry point of norvane-viewer.
#include <QApplication>
#include <QIcon>

#include "ui/viewer_app.h"

int main(int argc, char** argv) {
  // The usage needs no display: answer it before the window system is looked for. Only then,
  // since QApplication takes its own options (-platform ...) off the command line first.
  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  if (arguments.contains("--help") || arguments.contains("-h")) return norvane::AnswerWithoutWindow(arguments).value_or(0);

  QApplication app(argc, argv);
  QApplication::setApplicationName("Norvane Data Viewer");
  // The installed desktop entry and icon: Wayland compositors match the window to them by this name.
  QApplication::setDesktopFileName("org.norvane.DataViewer");
  QApplication::setWindowIcon(QIcon::fromTheme("org.norvane.DataViewer"));
  return norvane::CViewerApp().Run(QApplication::arguments());
}
