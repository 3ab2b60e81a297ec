#include "core/history/realtime_series.h"

#include <algorithm>
#include <limits>

namespace norvane {

RealtimeSeries::RealtimeSeries(std::time_t now) : samples_(kCapacity, 0) { Reset(now); }

void RealtimeSeries::ClearSamples() {
  std::fill(samples_.begin(), samples_.end(), 0);
  count_ = kFirstSlot;
  first_measured_ = kFirstSlot;
  total_ = 0;
}

void RealtimeSeries::Reset(std::time_t now) {
  ClearSamples();
  start_time_ = now;
  start_stamp_ = {};
  elapsed_ = 0;
}

void RealtimeSeries::StartSession(std::time_t now, const StampTime& local_now) {
  ClearSamples();
  Stamp(now, local_now);
}

void RealtimeSeries::Stamp(std::time_t time, const StampTime& t) {
  start_time_ = time;
  start_stamp_ = {kMarker0, kMarker1, kCodeStamp, t.year, t.month, t.day, t.hour, t.minute, t.second,
                  kMarker0, kMarker1, kEverySecond};
}

void RealtimeSeries::Restore(std::time_t start_time, const StampTime& start, std::span<const uint32_t> counts) {
  StartSession(start_time, start);
  elapsed_ = 0;
  first_measured_ = 0;
  count_ = static_cast<uint32_t>(std::min<size_t>(counts.size(), kCapacity));
  std::copy_n(counts.begin(), count_, samples_.begin());
  for (uint32_t i = 0; i < count_; ++i) total_ += samples_[i];
}

bool RealtimeSeries::Append(uint32_t value) {
  if (full()) return false;
  samples_[count_++] = value;
  total_ += value;
  return true;
}

uint32_t RealtimeSeries::Cpm(uint32_t back) const {
  int64_t first = 0, end = count_;
  if (count_ >= 61) {
    end = int64_t{count_} - back;
    first = std::max<int64_t>(end - 60, 0);
  }
  uint64_t sum = 0;
  for (int64_t i = first; i < end; ++i) sum += samples_[static_cast<size_t>(i)];
  return static_cast<uint32_t>(std::min<uint64_t>(sum, std::numeric_limits<uint32_t>::max()));
}

double RealtimeSeries::AverageCpm() const {
  if (elapsed_ > 60) return static_cast<double>(total_) / (elapsed_ / 60.0);
  return Cpm(0);
}

}  // namespace norvane
