// The statistical alarm on simulated counters: false alarms in a year of Poisson background at
// 1 Hz against the stated rate, and how soon a step rise of the background is found.
//
//   alarm_bench [--years=N] [--trials=N]
//
// Each background runs N years (default 1) from a station that has measured nothing yet, once at
// the default rate of one false alarm a year and once at one a day, whose count is large enough
// to test against its Poisson interval. Rises are stepped in after a day of learnt background,
// `trials` times each (default 200) at random phases, and also after ten minutes.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "core/alarm/alarm_detector.h"
#include "core/store/poisson_interval.h"

namespace norvane::alarm {
namespace {

constexpr double kBackgroundsCpm[] = {6, 30, 120, 600};
constexpr double kFactors[] = {1.5, 2, 5, 10};
constexpr int64_t kYear = 365 * 86400 + 86400 / 4;
constexpr int64_t kStart = 1'800'000'000;  // any whole minute
constexpr int kGiveUp = 3600;              // a rise not found within an hour is a miss

struct Counter {
  std::mt19937_64 random;
  std::poisson_distribution<uint32_t> counts;
  Counter(uint64_t seed, double cps) : random(seed), counts(cps) {}
  uint32_t Next() { return counts(random); }
};

uint64_t FalseAlarms(double cpm, double per_year, int64_t seconds, uint64_t seed) {
  AlarmOptions options;
  options.false_alarms_per_year = per_year;
  AlarmDetector detector(options);
  Counter counter(seed, cpm / 60);
  uint64_t raised = 0;
  for (int64_t t = 0; t < seconds; ++t) {
    auto event = detector.OnSecond(kStart + t, counter.Next(), 0);
    if (event && event->kind == AlarmKind::kRaised) ++raised;
  }
  return raised;
}

// Seconds from the step to the alarm, for `trials` steps; kGiveUp + 1 for a miss.
std::vector<int> Delays(double cpm, double factor, int64_t learn, int trials, uint64_t seed) {
  AlarmDetector learnt{AlarmOptions{}};
  Counter background(seed, cpm / 60);
  int64_t t = kStart;
  for (; t < kStart + learn; ++t) learnt.OnSecond(t, background.Next(), 0);
  Counter raised(seed + 1, cpm * factor / 60);
  std::uniform_int_distribution<int> phase(0, 599);
  std::vector<int> delays;
  for (int trial = 0; trial < trials; ++trial) {
    AlarmDetector detector = learnt;
    int64_t now = t;
    for (int k = phase(background.random); k > 0; --k) detector.OnSecond(now++, background.Next(), 0);
    int delay = kGiveUp + 1;
    for (int s = 1; s <= kGiveUp; ++s) {
      auto event = detector.OnSecond(now++, raised.Next(), 0);
      if (event && event->kind == AlarmKind::kRaised) {
        delay = s;
        break;
      }
    }
    delays.push_back(delay);
  }
  std::sort(delays.begin(), delays.end());
  return delays;
}

std::string Cell(const std::vector<int>& sorted) {
  auto at = [&](double q) { return sorted[std::min(sorted.size() - 1, static_cast<size_t>(q * sorted.size()))]; };
  auto text = [](int s) { return s > kGiveUp ? std::string(">1 h") : std::to_string(s) + " s"; };
  return text(at(0.5)) + " (" + text(at(0.9)) + ")";
}

int Main(int argc, char** argv) {
  int years = 1, trials = 200;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.rfind("--years=", 0) == 0) years = std::atoi(arg.c_str() + 8);
    else if (arg.rfind("--trials=", 0) == 0) trials = std::atoi(arg.c_str() + 9);
    else {
      std::fprintf(stderr, "usage: alarm_bench [--years=N] [--trials=N]\n");
      return 2;
    }
  }
  const auto began = std::chrono::steady_clock::now();
  std::printf("False alarms in %d simulated year(s) per background, windows 10 s, 1 min, 10 min:\n", years);
  std::printf("%-12s %-28s %-28s\n", "background", "stated 1/year", "stated 1/day");
  uint64_t seed = 1;
  uint64_t totals[2] = {0, 0};
  for (double cpm : kBackgroundsCpm) {
    const uint64_t yearly = FalseAlarms(cpm, 1, years * kYear, seed++);
    const uint64_t daily = FalseAlarms(cpm, 365.25, years * kYear, seed++);
    totals[0] += yearly;
    totals[1] += daily;
    std::printf("%5.0f CPM    %-28llu %-28llu\n", cpm, static_cast<unsigned long long>(yearly),
                static_cast<unsigned long long>(daily));
    std::fflush(stdout);
  }
  const double runs = static_cast<double>(std::size(kBackgroundsCpm) * years);
  for (int i = 0; i < 2; ++i) {
    const double stated = runs * (i == 0 ? 1 : 365.25);
    const store::Interval interval = store::PoissonInterval95(totals[i]);
    std::printf("all, stated %s: %llu false alarms in %.0f counter-years, expected at most %.0f; the 95 %% interval "
                "of the true mean is %.1f to %.1f\n",
                i == 0 ? "1/year" : "1/day", static_cast<unsigned long long>(totals[i]), runs, stated, interval.low,
                interval.high);
  }

  for (int64_t learn : {int64_t{86400}, int64_t{600}}) {
    std::printf("\nDetection delay of a step rise, median (90th percentile) of %d steps, after %s of background,\n"
                "at one false alarm a year:\n",
                trials, learn == 86400 ? "a day" : "ten minutes");
    std::printf("%-8s", "rise");
    for (double cpm : kBackgroundsCpm) std::printf(" %-18s", (std::to_string(static_cast<int>(cpm)) + " CPM").c_str());
    std::printf("\n");
    for (double factor : kFactors) {
      std::printf("x%-7g", factor);
      for (double cpm : kBackgroundsCpm) std::printf(" %-18s", Cell(Delays(cpm, factor, learn, trials, seed++)).c_str());
      std::printf("\n");
    }
  }
  const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  std::printf("\n(%.1f s)\n", took);
  return 0;
}

}  // namespace
}  // namespace norvane::alarm

int main(int argc, char** argv) { return norvane::alarm::Main(argc, argv); }
