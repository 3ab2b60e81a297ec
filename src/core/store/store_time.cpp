#include "core/store/store_time.h"

#include <charconv>
#include <chrono>

#include "core/common/text_format.h"
#include "core/files/local_time.h"

namespace norvane::store {
namespace {

// Seconds of a calendar time counted as if it were UTC; zero-offset arithmetic on these gives
// offsets. Empty for a date that does not exist.
std::optional<int64_t> CivilSeconds(const LocalTime& t) {
  using namespace std::chrono;
  const year_month_day date{year{t.year}, month{static_cast<unsigned>(t.month)}, day{static_cast<unsigned>(t.day)}};
  if (!date.ok() || t.hour < 0 || t.hour > 23 || t.minute < 0 || t.minute > 59 || t.second < 0 || t.second > 59)
    return std::nullopt;
  return int64_t{sys_days(date).time_since_epoch().count()} * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
}

bool Digits(std::string_view text, size_t at, size_t count, int& value) {
  if (at + count > text.size()) return false;
  const char* first = text.data() + at;
  for (size_t i = 0; i < count; ++i)
    if (first[i] < '0' || first[i] > '9') return false;
  std::from_chars(first, first + count, value);
  return true;
}

}  // namespace

std::optional<int64_t> ParseTime(std::string_view text, const Clock& clock, std::string* error) {
  const auto fail = [&](std::string why) -> std::optional<int64_t> {
    if (error) *error = "'" + std::string(text) + "' is not a time (" + why + "; e.g. 2026-03-29T14:30 or 2026-03-29T14:30:00+02:00)";
    return std::nullopt;
  };
  LocalTime t;
  t.hour = t.minute = t.second = 0;
  if (!Digits(text, 0, 4, t.year) || text.size() < 10 || text[4] != '-' || !Digits(text, 5, 2, t.month) ||
      text[7] != '-' || !Digits(text, 8, 2, t.day))
    return fail("the date must read YYYY-MM-DD");
  size_t p = 10;
  if (p < text.size() && (text[p] == 'T' || text[p] == ' ')) {
    if (!Digits(text, p + 1, 2, t.hour) || p + 3 >= text.size() || text[p + 3] != ':' || !Digits(text, p + 4, 2, t.minute))
      return fail("the time of day must read HH:MM or HH:MM:SS");
    p += 6;
    if (p < text.size() && text[p] == ':') {
      if (!Digits(text, p + 1, 2, t.second)) return fail("the seconds must have two digits");
      p += 3;
    }
  }
  const auto civil = CivilSeconds(t);
  if (!civil) return fail("no such date or time of day");
  if (p == text.size()) return static_cast<int64_t>(TimeFromLocal(clock, t));
  if (text[p] == 'Z' && p + 1 == text.size()) return *civil;
  if (text[p] != '+' && text[p] != '-') return fail("unexpected text after the time");
  int hours = 0, minutes = 0;
  if (!Digits(text, p + 1, 2, hours)) return fail("the offset must read +HH:MM");
  size_t q = p + 3;
  if (q < text.size() && text[q] == ':') ++q;
  if (q < text.size() && !Digits(text, q, 2, minutes)) return fail("the offset must read +HH:MM");
  if (q < text.size()) q += 2;
  if (q != text.size() || hours > 23 || minutes > 59) return fail("the offset must read +HH:MM");
  const int64_t offset = (hours * 3600 + minutes * 60) * (text[p] == '-' ? -1 : 1);
  return *civil - offset;
}

int64_t UtcOffset(int64_t utc, const Clock& clock) {
  return CivilSeconds(clock.ToLocal(static_cast<std::time_t>(utc))).value_or(utc) - utc;
}

std::string FormatTime(int64_t utc, const Clock& clock) {
  const LocalTime local = clock.ToLocal(static_cast<std::time_t>(utc));
  const int64_t offset = UtcOffset(utc, clock);
  const int64_t magnitude = offset < 0 ? -offset : offset;
  return Format("%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", local.year, local.month, local.day, local.hour, local.minute,
                local.second, offset < 0 ? '-' : '+', static_cast<int>(magnitude / 3600),
                static_cast<int>(magnitude / 60 % 60));
}

}  // namespace norvane::store
