// Fetching one of the counter's four stored screen captures into a bitmap file.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "core/protocol/device_session.h"

namespace norvane {

enum class ScreenshotOutcome {
  kSaved,           // "Screenshot Saved."
  kNoInformation,   // "Failed to download. Please try again."
  kEmptySlot,       // "No screenshot found on device."
  kCancelled,       // no file name chosen; nothing shown
  kDataFailed,      // "Download Failed."
  kNotWritten,      // "Couldn't create the file!"
  kBadScreen,       // not screen 1-4; nothing sent
};

struct ScreenshotResult {
  ScreenshotOutcome outcome = ScreenshotOutcome::kBadScreen;
  std::string default_name;  // offered to the save dialog
  std::string path;          // the file written, or that could not be
  std::string error;         // the system's reason when the file could not be written
};

struct ScreenshotOptions {
  int tries = 6;
  // After the settle time, how long a reply may still trickle in (a slow line, a busy counter).
  std::chrono::milliseconds info_reply_wait{300};
  std::chrono::milliseconds data_reply_wait{1000};
};

class ScreenshotDownload {
 public:
  // Shows the save dialog with the default name; empty for cancel.
  using ChoosePath = std::function<std::optional<std::string>(const std::string& default_name)>;

  explicit ScreenshotDownload(DeviceSession& session, ScreenshotOptions options = {})
      : session_(session), options_(options) {}

  // Screen `screen` (1-4) of the counter on the session's open port.
  ScreenshotResult Download(int screen, const ChoosePath& choose_path);

 private:
  DeviceSession& session_;
  ScreenshotOptions options_;
};

}  // namespace norvane
