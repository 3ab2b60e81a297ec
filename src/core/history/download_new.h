// "Download New": where a download that continues an earlier one starts, and what it checks.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace norvane {

inline constexpr std::string_view kHistoryDiffersText =
    "The counter's history differs from the last download: downloading all of it.";
inline constexpr std::string_view kNoNewDataText = "No new data.";

// One past the last byte that is not erased flash (0xFF); 0 for an erased image.
uint32_t ImageDataEnd(std::span<const uint8_t> image);

// The start of the 1024-byte request that holds the last byte of an earlier download whose data
// ended at `data_end` (> 0): reading that block again shows whether the counter still holds the
// same history, and everything after it is new.
uint32_t ResumeAddress(uint32_t data_end);

}  // namespace norvane
