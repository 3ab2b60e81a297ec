// The quality of a counter's measured seconds, a day at a time: whether they behave like Poisson
// counts of a working tube, and how much of the day was measured.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/store/counter_store.h"

namespace norvane::store {

// One rule's verdict on a stretch of seconds. Publishers and the chart list every rule judged
// without knowing them, so a new rule shows wherever quality is shown.
struct RuleResult {
  std::string rule;     // a short name fit for a metric label or a JSON key
  double value = 0;     // what the rule measured, in the unit its name tells
  bool ok = true;
  std::string problem;  // why it fails, in words; empty when it passes
};

struct DayQuality {
  int64_t day = 0;            // the UTC day's first second
  uint64_t expected = 0;      // seconds of the day within the counter's first and last measured
  uint64_t measured = 0;
  double mean = 0;            // counts a second
  double dispersion = 0;      // variance over mean (the chi-square index): 1 for Poisson counts
  uint32_t longest_repeat = 0;   // seconds in a row with one and the same count above zero
  uint32_t repeated_count = 0;   // that count
  uint32_t longest_silence = 0;  // measured seconds in a row without a count
  double coverage() const { return expected ? double(measured) / double(expected) : 0.0; }
  // Judged by every rule; with fewer seconds only by the coverage and a run already decisive.
  bool judged() const;
  // What fails, in words; empty when the day passes every rule.
  std::vector<std::string> problems;
  // Every rule that was judged.
  std::vector<RuleResult> rules;
};

// Each rule is set for about one false failure in a million days of a working counter.
// A day of fewer measured seconds than this is judged by its coverage and by a run of one count
// or of silence already too long for chance; the other rules wait for more seconds.
inline constexpr uint64_t kQualityMinimumSeconds = 600;
inline bool DayQuality::judged() const { return measured >= kQualityMinimumSeconds; }
// Below this share of the day measured (between the counter's first and last second), a day fails.
inline constexpr double kQualityMinimumCoverage = 0.9;

// The UTC days overlapping [from, to), oldest first; days without a measured second are left out.
std::vector<DayQuality> DailyQuality(CounterStore& store, CounterId counter, int64_t from, int64_t to);

// [from, to) judged as one stretch, as a day is (`day` is then `from`); none without a measured
// second in it. What a live service or the chart tells of a counter's last 24 hours.
std::optional<DayQuality> StretchQuality(CounterStore& store, CounterId counter, int64_t from, int64_t to);

// The counter's clock against the computer's, from the readings the store keeps of it.
struct ClockQuality {
  size_t readings = 0;
  std::optional<ClockReading> last;
  // Seconds a day the counter's clock gains (below 0: loses) since it was last set, and over how
  // many seconds of readings; none until the readings span kClockMinimumDriftSpan.
  std::optional<double> drift_per_day;
  int64_t drift_span = 0;
  // What fails, in words; empty when the clock passes.
  std::vector<std::string> problems;
};

// A clock this far off the computer's fails: time stamps a minute off put counts into the wrong
// minute of the chart and the exports.
inline constexpr int64_t kClockMaximumOffset = 60;
// A clock gaining or losing more than this a day fails (about 116 ppm; a watch crystal keeps
// within 20 ppm, under 2 s a day).
inline constexpr double kClockMaximumDriftPerDay = 10;
// A drift is judged over readings at least a day apart: each reading is whole seconds and the
// link's latency, so two readings an hour apart could not tell 10 s a day from none.
inline constexpr int64_t kClockMinimumDriftSpan = 86400;

ClockQuality JudgeClock(CounterStore& store, CounterId counter);

}  // namespace norvane::store
