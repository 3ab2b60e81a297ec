#include "core/live/live_clock.h"

namespace norvane::live {

int64_t SystemLiveClock::WallMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

void SystemLiveClock::WaitUntil(Steady::time_point until) {
  std::unique_lock lock(mutex_);
  wake_.wait_until(lock, until, [this] { return woken_; });
  woken_ = false;
}

void SystemLiveClock::Wake() {
  {
    std::lock_guard lock(mutex_);
    woken_ = true;
  }
  wake_.notify_all();
}

void VirtualLiveClock::WaitUntil(Steady::time_point until) {
  AdvanceTo(until);
  if (oversleep_) Advance(oversleep_(until));
}

}  // namespace norvane::live
