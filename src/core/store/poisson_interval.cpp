#include "core/store/poisson_interval.h"

#include <cmath>
#include <limits>

namespace norvane::store {
namespace {

// Below this count the exact (Garwood) interval is used: its bounds are the means at which
// seeing n or more (resp. n or fewer) counts has a probability of 2.5 %. Above it the normal
// approximation n ± 1.96 √n is within a fraction of a percent of the exact bounds and needs no
// sums over thousands of terms.
constexpr uint64_t kExactBelow = 1000;
constexpr double kTail = 0.025;
constexpr double kZ = 1.959963984540054;

// P(X <= n) for X ~ Poisson(mean), summed in log space so large n do not overflow.
double PoissonCdf(uint64_t n, double mean) {
  if (mean <= 0) return 1.0;
  double total = 0;
  for (uint64_t k = 0; k <= n; ++k)
    total += std::exp(static_cast<double>(k) * std::log(mean) - mean - std::lgamma(static_cast<double>(k) + 1.0));
  return std::min(total, 1.0);
}

// The mean at which `f(mean)`, falling with the mean, comes down to `target`.
template <typename F>
double Solve(F f, double target, double high) {
  double low = 0;
  for (int i = 0; i < 200 && high - low > 1e-12 * std::max(1.0, high); ++i) {
    const double mid = (low + high) / 2;
    if (f(mid) > target) low = mid;
    else high = mid;
  }
  return (low + high) / 2;
}

}  // namespace

Interval PoissonInterval95(uint64_t n) {
  const double x = static_cast<double>(n);
  if (n >= kExactBelow) return {x - kZ * std::sqrt(x), x + kZ * std::sqrt(x)};
  const double ceiling = x + 20 * std::sqrt(x + 1) + 20;
  Interval interval;
  // Low bound: P(X >= n) = 2.5 %, that is P(X <= n-1) = 97.5 %. High bound: P(X <= n) = 2.5 %.
  if (n > 0) interval.low = Solve([n](double m) { return PoissonCdf(n - 1, m); }, 1 - kTail, ceiling);
  interval.high = Solve([n](double m) { return PoissonCdf(n, m); }, kTail, ceiling);
  return interval;
}

double DoseRate(const ConversionTable& table, double cpm) {
  if (!(cpm > 0)) return 0;
  const double whole = std::floor(std::min(cpm, double(std::numeric_limits<uint32_t>::max() - 1)));
  const auto n = static_cast<uint32_t>(whole);
  const double at = DoseRateFromCpm(table, n);
  return at + (cpm - whole) * (DoseRateFromCpm(table, n + 1) - at);
}

}  // namespace norvane::store
