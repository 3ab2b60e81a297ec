#include "core/live/minute_rate.h"

#include <cstddef>

namespace norvane::live {

uint32_t MinuteRate::Add(int64_t utc, uint32_t count) {
  slots_[static_cast<std::size_t>(((utc % 60) + 60) % 60)] = {utc, count};
  uint64_t sum = 0, measured = 0;
  for (const Slot& s : slots_) {
    if (s.time <= utc - 60 || s.time > utc) continue;
    sum += s.count;
    ++measured;
  }
  return measured ? static_cast<uint32_t>(sum * 60 / measured) : 0;
}

}  // namespace norvane::live
