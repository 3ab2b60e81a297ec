#include "core/chart/time_ticks.h"

#include <array>
#include <cstdio>

#include "core/files/local_time.h"

namespace norvane::chart {
namespace {

constexpr std::array<const char*, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

constexpr TickStep kSteps[] = {
    {TickUnit::kSecond, 1}, {TickUnit::kSecond, 2},  {TickUnit::kSecond, 5},  {TickUnit::kSecond, 10},
    {TickUnit::kSecond, 15}, {TickUnit::kSecond, 30}, {TickUnit::kMinute, 1},  {TickUnit::kMinute, 2},
    {TickUnit::kMinute, 5}, {TickUnit::kMinute, 10}, {TickUnit::kMinute, 15}, {TickUnit::kMinute, 30},
    {TickUnit::kHour, 1},   {TickUnit::kHour, 2},    {TickUnit::kHour, 3},    {TickUnit::kHour, 6},
    {TickUnit::kHour, 12},  {TickUnit::kDay, 1},     {TickUnit::kDay, 2},     {TickUnit::kDay, 7},
    {TickUnit::kDay, 14},   {TickUnit::kMonth, 1},   {TickUnit::kMonth, 2},   {TickUnit::kMonth, 3},
    {TickUnit::kMonth, 6},  {TickUnit::kYear, 1},    {TickUnit::kYear, 2},    {TickUnit::kYear, 5},
    {TickUnit::kYear, 10},  {TickUnit::kYear, 50},   {TickUnit::kYear, 100},
};

int DaysIn(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

// The step's boundary at or before `t`, in local fields.
LocalTime Truncate(LocalTime t, const TickStep& step) {
  switch (step.unit) {
    case TickUnit::kSecond: t.second -= t.second % step.count; break;
    case TickUnit::kMinute: t.second = 0; t.minute -= t.minute % step.count; break;
    case TickUnit::kHour: t.second = t.minute = 0; t.hour -= t.hour % step.count; break;
    case TickUnit::kDay: t.second = t.minute = t.hour = 0; t.day -= (t.day - 1) % step.count; break;
    case TickUnit::kMonth: t = {t.year, t.month - (t.month - 1) % step.count, 1, 0, 0, 0}; break;
    case TickUnit::kYear: t = {t.year - t.year % step.count, 1, 1, 0, 0, 0}; break;
  }
  return t;
}

// The next boundary after `t`. Days restart at the 1st of each month, so weekly ticks sit on the
// 1st, 8th, 15th... and never crowd a month's end.
LocalTime Advance(LocalTime t, const TickStep& step) {
  switch (step.unit) {
    case TickUnit::kSecond: t.second += step.count; break;
    case TickUnit::kMinute: t.minute += step.count; break;
    case TickUnit::kHour: t.hour += step.count; break;
    case TickUnit::kDay:
      t.day += step.count;
      if (t.day + (step.count > 1 ? 2 : 0) > DaysIn(t.year, t.month)) {
        t.day = 1;
        if (++t.month > 12) t = {t.year + 1, 1, 1, 0, 0, 0};
      }
      return t;
    case TickUnit::kMonth:
      t.month += step.count;
      while (t.month > 12) t.month -= 12, ++t.year;
      return t;
    case TickUnit::kYear: t.year += step.count; return t;
  }
  // Carries of the time of day, then of the days.
  t.minute += t.second / 60, t.second %= 60;
  t.hour += t.minute / 60, t.minute %= 60;
  t.day += t.hour / 24, t.hour %= 24;
  while (t.day > DaysIn(t.year, t.month)) {
    t.day -= DaysIn(t.year, t.month);
    if (++t.month > 12) t.month = 1, ++t.year;
  }
  return t;
}

std::string Label(const LocalTime& t, TickUnit unit, bool with_date, const MonthNames* months) {
  const char* month = months ? (*months)[static_cast<size_t>(t.month - 1)].c_str() : kMonths[t.month - 1];
  char text[96];
  switch (unit) {
    case TickUnit::kSecond:
      std::snprintf(text, sizeof text, "%02d:%02d:%02d", t.hour, t.minute, t.second);
      break;
    case TickUnit::kMinute:
    case TickUnit::kHour: std::snprintf(text, sizeof text, "%02d:%02d", t.hour, t.minute); break;
    case TickUnit::kDay: std::snprintf(text, sizeof text, "%d %s", t.day, month); break;
    case TickUnit::kMonth: std::snprintf(text, sizeof text, "%s %d", month, t.year); break;
    case TickUnit::kYear: std::snprintf(text, sizeof text, "%d", t.year); break;
  }
  std::string label = text;
  if (with_date) {
    std::snprintf(text, sizeof text, "\n%d %s %d", t.day, month, t.year);
    label += text;
  }
  return label;
}

}  // namespace

int64_t TickStep::Nominal() const {
  static constexpr int64_t kUnitSeconds[] = {1, 60, 3600, 86400, 30 * 86400, 365 * 86400};
  return kUnitSeconds[static_cast<int>(unit)] * count;
}

TickStep ChooseTickStep(int64_t span, int max_ticks) {
  const int64_t ticks = std::max(1, max_ticks);
  for (const TickStep& step : kSteps)
    if (span / step.Nominal() < ticks) return step;
  return kSteps[std::size(kSteps) - 1];
}

std::vector<Tick> TimeTicks(int64_t from, int64_t to, int max_ticks, const Clock& clock, const MonthNames* months) {
  std::vector<Tick> ticks;
  if (to < from) return ticks;
  const TickStep step = ChooseTickStep(to - from, max_ticks);
  const bool times_of_day = step.unit <= TickUnit::kHour;
  LocalTime local = Truncate(clock.ToLocal(static_cast<std::time_t>(from)), step);
  int previous_day = -1;
  // The bound guards against a clock whose local time never moves past `to`.
  for (int guard = 0; guard < 4 * max_ticks + 8; ++guard, local = Advance(local, step)) {
    const int64_t t = TimeFromLocal(clock, local);
    if (t > to) break;
    if (t < from || (!ticks.empty() && t <= ticks.back().time)) continue;
    // A skipped local time (spring forward) lands on the next real one; it is shown as it is.
    const LocalTime shown = clock.ToLocal(static_cast<std::time_t>(t));
    const int day = shown.year * 400 + shown.month * 32 + shown.day;
    ticks.push_back({t, Label(shown, step.unit, times_of_day && day != previous_day, months)});
    previous_day = day;
  }
  return ticks;
}

std::string LocalText(int64_t utc, const Clock& clock, bool seconds) {
  const LocalTime t = clock.ToLocal(static_cast<std::time_t>(utc));
  char text[40];
  if (seconds)
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute, t.second);
  else std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d", t.year, t.month, t.day, t.hour, t.minute);
  return text;
}

}  // namespace norvane::chart
