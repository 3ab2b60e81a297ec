// Generates realistic history images, as a counter's flash would hold them.
#pragma once

#include <cstdint>
#include <vector>

namespace norvane::sim {

struct HistoryOptions {
  uint32_t image_size = 0x100000;
  double filled_fraction = 0.75;  // the rest stays erased (0xFF)
  uint32_t seed = 1;
};

std::vector<uint8_t> GenerateHistory(const HistoryOptions& options);

}  // namespace norvane::sim
