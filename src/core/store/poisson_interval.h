// Confidence intervals for a Poisson count, and dose rates of fractional count rates.
#pragma once

#include <cstdint>

#include "core/common/dose_conversion.h"

namespace norvane::store {

struct Interval {
  double low = 0;
  double high = 0;
};

// The 95 % interval for the true mean of a Poisson count `n`.
Interval PoissonInterval95(uint64_t n);

// µSv/h for a count rate that need not be whole: the table is linear between whole rates, so
// the value between two of them is interpolated.
double DoseRate(const ConversionTable& table, double cpm);

}  // namespace norvane::store
