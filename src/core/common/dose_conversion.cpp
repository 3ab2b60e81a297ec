#include "core/common/dose_conversion.h"

namespace norvane {

float DoseRateFromCpm(const ConversionTable& table, uint32_t cpm) {
  if (cpm == 0) return 0.0f;
  int64_t previous_cpm = 0;
  double previous_usv = 0.0;
  for (const CalibrationPoint& point : table) {
    if (cpm <= point.cpm) {
      if (cpm == point.cpm) return static_cast<float>(point.usv);
      // The table is never re-sorted, so a segment may run backwards; it cannot be empty here
      // because an equal previous point would have matched already.
      double slope = (point.usv - previous_usv) / static_cast<double>(int64_t{point.cpm} - previous_cpm);
      return static_cast<float>(cpm * slope);
    }
    previous_cpm = point.cpm;
    previous_usv = point.usv;
  }
  return static_cast<float>(cpm * 50.0 / 2500.0);
}

}  // namespace norvane
