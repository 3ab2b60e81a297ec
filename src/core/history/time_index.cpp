#include "core/history/time_index.h"

#include <algorithm>
#include <cstring>

#include "core/common/text_format.h"

namespace norvane {

const TimeIndexEntry* BuildTimeIndex(ImageView image, TimeIndex& index) {
  if (image.size() < kStampLength) return nullptr;
  const uint8_t* data = image.data();
  const size_t last_start = image.size() - kStampLength;
  size_t p = 0;
  for (;;) {
    const void* hit = std::memchr(data + p, kMarker0, last_start + 1 - p);
    if (!hit) return nullptr;
    p = static_cast<size_t>(static_cast<const uint8_t*>(hit) - data);
    if (IsMarker(image, static_cast<int64_t>(p), kCodeStamp)) break;
    if (++p > last_start) return nullptr;
  }
  const int64_t at = static_cast<int64_t>(p);
  for (int field = 3; field <= 8; ++field)
    if (image[at + field] == 0xFF) return nullptr;

  const StampTime start{image[at + 3], image[at + 4], image[at + 5], image[at + 6], image[at + 7], image[at + 8]};
  std::string text = Format("20%02d-%02d-%02d %02d:%02d:%02d", start.year, start.month, start.day, start.hour,
                            start.minute, start.second);
  auto existing = std::find_if(index.entries.begin(), index.entries.end(),
                               [&](const TimeIndexEntry& e) { return e.text == text; });
  if (existing == index.entries.end()) {
    index.entries.push_back({std::move(text), p >= 9 ? p - 9 : 0});
    existing = index.entries.end() - 1;
  }
  index.start = start;
  StampTime label = start;
  for (StampTime& slot : index.axis_labels) {
    slot = label;
    AdvanceStamp(label, StampUnit::kSecond);
  }
  return &*existing;
}

}  // namespace norvane
