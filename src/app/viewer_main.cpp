// Entry point of norvane-viewer.
#include <QApplication>

#include "ui/viewer_app.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("Norvane Data Viewer");
  return norvane::CViewerApp().Run(QApplication::arguments());
}
