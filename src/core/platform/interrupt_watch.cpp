#include "core/platform/interrupt_watch.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>

namespace norvane {
namespace {

// How often the watcher looks whether it should end.
constexpr long kWatchStepNs = 50'000'000;

}  // namespace

InterruptWatch::InterruptWatch(std::function<void()> on_interrupt) : on_interrupt_(std::move(on_interrupt)) {
  sigemptyset(&set_);
  sigaddset(&set_, SIGINT);
  sigaddset(&set_, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &set_, &previous_);
  thread_ = std::thread(&InterruptWatch::Watch, this);
}

InterruptWatch::~InterruptWatch() {
  stop_.store(true);
  thread_.join();
  pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

void InterruptWatch::Watch() {
  const timespec step{0, kWatchStepNs};
  while (!stop_.load()) {
    const int signal_number = sigtimedwait(&set_, nullptr, &step);
    if (signal_number < 0) continue;  // time-out or EINTR
    // The flag changes under the lock, so a hook made meanwhile is called either here or by
    // itself, never both.
    std::lock_guard lock(hooks_mutex_);
    if (interrupted_.exchange(true)) continue;
    if (on_interrupt_) on_interrupt_();
    for (InterruptHook* hook : hooks_) hook->on_interrupt_();
  }
}

InterruptHook::InterruptHook(InterruptWatch& watch, std::function<void()> on_interrupt)
    : watch_(watch), on_interrupt_(std::move(on_interrupt)) {
  std::lock_guard lock(watch_.hooks_mutex_);
  if (watch_.interrupted_.load())
    on_interrupt_();
  else
    watch_.hooks_.push_back(this);
}

InterruptHook::~InterruptHook() {
  std::lock_guard lock(watch_.hooks_mutex_);
  std::erase(watch_.hooks_, this);
}

bool StandardErrorIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

}  // namespace norvane
