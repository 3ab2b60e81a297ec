// Generates realistic history images, as a counter's flash would hold them.
#pragma once

#include <cstdint>
#include <vector>

namespace norvane::sim {

struct HistoryOptions {
  uint32_t image_size = 0x100000;
  double filled_fraction = 0.75;  // the rest stays erased (0xFF)
  double mean_cps = 0.4;          // background counts per second
  uint32_t seed = 1;
};

// Sessions of per-second and per-minute logging, each opened by a time stamp, some with a note
// or a threshold mark, with occasional bursts that need two-byte values, then erased flash.
std::vector<uint8_t> GenerateHistory(const HistoryOptions& options);

}  // namespace norvane::sim
