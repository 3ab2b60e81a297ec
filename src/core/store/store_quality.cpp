#include "core/store/store_quality.h"

#include <algorithm>
#include <cmath>

#include "core/common/text_format.h"

namespace norvane::store {
namespace {

constexpr int64_t kDay = 86400;
// A rule fails when a working counter would show what it saw with a chance below this in a day.
constexpr double kChancePerDay = 1e-6;
// The dispersion index of n Poisson seconds is about normal with this many standard deviations
// for a millionth, two-sided.
constexpr double kDispersionSigmas = 4.9;

int64_t DayOf(int64_t t) { return (t >= 0 ? t / kDay : (t - kDay + 1) / kDay) * kDay; }

// P(X = k) for Poisson counts of this mean.
double Pmf(uint32_t k, double mean) {
  return std::exp(k * std::log(mean) - mean - std::lgamma(k + 1.0));
}

// Every rule judged goes on the list; a failing one also goes on the problems in words.
void Rule(DayQuality& q, const char* rule, double value, bool failed, std::string problem) {
  if (failed) q.problems.push_back(problem);
  q.rules.push_back({rule, value, !failed, failed ? std::move(problem) : std::string()});
}

void Judge(DayQuality& q) {
  Rule(q, "coverage", q.coverage(), q.coverage() < kQualityMinimumCoverage,
       Format("coverage %.1f %% is below %.0f %%", 100 * q.coverage(), 100 * kQualityMinimumCoverage));
  const double n = static_cast<double>(q.measured);
  // Below the minimum only what is already decisive counts: a run that long is no chance even in
  // a few minutes, while the dispersion of so few seconds tells nothing yet.
  const bool all = q.judged();
  if (all && q.mean <= 0) {
    Rule(q, "silence_seconds", q.longest_silence, true, "no count all day");
    return;
  }
  if (q.mean <= 0) return;
  // Var(index) = (2 + 1/mean) / (n - 1) for Poisson seconds: too steady is a stuck tube, too
  // wild a noisy one.
  if (all) {
    const double sigma = std::sqrt((2 + 1 / q.mean) / (n - 1));
    Rule(q, "dispersion", q.dispersion, std::abs(q.dispersion - 1) > kDispersionSigmas * sigma,
         Format("dispersion %.3f is %s than Poisson counts give (1 ± %.3f)", q.dispersion,
                q.dispersion < 1 ? "steadier" : "wilder", kDispersionSigmas * sigma));
  }
  // A run of L seconds of one count k starts at a second with chance about P(k)^L, and of any
  // count above zero at most P(mode)^(L-1). Runs of zeros are silence, judged below.
  const double p_mode = Pmf(std::max<uint32_t>(1, static_cast<uint32_t>(q.mean)), q.mean);
  const double repeat_chance = n * std::pow(p_mode, q.longest_repeat - 1.0);
  const bool repeats = q.repeated_count > 0 && q.longest_repeat > 1 && repeat_chance < kChancePerDay;
  if (all || repeats)
    Rule(q, "repeat_seconds", q.longest_repeat, repeats,
         Format("the count %u repeats %u seconds in a row", q.repeated_count, q.longest_repeat));
  const double silence_chance = n * std::exp(-q.mean * q.longest_silence);
  const bool silent = q.longest_silence > 0 && silence_chance < kChancePerDay;
  if (all || silent)
    Rule(q, "silence_seconds", q.longest_silence, silent,
         Format("no count for %u seconds in a row at %.2f counts a second", q.longest_silence, q.mean));
}

// The seconds of [begin, end) measured and judged; none when there is no second.
std::optional<DayQuality> Measure(CounterStore& store, CounterId counter, int64_t day, int64_t begin, int64_t end) {
  const std::vector<Second> seconds = store.ReadSeconds(counter, begin, end);
  if (seconds.empty()) return std::nullopt;
  DayQuality q;
  q.day = day;
  q.expected = static_cast<uint64_t>(end - begin);
  q.measured = seconds.size();
  double sum = 0, squares = 0;
  uint32_t run = 0, silence = 0;
  // The longest run of a count other than zero: zeros are the silence.
  for (size_t i = 0; i < seconds.size(); ++i) {
    const Second& s = seconds[i];
    sum += s.count;
    squares += double(s.count) * s.count;
    // A gap ends a run: what the counter said across it is not known.
    const bool follows = i > 0 && seconds[i - 1].time + 1 == s.time;
    run = follows && seconds[i - 1].count == s.count ? run + 1 : 1;
    if (s.count > 0 && run > q.longest_repeat) q.longest_repeat = run, q.repeated_count = s.count;
    silence = s.count == 0 ? (follows ? silence + 1 : 1) : 0;
    q.longest_silence = std::max(q.longest_silence, silence);
  }
  const double n = static_cast<double>(q.measured);
  q.mean = sum / n;
  if (q.mean > 0 && n > 1) q.dispersion = (squares - sum * sum / n) / (n - 1) / q.mean;
  Judge(q);
  return q;
}

// Narrows [from, to) to the counter's measured life, from its first to its last second: a counter
// is not judged for the days before it began or after it ended. False when it measured nothing.
bool Clip(CounterStore& store, CounterId counter, int64_t& from, int64_t& to) {
  const std::optional<int64_t> last = store.NewestSecond(counter);
  const std::optional<int64_t> first = last ? store.OldestSecond(counter) : std::nullopt;
  if (!first) return false;
  from = std::max(from, *first);
  to = std::min(to, *last + 1);
  return true;
}

}  // namespace

std::vector<DayQuality> DailyQuality(CounterStore& store, CounterId counter, int64_t from, int64_t to) {
  std::vector<DayQuality> days;
  if (!Clip(store, counter, from, to)) return days;
  for (int64_t day = DayOf(from); day < to; day += kDay)
    if (auto q = Measure(store, counter, day, std::max(day, from), std::min(day + kDay, to))) days.push_back(std::move(*q));
  return days;
}

ClockQuality JudgeClock(CounterStore& store, CounterId counter) {
  ClockQuality q;
  const std::vector<ClockReading> readings = store.ClockReadings(counter);
  q.readings = readings.size();
  if (readings.empty()) return q;
  q.last = readings.back();
  const int64_t offset = q.last->offset;
  if (std::abs(offset) > kClockMaximumOffset)
    q.problems.push_back(Format("the counter's clock is %lld s %s the computer's (more than %lld s)",
                                static_cast<long long>(std::abs(offset)), offset > 0 ? "ahead of" : "behind",
                                static_cast<long long>(kClockMaximumOffset)));
  // A drift runs from the last time the counter was set; before that the clock was another.
  auto first = readings.begin();
  for (auto r = readings.begin(); r != readings.end(); ++r)
    if (r->set) first = r;
  q.drift_span = q.last->time - first->time;
  if (q.drift_span < kClockMinimumDriftSpan) return q;
  q.drift_per_day = double(q.last->offset - first->offset) * 86400.0 / double(q.drift_span);
  if (std::abs(*q.drift_per_day) > kClockMaximumDriftPerDay)
    q.problems.push_back("the counter's clock " + std::string(*q.drift_per_day > 0 ? "gains " : "loses ") +
                         FormatFixed(std::abs(*q.drift_per_day), 1) + " s a day (more than " +
                         FormatFixed(kClockMaximumDriftPerDay, 0) + " s)");
  return q;
}

std::optional<DayQuality> StretchQuality(CounterStore& store, CounterId counter, int64_t from, int64_t to) {
  int64_t begin = from, end = to;
  if (!Clip(store, counter, begin, end) || begin >= end) return std::nullopt;
  std::optional<DayQuality> q = Measure(store, counter, from, begin, end);
  // The clock belongs to no one day; a live service and the chart judge it with the stretch.
  const ClockQuality clock = JudgeClock(store, counter);
  if (q && clock.last) {
    const bool off = std::abs(clock.last->offset) > kClockMaximumOffset;
    Rule(*q, "clock_offset_seconds", static_cast<double>(clock.last->offset), off, off ? clock.problems.front() : "");
    if (clock.drift_per_day) {
      const bool drifts = std::abs(*clock.drift_per_day) > kClockMaximumDriftPerDay;
      Rule(*q, "clock_drift_seconds_per_day", *clock.drift_per_day, drifts, drifts ? clock.problems.back() : "");
    }
  }
  return q;
}

}  // namespace norvane::store
