// The live engine's sense of time: a steady beat, the wall clock seconds are stamped with, and a
// wait that another thread can cut short. Tests drive the engine on a virtual one.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

namespace norvane::live {

using Steady = std::chrono::steady_clock;

class LiveClock {
 public:
  virtual ~LiveClock() = default;
  virtual Steady::time_point Now() = 0;
  // The wall clock in milliseconds since 1970 (UTC).
  virtual int64_t WallMs() = 0;
  // Returns at `until`, or earlier once Wake() is called.
  virtual void WaitUntil(Steady::time_point until) = 0;
  // Cuts the current or the next wait short; safe from any thread.
  virtual void Wake() = 0;
};

// The machine's clocks.
class SystemLiveClock final : public LiveClock {
 public:
  Steady::time_point Now() override { return Steady::now(); }
  int64_t WallMs() override;
  void WaitUntil(Steady::time_point until) override;
  void Wake() override;

 private:
  std::mutex mutex_;
  std::condition_variable wake_;
  bool woken_ = false;
};

// Time that moves only when the engine waits, or when a link says a byte arrived later: a
// minute of polling runs in microseconds and always the same way. Single-threaded.
class VirtualLiveClock final : public LiveClock {
 public:
  // `wall_ms` is the wall time at the start.
  explicit VirtualLiveClock(int64_t wall_ms) : wall_start_ms_(wall_ms) {}

  Steady::time_point Now() override { return start_ + elapsed_; }
  int64_t WallMs() override {
    return wall_start_ms_ + std::chrono::duration_cast<std::chrono::milliseconds>(elapsed_).count();
  }
  void WaitUntil(Steady::time_point until) override;
  void Wake() override {}

  // Moves time on to `t` (never back).
  void AdvanceTo(Steady::time_point t) {
    if (t > Now()) elapsed_ = t - start_;
  }
  void Advance(std::chrono::nanoseconds d) { AdvanceTo(Now() + d); }
  // Called at every wait with its end; what it returns is added to the wait: how a loaded
  // machine oversleeps.
  void SetOversleep(std::function<std::chrono::nanoseconds(Steady::time_point)> oversleep) {
    oversleep_ = std::move(oversleep);
  }

 private:
  const Steady::time_point start_{};
  Steady::duration elapsed_{};
  const int64_t wall_start_ms_;
  std::function<std::chrono::nanoseconds(Steady::time_point)> oversleep_;
};

}  // namespace norvane::live
