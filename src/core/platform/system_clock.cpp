#include <ctime>

#include "core/common/clock.h"

namespace norvane {
namespace {

LocalTime FromTm(const std::tm& tm) {
  return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

}  // namespace

std::time_t SystemClock::Now() const { return std::time(nullptr); }

LocalTime SystemClock::ToLocal(std::time_t t) const {
  std::tm tm{};
  localtime_r(&t, &tm);
  return FromTm(tm);
}

FixedClock::FixedClock(const LocalTime& at) {
  std::tm tm{};
  tm.tm_year = at.year - 1900;
  tm.tm_mon = at.month - 1;
  tm.tm_mday = at.day;
  tm.tm_hour = at.hour;
  tm.tm_min = at.minute;
  tm.tm_sec = at.second;
  now_ = timegm(&tm);
}

LocalTime FixedClock::ToLocal(std::time_t t) const {
  std::tm tm{};
  gmtime_r(&t, &tm);
  return FromTm(tm);
}

}  // namespace norvane
