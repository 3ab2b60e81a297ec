// The 2 MiB history image the benchmarks decode and export, generated once per program.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/history_generator.h"

namespace norvane {

inline const std::vector<uint8_t>& RealisticImage() {
  static const std::vector<uint8_t> image = [] {
    sim::HistoryOptions options;
    options.image_size = 0x200000;
    options.filled_fraction = 0.9;
    options.seed = 11;
    return sim::GenerateHistory(options);
  }();
  return image;
}

}  // namespace norvane
