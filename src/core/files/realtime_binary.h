// The realtime binary file: the recording's start stamp, then its measured seconds in the history format.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/common/clock.h"
#include "core/history/realtime_series.h"

namespace norvane {

// Counts 0-254 take one byte each, as the counter stores them. Larger counts (255 would read
// back as "no data") and an 85 directly followed by a 170 (55 AA would start a record) are
// written as value records, which the history decoder reads as one sample each.
std::string BuildRealtimeBinary(const RealtimeSeries& series, const Clock& clock);

bool WriteRealtimeBinary(const std::string& path, const RealtimeSeries& series, const Clock& clock,
                         std::string* error = nullptr);

struct RealtimeRecording {
  StampTime start;
  uint8_t save_type = 0;
  std::vector<uint32_t> counts;
};

// Reads a realtime binary file back. Empty, with the reason in *error, when the bytes do not
// start with a stamp, hold records other than value records, end inside a record or hold more
// than a day.
std::optional<RealtimeRecording> ParseRealtimeBinary(std::span<const uint8_t> bytes, std::string* error);

// The largest file a day of seconds makes: every second a four-byte value record.
inline constexpr uint64_t kLargestRealtimeBinary = kStampLength + uint64_t{RealtimeSeries::kCapacity} * 7;

// Reads a realtime binary file (.rbn, or a .bin the realtime save wrote) and parses it.
std::optional<RealtimeRecording> ReadRealtimeBinary(const std::filesystem::path& path, std::string* error);

// The recording as history bytes, the same bytes the writer puts into a file: the window plays
// it back through the history decoder like a downloaded dump.
std::string RecordingImage(const RealtimeRecording& recording);

}  // namespace norvane
