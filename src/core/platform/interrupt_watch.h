// Turning Ctrl+C (SIGINT) or SIGTERM into a call, for a long device command that must stop cleanly.
#pragma once

#include <atomic>
#include <functional>
#include <signal.h>
#include <thread>

namespace norvane {

// Blocks SIGINT and SIGTERM in the constructing thread (threads started later inherit that) and
// watches for them on a thread of its own, which calls `on_interrupt` once. The destructor stops
// watching and restores the previous mask; a signal that arrives after that acts as usual.
class InterruptWatch {
 public:
  explicit InterruptWatch(std::function<void()> on_interrupt);
  ~InterruptWatch();
  InterruptWatch(const InterruptWatch&) = delete;
  InterruptWatch& operator=(const InterruptWatch&) = delete;

  bool interrupted() const { return interrupted_.load(); }

 private:
  void Watch();

  std::function<void()> on_interrupt_;
  sigset_t set_{};
  sigset_t previous_{};
  std::atomic<bool> interrupted_{false};
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// True when standard error is a terminal, where a progress bar may redraw its line in place.
bool StandardErrorIsTerminal();

}  // namespace norvane
