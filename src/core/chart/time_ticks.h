// Tick marks of a local-time axis: a step that suits the zoom, placed on local calendar boundaries.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "core/common/clock.h"

namespace norvane::chart {

enum class TickUnit { kSecond, kMinute, kHour, kDay, kMonth, kYear };

struct TickStep {
  TickUnit unit = TickUnit::kSecond;
  int count = 1;
  int64_t Nominal() const;  // its length in seconds, months taken as 30 days and years as 365
};

struct Tick {
  int64_t time = 0;   // UTC
  std::string label;  // may hold a second line, after '\n'
};

// The shortest step that gives at most `max_ticks` ticks over `span` seconds.
TickStep ChooseTickStep(int64_t span, int max_ticks);

// Ticks in [from, to] on the clock's local boundaries of the chosen step: a tick every three hours
// falls on 00:00, 03:00, ... of local time whatever the offset, and across a daylight-saving change
// the ticks stay on local hours, so that day shows the hour it gained or lost. Times of day carry
// the date under them on the first tick and wherever a new day begins.
// Dates name their month by `months` (January first), English abbreviations when none is given.
using MonthNames = std::array<std::string, 12>;
std::vector<Tick> TimeTicks(int64_t from, int64_t to, int max_ticks, const Clock& clock,
                            const MonthNames* months = nullptr);

// "2026-03-29 02:30:15" (with seconds only when `seconds`), in the clock's local time.
std::string LocalText(int64_t utc, const Clock& clock, bool seconds = true);

}  // namespace norvane::chart
