// Times as users type and read them: local ISO 8601 with an optional offset, against UTC storage.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/common/clock.h"

namespace norvane::store {

// "2026-03-29", "2026-03-29T02:30", "2026-03-29 02:30:15", each optionally followed by "Z" or an
// offset such as "+02:00" or "+0200". Without an offset the time is the clock's local time. Empty,
// with the reason in *error, when the text is no such time.
std::optional<int64_t> ParseTime(std::string_view text, const Clock& clock, std::string* error);

// Seconds the clock's local time is ahead of UTC at `utc`.
int64_t UtcOffset(int64_t utc, const Clock& clock);

// "2026-03-29T03:00:00+02:00" in the clock's local time.
std::string FormatTime(int64_t utc, const Clock& clock);

}  // namespace norvane::store
