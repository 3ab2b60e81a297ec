// The one source of wall-clock time, so tests can say "on 2026-03-07 at 09:05:04".
#pragma once

#include <ctime>

namespace norvane {

struct LocalTime {
  int year = 2000;  // full year
  int month = 1;    // 1-12
  int day = 1;      // 1-31
  int hour = 0;
  int minute = 0;
  int second = 0;
};

class Clock {
 public:
  virtual ~Clock() = default;
  virtual std::time_t Now() const = 0;
  // Calendar time as the user's local time.
  virtual LocalTime ToLocal(std::time_t t) const = 0;
  LocalTime LocalNow() const { return ToLocal(Now()); }
};

// The machine's clock and time zone.
class SystemClock final : public Clock {
 public:
  std::time_t Now() const override;
  LocalTime ToLocal(std::time_t t) const override;
};

// A clock that stands still at a chosen local time (UTC-based, so tests do not depend on the
// machine's time zone); tests move it on by hand.
class FixedClock final : public Clock {
 public:
  explicit FixedClock(const LocalTime& at);
  std::time_t Now() const override { return now_; }
  LocalTime ToLocal(std::time_t t) const override;
  void Advance(std::time_t seconds) { now_ += seconds; }

 private:
  std::time_t now_;
};

}  // namespace norvane
