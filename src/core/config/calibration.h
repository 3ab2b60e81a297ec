// Taking the counter's calibration into the program's own count-rate-to-dose-rate table.
#pragma once

#include <string_view>

#include "core/config/config_values.h"
#include "core/common/dose_conversion.h"

namespace norvane {

inline constexpr std::string_view kCalibrationUpdatedLine = "Main calibration 1,2,3 have been updated.";

// Points 1-3 of the table become the counter's points 1-3 (uSv/h widened to double); points 4
// and 5 stay, nothing is re-sorted, and implausible values go in as they are.
void UpdateConversionTable(const ConfigValues& values, ConversionTable& table);

}  // namespace norvane
