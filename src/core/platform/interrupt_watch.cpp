#include "core/platform/interrupt_watch.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

namespace norvane {

InterruptWatch::InterruptWatch(std::function<void()> on_interrupt, std::function<void()> on_hangup)
    : on_interrupt_(std::move(on_interrupt)), on_hangup_(std::move(on_hangup)) {
  sigemptyset(&set_);
  sigaddset(&set_, SIGINT);
  sigaddset(&set_, SIGTERM);
  if (on_hangup_) sigaddset(&set_, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &set_, &previous_);
  signals_fd_ = ::signalfd(-1, &set_, SFD_CLOEXEC);
  stop_fd_ = ::eventfd(0, EFD_CLOEXEC);
  thread_ = std::thread(&InterruptWatch::Watch, this);
}

InterruptWatch::~InterruptWatch() {
  const uint64_t one = 1;
  while (::write(stop_fd_, &one, sizeof one) < 0 && errno == EINTR) {
  }
  thread_.join();
  ::close(signals_fd_);
  ::close(stop_fd_);
  pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

void InterruptWatch::Watch() {
  for (;;) {
    pollfd fds[2] = {{signals_fd_, POLLIN, 0}, {stop_fd_, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents != 0) return;
    signalfd_siginfo info{};
    if (::read(signals_fd_, &info, sizeof info) != static_cast<ssize_t>(sizeof info)) continue;
    if (info.ssi_signo == SIGHUP) {
      on_hangup_();
      continue;
    }
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
