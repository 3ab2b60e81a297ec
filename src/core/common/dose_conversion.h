// The five-point table that turns counts per minute into a dose rate in µSv/h.
#pragma once

#include <array>
#include <cstdint>

namespace norvane {

struct CalibrationPoint {
  uint32_t cpm;
  double usv;  // µSv/h at that count rate
};

using ConversionTable = std::array<CalibrationPoint, 5>;

inline constexpr ConversionTable kDefaultConversionTable = {{
    {60, 0.39}, {240, 1.56}, {1000, 6.5}, {2000, 13.0}, {4000, 26.0}}};

// µSv/h for a count rate. Within a segment the result is the count rate times the segment's
// slope (the counter does it this way, so readings match its display); above the last point a
// fixed 50 µSv/h per 2500 CPM applies.
float DoseRateFromCpm(const ConversionTable& table, uint32_t cpm);

}  // namespace norvane
