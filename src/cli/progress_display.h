// The download's display on stderr: the status log's lines and a progress bar below them.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>

#include "core/common/user_notifier.h"
#include "core/history/download.h"

namespace norvane::cli {

// "[#####---------------]  25%  262144/1048576 bytes  11.5 kB/s  1:08 left". The rate and the
// time left need some elapsed time and progress; until then they read "-".
std::string ProgressBarText(uint32_t done, uint32_t total, std::chrono::duration<double> elapsed);

// Stands in for the window's status log and progress window. On a terminal the bar is redrawn in
// place (at most ten times a second) and log lines are printed above it; elsewhere (a file, a
// pipe) the bar is printed as a line each time another 10 % is reached. The download thread and
// the command's thread both report, hence the lock.
class ProgressDisplay final : public UserNotifier, public DownloadProgress {
 public:
  using Now = std::function<std::chrono::steady_clock::time_point()>;
  ProgressDisplay(std::ostream& err, bool terminal, Now now = &std::chrono::steady_clock::now);

  void Message(std::string_view text, std::string_view caption) override;
  void Status(std::string_view line) override;
  bool Ask(std::string_view question, std::string_view caption) override;
  void DownloadProgressed(uint32_t address, uint32_t image_size) override;

  // Ends the bar at `done` bytes (the download stops reporting just before its last read): its
  // last state stays on screen and later lines go below it.
  void Finish(uint32_t done);

 private:
  void Line(std::string_view text);
  void ClearBar();
  void DrawBar();

  std::mutex mutex_;
  std::ostream& err_;
  bool terminal_;
  Now now_;
  std::optional<std::chrono::steady_clock::time_point> started_;
  std::chrono::steady_clock::time_point last_draw_{};
  uint32_t done_ = 0;
  uint32_t total_ = 0;
  int tenths_printed_ = 0;
  bool bar_shown_ = false;
};

}  // namespace norvane::cli
