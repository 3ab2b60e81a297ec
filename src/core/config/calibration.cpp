#include "core/config/calibration.h"

namespace norvane {

void UpdateConversionTable(const ConfigValues& values, ConversionTable& table) {
  for (int p = 0; p < 3; ++p) {
    CalibrationPoint& point = table[static_cast<size_t>(p)];
    point.cpm = static_cast<uint32_t>(values.integer(CalibrationCpm(p)));
    point.usv = static_cast<double>(values.real(CalibrationUsv(p)));
  }
}

}  // namespace norvane
