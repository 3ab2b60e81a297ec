// The counter's configuration area as the program holds it: 4096 bytes, index = address.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace norvane {

inline constexpr size_t kConfigBlockSize = 4096;
// What a configuration file holds, and what the extended layout spans.
inline constexpr size_t kConfigFileSize = 512;
// Names the counter itself gives the addresses of the legacy layout.
inline constexpr size_t kLegacyAddressCount = 128;
inline constexpr uint8_t kErased = 0xFF;

// One application-wide instance, owned by the application context. Before every read it is
// erased to 0xFF; a read fills it from address 0.
using ConfigBlock = std::array<uint8_t, kConfigBlockSize>;

// Families 8 and above keep the 512-byte extended layout, the others the 128-byte legacy one.
inline bool UsesExtendedLayout(int family) { return family >= 8; }

// Bytes a read waits for: 512 for the extended layout, 255 for the legacy one.
inline size_t ExpectedReadBytes(int family) { return UsesExtendedLayout(family) ? 512 : 255; }

// The highest address whose byte is not 0xFF; empty when the whole block is erased.
std::optional<size_t> LastNonBlankAddress(const ConfigBlock& block);

// The counter's own name of legacy address `address` (0-127), empty beyond.
std::string_view LegacyAddressName(size_t address);

}  // namespace norvane
