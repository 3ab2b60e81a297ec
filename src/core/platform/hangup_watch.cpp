#include "core/platform/hangup_watch.h"

#include <ctime>

namespace norvane {
namespace {

// How often the watcher looks whether it should end: seldom, as a service runs for weeks and
// a log reopened half a second late loses nothing.
constexpr long kWatchStepNs = 500'000'000;

}  // namespace

HangupWatch::HangupWatch(std::function<void()> on_hangup) : on_hangup_(std::move(on_hangup)) {
  sigemptyset(&set_);
  sigaddset(&set_, SIGHUP);
  // The watcher starts with SIGINT and SIGTERM blocked as well: were it not, one of them could
  // land on this thread and end the process before an InterruptWatch saw it.
  sigset_t all = set_;
  sigaddset(&all, SIGINT);
  sigaddset(&all, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &all, &previous_);
  thread_ = std::thread(&HangupWatch::Watch, this);
  sigset_t kept = previous_;
  sigaddset(&kept, SIGHUP);
  pthread_sigmask(SIG_SETMASK, &kept, nullptr);
}

HangupWatch::~HangupWatch() {
  stop_.store(true);
  thread_.join();
  pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

void HangupWatch::Watch() {
  const timespec step{0, kWatchStepNs};
  while (!stop_.load()) {
    if (sigtimedwait(&set_, nullptr, &step) == SIGHUP && on_hangup_) on_hangup_();
  }
}

}  // namespace norvane
