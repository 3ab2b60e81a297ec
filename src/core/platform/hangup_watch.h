// Turning SIGHUP into a call, for a service that reopens its log when logrotate asks it to.
#pragma once

#include <atomic>
#include <functional>
#include <signal.h>
#include <thread>

namespace norvane {

// Blocks SIGHUP in the constructing thread (threads started later inherit that) and calls
// `on_hangup` on a thread of its own for every SIGHUP. Its own thread blocks SIGINT and SIGTERM
// too, so an InterruptWatch made after it keeps them. The destructor stops watching and restores
// the previous mask.
class HangupWatch {
 public:
  explicit HangupWatch(std::function<void()> on_hangup);
  ~HangupWatch();
  HangupWatch(const HangupWatch&) = delete;
  HangupWatch& operator=(const HangupWatch&) = delete;

 private:
  void Watch();

  std::function<void()> on_hangup_;
  sigset_t set_{};
  sigset_t previous_{};
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace norvane
