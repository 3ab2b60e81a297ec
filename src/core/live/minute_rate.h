// The counts per minute of a live counter, one definition for every readout and publisher.
#pragma once

#include <array>
#include <cstdint>

namespace norvane::live {

// 60 × the mean of the seconds measured in the minute up to and including the newest: a gap
// neither pulls it down nor, after a start, makes it ramp up from 0.
class MinuteRate {
 public:
  // Adds the count of second `utc` and returns the CPM with it.
  uint32_t Add(int64_t utc, uint32_t count);
  void Clear() { *this = MinuteRate(); }

 private:
  struct Slot {
    int64_t time = INT64_MIN;
    uint32_t count = 0;
  };
  std::array<Slot, 60> slots_{};
};

}  // namespace norvane::live
