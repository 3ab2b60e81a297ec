// One counter-minute of measured seconds as the store keeps it: a gap mask and packed counts.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace norvane::store {

// Seconds of a minute that were measured, and their counts. Unmeasured seconds hold 0 in
// `counts` but are never part of a sum: `measured` says which are real.
struct MinuteBlock {
  uint64_t measured = 0;  // bit s: second s of the minute was measured
  std::array<uint32_t, 60> counts{};

  bool Has(int second) const { return (measured >> second) & 1; }
  int MeasuredCount() const;
  uint64_t Sum() const;
  uint32_t Max() const;
  uint32_t Min() const;  // 0 when nothing is measured
};

inline constexpr uint64_t kFullMinute = (uint64_t{1} << 60) - 1;

// The stored form. The mask column holds the *unmeasured* seconds, so the common full minute
// stores 0, which SQLite keeps in no bytes at all. The blob holds the measured seconds' counts
// in order at a width chosen by the minute's largest count (4 bits up to 15, then 1, 2 or 4
// bytes), so the width needs no byte of its own: the row's max column gives it.
uint64_t GapMaskOf(const MinuteBlock& block);
std::vector<uint8_t> PackCounts(const MinuteBlock& block, uint32_t max);

// Rebuilds a block from its stored columns. False when the blob's length does not fit the
// mask and the width (a damaged row).
bool UnpackMinute(uint64_t gap_mask, uint32_t max, std::span<const uint8_t> blob, MinuteBlock& block);

}  // namespace norvane::store
