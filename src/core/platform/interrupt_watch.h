// Turning Ctrl+C (SIGINT) or SIGTERM into a call, for a long device command that must stop cleanly,
// and SIGHUP into another, for a service that reopens its log when logrotate asks it to.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <signal.h>
#include <thread>
#include <vector>

namespace norvane {

class InterruptHook;

// Blocks SIGINT and SIGTERM (and SIGHUP, when `on_hangup` is given) in the constructing thread,
// before any other thread starts (threads started later inherit that), and watches for them on a
// thread of its own, which calls `on_interrupt` and every live hook once, and `on_hangup` at every
// SIGHUP. The thread sleeps until a signal comes: a service that runs for weeks costs nothing
// while it waits. The destructor stops watching and restores the previous mask; a signal that
// arrives after that acts as usual.
class InterruptWatch {
 public:
  explicit InterruptWatch(std::function<void()> on_interrupt = {}, std::function<void()> on_hangup = {});
  ~InterruptWatch();
  InterruptWatch(const InterruptWatch&) = delete;
  InterruptWatch& operator=(const InterruptWatch&) = delete;

  bool interrupted() const { return interrupted_.load(); }

 private:
  friend class InterruptHook;
  void Watch();

  std::function<void()> on_interrupt_;
  std::function<void()> on_hangup_;
  sigset_t set_{};
  sigset_t previous_{};
  int signals_fd_ = -1;
  int stop_fd_ = -1;  // written once by the destructor
  std::atomic<bool> interrupted_{false};
  // Held while the interrupt is handled, so a hook leaving waits for a call that is under way.
  std::mutex hooks_mutex_;
  std::vector<InterruptHook*> hooks_;
  std::thread thread_;
};

// An interrupt call for an object that lives shorter than the watch (a download, say): made after
// the object and gone before it. It runs at once when the interrupt has already come; once its
// destructor has returned it never runs, nor is it still running, so it cannot reach an object
// that is being destroyed.
class InterruptHook {
 public:
  InterruptHook(InterruptWatch& watch, std::function<void()> on_interrupt);
  ~InterruptHook();
  InterruptHook(const InterruptHook&) = delete;
  InterruptHook& operator=(const InterruptHook&) = delete;

 private:
  friend class InterruptWatch;
  InterruptWatch& watch_;
  std::function<void()> on_interrupt_;
};

// True when standard error is a terminal, where a progress bar may redraw its line in place.
bool StandardErrorIsTerminal();

}  // namespace norvane
