#include "core/alarm/poisson_threshold.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace norvane::alarm {
namespace {

double LogPmf(double k, double mean) {
  if (mean <= 0) return k == 0 ? 0.0 : -INFINITY;
  return k * std::log(mean) - mean - std::lgamma(k + 1.0);
}

// The standard normal quantile of 1 - p (Acklam's rational form, ample for a confidence bound).
double UpperNormalQuantile(double p) {
  static constexpr double a[] = {-3.969683028665376e+01, 2.209460984245205e+02, -2.759285104469687e+02,
                                 1.383577518672690e+02, -3.066479806614716e+01, 2.506628277459239e+00};
  static constexpr double b[] = {-5.447609879822406e+01, 1.615858368580409e+02, -1.556989798598866e+02,
                                 6.680131188771972e+01, -1.328068155288572e+01};
  static constexpr double c[] = {-7.784894002430293e-03, -3.223964580411365e-01, -2.400758277161838e+00,
                                 -2.549732539343734e+00, 4.374664141464968e+00, 2.938163982698783e+00};
  static constexpr double d[] = {7.784695709041462e-03, 3.224671290700398e-01, 2.445134137142996e+00,
                                 3.754408661907416e+00};
  p = std::clamp(p, 1e-300, 0.5);
  const double q = std::sqrt(-2 * std::log(p));
  if (p < 0.02425)
    return -(((((c[0] * q + c[1]) * q + c[2]) * q + c[3]) * q + c[4]) * q + c[5]) /
           ((((d[0] * q + d[1]) * q + d[2]) * q + d[3]) * q + 1);
  const double r = p - 0.5, s = r * r;
  return -(((((a[0] * s + a[1]) * s + a[2]) * s + a[3]) * s + a[4]) * s + a[5]) * r /
         (((((b[0] * s + b[1]) * s + b[2]) * s + b[3]) * s + b[4]) * s + 1);
}

}  // namespace

double UpCrossingChance(double rate, int seconds, uint32_t threshold, bool filling) {
  if (rate <= 0 || seconds <= 0 || threshold == 0) return 0.0;
  // The window's sum a second ago was C + out, now it is C + in, where C counts the seconds both
  // share and out, in the second that left and the one that came (none left a filling window).
  // An up-crossing is C + out < threshold <= C + in. Only C within a few standard deviations of
  // one second's count below the threshold matter.
  const int span = static_cast<int>(rate + 14 * std::sqrt(rate) + 14);
  std::vector<double> at_most(static_cast<size_t>(span) + 1);  // P(out <= j)
  double pmf = std::exp(-rate), cumulative = 0;
  for (int j = 0; j <= span; ++j) {
    cumulative += pmf;
    at_most[static_cast<size_t>(j)] = std::min(cumulative, 1.0);
    pmf *= rate / (j + 1);
  }
  const double shared = rate * (seconds - 1);
  const int64_t k = threshold;
  double chance = 0;
  for (int64_t c = k - 1; c >= std::max<int64_t>(0, k - 1 - span); --c) {
    // A window of one second shares nothing: C is 0 for certain.
    const double c_pmf = std::exp(LogPmf(static_cast<double>(c), shared));
    const int64_t need = k - c;      // in >= need
    const int64_t room = k - 1 - c;  // out <= room
    const double out_ok = filling || room >= span ? 1.0 : at_most[static_cast<size_t>(room)];
    const double in_ok = need - 1 >= span ? 0.0 : std::max(1.0 - at_most[static_cast<size_t>(need - 1)], 0.0);
    chance += c_pmf * out_ok * in_ok;
  }
  return chance;
}

uint32_t ThresholdFor(double rate, int seconds, double chance, bool filling) {
  const double mean = rate * seconds;
  // The up-crossing chance falls with the threshold above the mean: halve the bracket.
  uint32_t low = static_cast<uint32_t>(std::ceil(mean)) + 1;
  uint32_t high = static_cast<uint32_t>(mean + 60 * std::sqrt(mean + 1) + 60);
  while (low < high) {
    const uint32_t mid = low + (high - low) / 2;
    if (UpCrossingChance(rate, seconds, mid, filling) <= chance) high = mid;
    else low = mid + 1;
  }
  return low;
}

double RateUpperBound(uint64_t counts, double seconds, double tail) {
  if (seconds <= 0) return INFINITY;
  const double nu = 2.0 * (static_cast<double>(counts) + 1);
  const double z = UpperNormalQuantile(tail);
  const double h = 2.0 / (9.0 * nu);
  const double chi2 = nu * std::pow(1 - h + z * std::sqrt(h), 3);
  return chi2 / 2 / seconds;
}

}  // namespace norvane::alarm
