// The statistical alarm of one counter: sliding windows of its measured seconds against the
// background it has learnt, thresholds for a stated false-alarm rate, and alarm and all-clear
// events that do not flap.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

#include "core/alarm/background.h"

namespace norvane::alarm {

struct AlarmOptions {
  // False alarms a counter may raise in a year of background, shared among the windows.
  double false_alarms_per_year = 1.0;
  std::vector<int> windows{10, 60, 600};  // seconds
  // A dose rate (µSv/h, of the live one-minute CPM) that raises an alarm whatever the background.
  std::optional<double> fixed_usv_h;
  // Seconds every window must stay below its all-clear level (halfway from the expected counts
  // to the threshold) and the dose rate below 90 % of the fixed threshold before the all-clear.
  int clear_seconds = 60;
  int background_days = 7;
  // The chance the learnt background is still too low, for a station that has measured little.
  double background_tail = 1e-3;
};

enum class AlarmKind { kRaised, kCleared };

struct AlarmEvent {
  AlarmKind kind = AlarmKind::kRaised;
  int64_t utc = 0;
  int window = 0;              // seconds of the window that fired; 0: the fixed dose threshold
  double level_cpm = 0;        // counts a minute in that window (for a dose alarm: the live CPM)
  double threshold_cpm = 0;    // the window's threshold as counts a minute
  double background_cpm = 0;   // the learnt background
  double usv_h = 0;            // the live dose rate
};

struct WindowState {
  int seconds = 0;
  uint32_t measured = 0;  // measured seconds in the window
  uint64_t counts = 0;
  uint32_t threshold = 0;  // counts; 0 while no background is known
};

class AlarmDetector {
 public:
  explicit AlarmDetector(AlarmOptions options);

  // Minutes of the past (from the store), before the first live second.
  void LearnMinute(int64_t minute_start, uint64_t counts, uint64_t seconds);
  // A second measured before this run (a run that was stopped or killed), at its own time and in
  // time order, before the first live one: it fills the windows without being judged again.
  // `learn`: it is not yet in the background that LearnMinute taught.
  void Prime(int64_t utc, uint32_t count, bool learn);
  // One measured second, in time order; returns the event it raised or cleared, if any. A second
  // at or before the last one is ignored: each second enters the windows once.
  std::optional<AlarmEvent> OnSecond(int64_t utc, uint32_t count, double usv_h);

  bool active() const { return active_; }
  double background_cpm() const { return 60 * background_.Estimate().Rate(); }
  const std::vector<WindowState>& windows() const { return states_; }
  const AlarmOptions& options() const { return options_; }

 private:
  struct Threshold {
    double rate = -1;
    uint32_t measured = 0;
    uint32_t counts = 0;
  };
  bool Enter(int64_t utc, uint32_t count);
  void Slide(int64_t utc);
  uint32_t ThresholdOf(size_t window, double rate);
  double ChancePerSecond() const;

  AlarmOptions options_;
  Background background_;
  struct Held {
    int64_t utc;
    uint32_t count;
  };
  std::deque<Held> recent_;  // the measured seconds of the longest window
  std::vector<WindowState> states_;
  std::vector<size_t> tails_;  // per window: how many of recent_ have left it
  std::vector<Threshold> thresholds_;
  bool active_ = false;
  int quiet_ = 0;  // seconds in a row below every all-clear level
};

}  // namespace norvane::alarm
