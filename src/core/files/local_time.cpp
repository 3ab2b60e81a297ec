#include "core/files/local_time.h"

#include <cstdint>

namespace norvane {
namespace {

// Days since 1970-01-01 of a proleptic Gregorian date.
int64_t DaysFromCivil(int64_t year, int64_t month, int64_t day) {
  year -= month <= 2;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t year_of_era = year - era * 400;
  const int64_t day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + day_of_era - 719468;
}

// Seconds of a local time counted as if it were UTC: differences of these are offsets.
int64_t Seconds(const LocalTime& t) {
  return DaysFromCivil(t.year, t.month, t.day) * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
}

}  // namespace

StampTime StampFromLocal(const LocalTime& local) {
  const int year = ((local.year - 2000) % 100 + 100) % 100;
  return {static_cast<uint8_t>(year),        static_cast<uint8_t>(local.month),
          static_cast<uint8_t>(local.day),   static_cast<uint8_t>(local.hour),
          static_cast<uint8_t>(local.minute), static_cast<uint8_t>(local.second)};
}

LocalTime LocalFromStamp(const StampTime& stamp) {
  return {2000 + stamp.year, stamp.month, stamp.day, stamp.hour, stamp.minute, stamp.second};
}

std::time_t TimeFromLocal(const Clock& clock, const LocalTime& local) {
  // Start as if the zone were UTC and move by the offset the clock shows there; a second step
  // settles the case where the guess and the answer lie on different sides of a clock change.
  const int64_t wanted = Seconds(local);
  int64_t guess = wanted;
  for (int step = 0; step < 3; ++step) {
    const int64_t shown = Seconds(clock.ToLocal(static_cast<std::time_t>(guess)));
    if (shown == wanted) break;
    guess += wanted - shown;
  }
  return static_cast<std::time_t>(guess);
}

}  // namespace norvane
