// The counter's 4096-byte configuration area: factory defaults per family, network fields.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace norvane::sim {

inline constexpr size_t kConfigAreaSize = 4096;

// What a counter of this family holds after a factory reset. `history_end` goes into the
// legacy save address, where the counter keeps the end of its log.
std::vector<uint8_t> DefaultConfigArea(int family, uint32_t history_end);

// Bytes "<GETCFG>>" sends: the whole legacy area (256) below family 8, the extended 512 above.
size_t ConfigReplySize(int family);

struct ConfigField {
  uint16_t address;
  uint16_t size;
};

// The seven network values in the order of their set commands: SSID, WiFi password, web site,
// URL, user ID, counter ID, period. Empty for counters without WiFi.
std::optional<std::array<ConfigField, 7>> NetworkLayout(int family);

}  // namespace norvane::sim
