// The image each counter gave at its last download, kept so the next one reads only what is new.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/store/store.h"

namespace norvane::store {

struct LastDownload {
  CounterId counter = 0;
  int64_t time = 0;          // UTC seconds of the download
  uint32_t image_size = 0;   // the model's flash size when it was taken
  std::vector<uint8_t> data; // the image up to its end of data; erased flash after that
};

// The last download of the counter that answers with `version` (as RegisterCounter finds it), if
// one was kept for a flash of `image_size` bytes.
std::optional<LastDownload> FindLastDownload(Store& store, std::string_view version, uint32_t image_size);

// Replaces the counter's last download by `image` up to its end of data.
void KeepLastDownload(Store& store, CounterId counter, std::span<const uint8_t> image, int64_t now);

}  // namespace norvane::store
