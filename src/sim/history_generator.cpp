#include "sim/history_generator.h"

namespace norvane::sim {

std::vector<uint8_t> GenerateHistory(const HistoryOptions& options) {
  return std::vector<uint8_t>(options.image_size, 0xFF);
}

}  // namespace norvane::sim
