// The image each counter gave at its last download, kept so the next one reads only what is new.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "core/store/counter_store.h"

namespace norvane::store {

// The last download of the counter that answers with `version` (as RegisterCounter finds it), if
// one was kept for a flash of `image_size` bytes.
std::optional<LastDownload> FindLastDownload(CounterStore& store, std::string_view version, uint32_t image_size);

// Replaces the counter's last download by `image` up to its end of data.
void KeepLastDownload(CounterStore& store, CounterId counter, std::span<const uint8_t> image, int64_t now);

}  // namespace norvane::store
