#include "core/store/dose_scale.h"

#include <algorithm>
#include <cmath>

#include "core/common/text_format.h"
#include "core/store/poisson_interval.h"

namespace norvane::store {

std::string CalibrationProblem(const Calibration& c) {
  if (!(c.usv_per_cpm > 0) || !std::isfinite(c.usv_per_cpm)) return "the uSv/h per CPM must be a number above 0";
  if (!(c.dead_time_us >= 0) || !(c.dead_time_us <= kMaxDeadTimeUs))
    return "the dead time must be 0 to " + FormatFixed(kMaxDeadTimeUs, 0) + " us";
  return {};
}

CorrectedRate CorrectDeadTime(double measured_per_second, double dead_time_us) {
  if (dead_time_us <= 0 || measured_per_second <= 0) return {measured_per_second, false};
  const double share = measured_per_second * dead_time_us * 1e-6;
  if (share >= kMaxDeadTimeShare) return {measured_per_second / (1 - kMaxDeadTimeShare), true};
  return {measured_per_second / (1 - share), false};
}

DoseScale::DoseScale(const ConversionTable& table, std::vector<Calibration> calibrations)
    : table_(table), calibrations_(std::move(calibrations)) {
  std::sort(calibrations_.begin(), calibrations_.end(),
            [](const Calibration& a, const Calibration& b) { return a.from < b.from; });
}

const Calibration* DoseScale::At(int64_t time) const {
  const auto after = std::upper_bound(calibrations_.begin(), calibrations_.end(), time,
                                      [](int64_t t, const Calibration& c) { return t < c.from; });
  return after == calibrations_.begin() ? nullptr : &*(after - 1);
}

double DoseScale::UsvPerHour(double cpm, int64_t time) const {
  const Calibration* c = At(time);
  if (!c) return DoseRate(table_, cpm);
  const CorrectedRate rate = CorrectDeadTime(cpm / 60.0, c->dead_time_us);
  capped_ = capped_ || rate.capped;
  return rate.per_second * 60.0 * c->usv_per_cpm;
}

std::vector<int64_t> DoseScale::ChangesWithin(int64_t from, int64_t to) const {
  std::vector<int64_t> out;
  for (const Calibration& c : calibrations_)
    if (c.from > from && c.from < to) out.push_back(c.from);
  return out;
}

DoseScale ScaleOf(CounterStore& db, CounterId counter, const ConversionTable& table) {
  return DoseScale(table, db.Calibrations(counter));
}

}  // namespace norvane::store
