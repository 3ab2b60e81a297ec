// The date-time index of a history image and the chart's per-second axis labels.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "core/history/record_stream.h"

namespace norvane {

struct TimeIndexEntry {
  std::string text;  // ISO 8601: "20%02d-%02d-%02d %02d:%02d:%02d"
  size_t offset;     // where a jump to this entry scrolls to
};

struct TimeIndex {
  std::vector<TimeIndexEntry> entries;
  std::optional<StampTime> start;           // time of the first stamp, when it was set
  std::array<StampTime, 60> axis_labels{};  // label k is the start plus k seconds
};

// Indexes the first stamp that lies wholly inside the image, unless the counter's clock was
// unset when it wrote it (a field of 0xFF). Returns the new entry, if any.
const TimeIndexEntry* BuildTimeIndex(ImageView image, TimeIndex& index);

}  // namespace norvane
