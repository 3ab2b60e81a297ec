// Between a recording's local date and time, its stamp fields and calendar time.
#pragma once

#include <ctime>

#include "core/common/clock.h"
#include "core/history/record_stream.h"

namespace norvane {

// Two-digit year as stamps hold it.
StampTime StampFromLocal(const LocalTime& local);
LocalTime LocalFromStamp(const StampTime& stamp);

// The calendar time that `clock` shows as `local` (its own time zone, daylight saving included).
// A local time that a clock change skips gives a time within that change.
std::time_t TimeFromLocal(const Clock& clock, const LocalTime& local);

}  // namespace norvane
