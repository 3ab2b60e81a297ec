#include "core/history/download_new.h"

#include <algorithm>

#include "core/history/download.h"

namespace norvane {

uint32_t ImageDataEnd(std::span<const uint8_t> image) {
  const auto last = std::find_if(image.rbegin(), image.rend(), [](uint8_t b) { return b != 0xFF; });
  return static_cast<uint32_t>(image.rend() - last);
}

uint32_t ResumeAddress(uint32_t data_end) {
  return data_end == 0 ? 0 : (data_end - 1) / kDownloadRequestSize * kDownloadRequestSize;
}

}  // namespace norvane
