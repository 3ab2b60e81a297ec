// CViewerApp: reads the command line, runs the main window, and ends the program when it closes.
#pragma once

#include <QStringList>
#include <optional>
#include <string>
#include <vector>

#include "ui/main_window.h"

namespace norvane {

struct ViewerArguments {
  ViewerOptions options;
  std::optional<std::string> slip;   // an unknown option or word: one line and a pointer to --help
  std::optional<std::string> error;  // a wrong value: the problem and the usage
  bool help = false;
  bool version = false;
  bool chart = false;  // the long-term chart alone, without the main window
};

// "norvane-viewer [--port DEV] [--settings FILE] [--chart]": DEV is a port number or a device path.
// The first argument is the program's; Qt's own options are passed over.
ViewerArguments ParseViewerArguments(const std::vector<std::string>& arguments);

// Prints the usage, the version or a usage error and returns the exit code; empty when the window
// should start. Needs no QApplication, so it works without a display.
std::optional<int> AnswerWithoutWindow(const std::vector<std::string>& arguments);

class CViewerApp {
 public:
  // Runs the window until it closes; the process exit code.
  int Run(const QStringList& arguments);
};

}  // namespace norvane
