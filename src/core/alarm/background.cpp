#include "core/alarm/background.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace norvane::alarm {
namespace {

// Wide enough that a background minute is hardly ever refused (about one in two million at
// five standard deviations, and the slack covers the skew of a few counts a minute), narrow
// enough that a doubling of a few counts a second is, and so is a silent minute of a counter
// that should have counted a few dozen.
constexpr double kBandSigmas = 5;
constexpr double kBandSlack = 3;
constexpr int64_t kRejudgeMinutes = 60;

int64_t MinuteOf(int64_t utc) { return utc >= 0 ? utc / 60 : (utc - 59) / 60; }

}  // namespace

void Background::Add(int64_t utc, uint32_t count) {
  const int64_t index = MinuteOf(utc);
  if (index != open_.index) {
    if (open_.seconds > 0) Close();
    open_ = {index, 0, 0, false};
  }
  open_.counts += count;
  ++open_.seconds;
}

void Background::AddMinute(int64_t minute_start, uint64_t counts, uint64_t seconds) {
  if (seconds == 0) return;
  if (open_.seconds > 0) Close();
  open_ = {MinuteOf(minute_start), counts, seconds, false};
  Close();
  open_ = {INT64_MIN, 0, 0, false};
}

bool Background::Admits(const Minute& m) const {
  const double expected = median_rate_ * static_cast<double>(m.seconds);
  const double spread = kBandSigmas * std::sqrt(expected);
  const double counts = static_cast<double>(m.counts);
  return counts <= expected + spread + kBandSlack && counts >= expected - spread;
}

void Background::Rejudge() {
  std::vector<double> rates;
  rates.reserve(minutes_.size());
  for (const Minute& m : minutes_) rates.push_back(static_cast<double>(m.counts) / static_cast<double>(m.seconds));
  auto middle = rates.begin() + static_cast<std::ptrdiff_t>(rates.size() / 2);
  std::nth_element(rates.begin(), middle, rates.end());
  median_rate_ = *middle;
  pool_ = {};
  for (Minute& m : minutes_) {
    m.admitted = Admits(m);
    if (m.admitted) pool_.counts += m.counts, pool_.seconds += m.seconds;
  }
}

void Background::Close() {
  Minute minute = open_;
  while (!minutes_.empty() && minutes_.front().index <= minute.index - keep_minutes_) {
    const Minute& old = minutes_.front();
    if (old.admitted) pool_.counts -= old.counts, pool_.seconds -= old.seconds;
    minutes_.pop_front();
  }
  minutes_.push_back(minute);
  if (minutes_.size() < kRejudgeMinutes || minute.index - judged_at_ >= kRejudgeMinutes) {
    judged_at_ = minute.index;
    Rejudge();
    return;
  }
  Minute& last = minutes_.back();
  last.admitted = Admits(last);
  if (last.admitted) pool_.counts += last.counts, pool_.seconds += last.seconds;
}

BackgroundEstimate Background::Estimate() const {
  return {pool_.counts + open_.counts, pool_.seconds + open_.seconds};
}

}  // namespace norvane::alarm
