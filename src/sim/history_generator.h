// Generates realistic history images, as a counter's flash would hold them.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "core/history/record_stream.h"

namespace norvane::sim {

struct HistoryOptions {
  uint32_t image_size = 0x100000;
  double filled_fraction = 0.75;  // the rest stays erased (0xFF)
  double mean_cps = 0.4;          // background counts per second
  uint32_t seed = 1;
  uint32_t days = 0;                // stop starting sessions after this many days; 0: no limit
  std::optional<StampTime> start;   // the first stamp; a random date when empty
};

// Sessions of per-second and per-minute logging, each opened by a time stamp, some with a note
// or a threshold mark, with occasional bursts that need two-byte values, then erased flash.
std::vector<uint8_t> GenerateHistory(const HistoryOptions& options);

// Logs one more value at `end` (moved past it), as the counter does while it records: a byte,
// or a wider record above 254. False, and nothing written, when the flash has no room left.
bool AppendSample(std::vector<uint8_t>& flash, uint32_t& end, uint32_t value);

}  // namespace norvane::sim
