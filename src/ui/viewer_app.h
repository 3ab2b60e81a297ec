// CViewerApp: reads the command line, runs the main window, and ends the program when it closes.
#pragma once

#include <QStringList>
#include <optional>
#include <string>

#include "ui/main_window.h"

namespace norvane {

struct ViewerArguments {
  ViewerOptions options;
  std::optional<std::string> error;  // a usage problem to report instead of starting
  bool help = false;
  bool chart = false;  // the long-term chart alone, without the main window
};

// "norvane-viewer [--port DEV] [--settings FILE] [--chart]": DEV is a port number or a device path.
ViewerArguments ParseViewerArguments(const QStringList& arguments);

// Prints the usage for --help or a usage error and returns the exit code; empty when the window
// should start. Needs no QApplication, so it works without a display.
std::optional<int> AnswerWithoutWindow(const QStringList& arguments);

class CViewerApp {
 public:
  // Runs the window until it closes; the process exit code.
  int Run(const QStringList& arguments);
};

}  // namespace norvane
