#include "core/alarm/alarm_detector.h"

#include <algorithm>
#include <cmath>

#include "core/alarm/poisson_threshold.h"

namespace norvane::alarm {
namespace {

constexpr double kSecondsPerYear = 365.25 * 86400;
// A threshold is worked out again at once when the background's bound rose by more than the
// first share, and when it fell by more than the second: a threshold a little too high only
// alarms a little later, and a new station's bound, which falls every second, then costs a
// threshold search every few minutes instead of every second.
constexpr double kRiseTolerance = 1e-4;
constexpr double kFallTolerance = 1e-2;
constexpr double kDoseClearShare = 0.9;

}  // namespace

AlarmDetector::AlarmDetector(AlarmOptions options)
    : options_(std::move(options)), background_(options_.background_days) {
  std::sort(options_.windows.begin(), options_.windows.end());
  for (int w : options_.windows) states_.push_back({w, 0, 0, 0});
  tails_.assign(states_.size(), 0);
  thresholds_.assign(states_.size(), {});
}

void AlarmDetector::LearnMinute(int64_t minute_start, uint64_t counts, uint64_t seconds) {
  background_.AddMinute(minute_start, counts, seconds);
}

double AlarmDetector::ChancePerSecond() const {
  const double tests = static_cast<double>(states_.size());
  return options_.false_alarms_per_year / tests / kSecondsPerYear;
}

void AlarmDetector::Slide(int64_t utc) {
  for (size_t i = 0; i < states_.size(); ++i) {
    WindowState& s = states_[i];
    while (tails_[i] < recent_.size() && recent_[tails_[i]].utc <= utc - s.seconds) {
      s.counts -= recent_[tails_[i]].count;
      --s.measured;
      ++tails_[i];
    }
  }
  // The longest window is the last: what it has let go, every window has.
  const size_t gone = tails_.empty() ? recent_.size() : tails_.back();
  recent_.erase(recent_.begin(), recent_.begin() + static_cast<std::ptrdiff_t>(gone));
  for (size_t& tail : tails_) tail -= gone;
}

uint32_t AlarmDetector::ThresholdOf(size_t window, double rate) {
  Threshold& t = thresholds_[window];
  const uint32_t measured = states_[window].measured;
  if (t.measured != measured || rate > t.rate * (1 + kRiseTolerance) || rate < t.rate * (1 - kFallTolerance)) {
    // A window that holds fewer seconds than its length is judged by the seconds it holds.
    const bool filling = measured < static_cast<uint32_t>(states_[window].seconds);
    t = {rate, measured, ThresholdFor(rate, static_cast<int>(measured), ChancePerSecond(), filling)};
  }
  return t.counts;
}

bool AlarmDetector::Enter(int64_t utc, uint32_t count) {
  if (!recent_.empty() && utc <= recent_.back().utc) return false;
  recent_.push_back({utc, count});
  for (WindowState& s : states_) s.counts += count, ++s.measured;
  Slide(utc);
  return true;
}

void AlarmDetector::Prime(int64_t utc, uint32_t count, bool learn) {
  if (Enter(utc, count) && learn) background_.Add(utc, count);
}

std::optional<AlarmEvent> AlarmDetector::OnSecond(int64_t utc, uint32_t count, double usv_h) {
  if (!Enter(utc, count)) return std::nullopt;

  const BackgroundEstimate known = background_.Estimate();
  const double bound = RateUpperBound(known.counts, static_cast<double>(known.seconds), options_.background_tail);
  const double background_cpm = 60 * known.Rate();
  std::optional<AlarmEvent> fired;
  bool quiet = true;
  for (size_t i = 0; i < states_.size(); ++i) {
    WindowState& s = states_[i];
    s.threshold = std::isfinite(bound) ? ThresholdOf(i, bound) : 0;
    if (s.threshold == 0) continue;
    const double expected = bound * s.measured;
    if (static_cast<double>(s.counts) >= expected + (s.threshold - expected) / 2) quiet = false;
    if (!fired && s.counts >= s.threshold)
      fired = AlarmEvent{AlarmKind::kRaised, utc, s.seconds, 60.0 * static_cast<double>(s.counts) / s.measured,
                         60.0 * s.threshold / s.measured, background_cpm, usv_h};
  }
  if (options_.fixed_usv_h) {
    if (usv_h >= *options_.fixed_usv_h * kDoseClearShare) quiet = false;
    if (!fired && usv_h >= *options_.fixed_usv_h) {
      const double cpm_now = states_.empty() ? 0 : 60.0 * static_cast<double>(states_[0].counts) / states_[0].measured;
      fired = AlarmEvent{AlarmKind::kRaised, utc, 0, cpm_now, 0, background_cpm, usv_h};
    }
  }

  // Seconds under an alarm are kept out of the background, so a source never becomes it.
  if (!active_ && !fired) background_.Add(utc, count);
  if (!active_) {
    if (!fired) return std::nullopt;
    active_ = true;
    quiet_ = 0;
    return fired;
  }
  quiet_ = quiet ? quiet_ + 1 : 0;
  if (quiet_ < options_.clear_seconds) return std::nullopt;
  active_ = false;
  AlarmEvent clear{AlarmKind::kCleared, utc, 0, 0, 0, background_cpm, usv_h};
  if (!states_.empty()) {
    const WindowState& s = states_.front();
    clear.window = s.seconds;
    clear.level_cpm = 60.0 * static_cast<double>(s.counts) / s.measured;
    clear.threshold_cpm = 60.0 * s.threshold / s.measured;
  }
  return clear;
}

}  // namespace norvane::alarm
