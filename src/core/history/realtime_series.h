// One day of per-second counts recorded by realtime monitoring, with its derived rates.
#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <span>
#include <vector>

#include "core/history/record_stream.h"

namespace norvane {

class RealtimeSeries {
 public:
  static constexpr uint32_t kCapacity = 86400;
  // Slots 0-58 start as zeros so that the first 60-sample view is already full. They were never
  // measured: they stay in memory and out of every file.
  static constexpr uint32_t kFirstSlot = 59;

  explicit RealtimeSeries(std::time_t now);

  // Empties the series and restarts its clock; the start stamp is gone until the next Stamp().
  void Reset(std::time_t now);
  // A new monitoring session: empties the samples and stamps the series now, but keeps the
  // elapsed seconds.
  void StartSession(std::time_t now, const StampTime& local_now);
  // Says when the recording starts: the first measured second sets it, so a file's start stamp
  // is the time of its first second.
  void Stamp(std::time_t time, const StampTime& local_time);

  // Takes a saved recording back: slot i holds counts[i] and the count is their number (at most a
  // day; the rest is dropped). Every one of them counts as measured, so it is saved again as read.
  void Restore(std::time_t start_time, const StampTime& start, std::span<const uint32_t> counts);

  // Stores one second's full count. False when the day is full (the caller saves and resets
  // first), and the value is dropped.
  bool Append(uint32_t value);
  // Sum of 60 consecutive seconds ending `back` seconds before the newest.
  uint32_t Cpm(uint32_t back = 0) const;
  double AverageCpm() const;

  uint32_t count() const { return count_; }
  // The seconds really measured, without the padding before them: what files hold.
  std::span<const uint32_t> measured() const {
    return std::span<const uint32_t>(samples_).subspan(first_measured_, count_ - first_measured_);
  }
  uint32_t measured_count() const { return count_ - first_measured_; }
  bool full() const { return count_ >= kCapacity; }
  uint64_t total() const { return total_; }
  uint32_t elapsed() const { return elapsed_; }
  void set_elapsed(uint32_t seconds) { elapsed_ = seconds; }
  std::time_t start_time() const { return start_time_; }
  const std::array<uint8_t, kStampLength>& start_stamp() const { return start_stamp_; }
  uint32_t at(uint32_t slot) const { return samples_[slot]; }

 private:
  void ClearSamples();

  std::vector<uint32_t> samples_;
  uint32_t count_ = kFirstSlot;
  uint32_t first_measured_ = kFirstSlot;
  uint64_t total_ = 0;
  uint32_t elapsed_ = 0;
  std::time_t start_time_ = 0;
  std::array<uint8_t, kStampLength> start_stamp_{};
};

}  // namespace norvane
