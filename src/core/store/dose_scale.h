// Dose rates of stored counts over time: each counter's calibrations from their times on, the
// conversion table of the settings where none holds yet.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/common/dose_conversion.h"
#include "core/store/counter_store.h"
#include "core/store/store_types.h"

namespace norvane::store {

// The non-paralysable model says a tube that counts m a second truly saw m / (1 - m·τ). Near
// m·τ = 1 that runs off to infinity, which no tube does: past this share of dead time the
// correction is held at its value here (a tenfold rate) and the result says so.
inline constexpr double kMaxDeadTimeShare = 0.9;
// Dead times a tube can have: a GM tube's is tens to hundreds of µs.
inline constexpr double kMaxDeadTimeUs = 100'000;

// What is wrong with a calibration a user asks for, in words; empty when it can be stored.
std::string CalibrationProblem(const Calibration& calibration);

struct CorrectedRate {
  double per_second = 0;
  bool capped = false;  // m·τ reached kMaxDeadTimeShare
};
// The true rate behind `measured_per_second` counts of a tube with `dead_time_us`.
CorrectedRate CorrectDeadTime(double measured_per_second, double dead_time_us);

class DoseScale {
 public:
  // A table alone converts every time alike, as before any calibration was stored.
  DoseScale(const ConversionTable& table) : table_(table) {}
  DoseScale(const ConversionTable& table, std::vector<Calibration> calibrations);

  // µSv/h of a count rate measured at `time` (UTC).
  double UsvPerHour(double cpm, int64_t time) const;
  // The calibration in force at `time`; null where the table applies.
  const Calibration* At(int64_t time) const;
  // Where another calibration takes over inside (from, to), in order.
  std::vector<int64_t> ChangesWithin(int64_t from, int64_t to) const;
  // Whether any rate converted so far needed its dead-time correction held back.
  bool capped() const { return capped_; }

 private:
  ConversionTable table_;
  std::vector<Calibration> calibrations_;  // by time
  mutable bool capped_ = false;
};

// The scale of one counter: its stored calibrations, `table` before the first.
DoseScale ScaleOf(CounterStore& db, CounterId counter, const ConversionTable& table);

}  // namespace norvane::store
