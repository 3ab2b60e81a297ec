// Which clock commands a counter takes, the frames that set it, and when the poll syncs it.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

#include "core/common/clock.h"

namespace norvane {

enum class ClockVariant {
  kSingleFrame,  // "<SETDATETIME" with six bytes
  kPerField,     // six one-field frames, then "<KEY0>>"
  kNone,         // firmware too old to be set
};

// Family 4 and above, or version 2.39 and above, take one frame; older family 0-3 firmware
// from 2.23 sets field by field; anything older cannot be set.
ClockVariant ClockVariantFor(int family, int version);

// "Get Time From Unit" is greyed out for radon monitors.
bool GetClockOffered(std::string_view model_text);
// The first check of a clock read: firmware above 2.23, or a model that has always had a clock.
bool GetClockAllowed(int version, std::string_view model_text);
// The check before each request: the reply format exists only where the single frame does.
bool GetClockRequestAllowed(int family, int version);

// The six values the counter's clock takes, as bytes: year - 2000, month, day, hour, minute,
// second.
std::array<uint8_t, 6> ClockBytes(const LocalTime& t);

// "<SETDATETIME" + six bytes + ">>".
std::vector<uint8_t> SingleClockFrame(const LocalTime& t);
// The six one-field frames in the order the counter expects: year, month, day, hour, minute,
// second. "<KEY0>>" closes them and is not among them.
std::array<std::vector<uint8_t>, 6> PerFieldClockFrames(const LocalTime& t);

// "20%02d-%02d-%02d %02d:%02d:%02d" of the bytes the counter keeps.
std::string ClockText(const std::array<uint8_t, 6>& bytes);

// Seconds the counter's clock (its six bytes) is ahead of the computer's local time `computer`;
// negative when it is behind.
int64_t ClockOffset(const std::array<uint8_t, 6>& bytes, const LocalTime& computer);

// One hour between automatic syncs per unit of AutoTimeSyncPeriod, 30 s while a failed sync
// waits for its retry.
inline constexpr uint32_t kSyncUnitSeconds = 3600;
inline constexpr uint32_t kSyncRetryUnitSeconds = 30;

// Whether the realtime poll runs the periodic clock sync at `elapsed_seconds` (the poll has
// already counted the current second). Period 0 switches it off; second 0 is never a sync.
bool PeriodicClockSyncDue(int family, int version, uint32_t auto_sync_period, bool retry_pending,
                          uint64_t elapsed_seconds);

}  // namespace norvane
