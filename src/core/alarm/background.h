// A counter's background rate, learnt from its measured minutes and robust against the minutes
// of a source, a stuck tube or a half-measured minute.
#pragma once

#include <cstdint>
#include <deque>

namespace norvane::alarm {

struct BackgroundEstimate {
  uint64_t counts = 0;
  uint64_t seconds = 0;
  double Rate() const { return seconds ? static_cast<double>(counts) / static_cast<double>(seconds) : 0.0; }
};

// Minutes older than `days` drop out. A closed minute joins the estimate when its counts lie
// within a wide Poisson band around the median minute, so a source that has not (yet) raised
// an alarm, or the zeros of a silent tube, do not become the background; the median is taken
// afresh every hour, and every minute while less than an hour is known.
class Background {
 public:
  explicit Background(int days) : keep_minutes_(static_cast<int64_t>(days) * 1440) {}

  // A measured second the alarm did not flag; seconds come in time order.
  void Add(int64_t utc, uint32_t count);
  // A whole minute at once, as the store keeps them.
  void AddMinute(int64_t minute_start, uint64_t counts, uint64_t seconds);
  // The admitted minutes and the open one.
  BackgroundEstimate Estimate() const;

 private:
  struct Minute {
    int64_t index = 0;
    uint64_t counts = 0;
    uint64_t seconds = 0;
    bool admitted = false;
  };
  void Close();
  bool Admits(const Minute& minute) const;
  void Rejudge();

  const int64_t keep_minutes_;
  std::deque<Minute> minutes_;
  Minute open_{INT64_MIN, 0, 0, false};
  BackgroundEstimate pool_;
  double median_rate_ = 0;
  int64_t judged_at_ = INT64_MIN;  // the minute of the last median
};

}  // namespace norvane::alarm
