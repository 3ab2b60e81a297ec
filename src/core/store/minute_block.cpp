#include "core/store/minute_block.h"

#include <algorithm>
#include <bit>

namespace norvane::store {
namespace {

// Bits per count for a minute whose largest count is `max`.
int WidthBits(uint32_t max) {
  if (max <= 0xF) return 4;
  if (max <= 0xFF) return 8;
  if (max <= 0xFFFF) return 16;
  return 32;
}

size_t PackedSize(int measured, int bits) { return (static_cast<size_t>(measured) * bits + 7) / 8; }

}  // namespace

int MinuteBlock::MeasuredCount() const { return std::popcount(measured); }

uint64_t MinuteBlock::Sum() const {
  uint64_t sum = 0;
  for (int s = 0; s < 60; ++s)
    if (Has(s)) sum += counts[s];
  return sum;
}

uint32_t MinuteBlock::Max() const {
  uint32_t max = 0;
  for (int s = 0; s < 60; ++s)
    if (Has(s)) max = std::max(max, counts[s]);
  return max;
}

uint32_t MinuteBlock::Min() const {
  bool any = false;
  uint32_t min = 0;
  for (int s = 0; s < 60; ++s)
    if (Has(s)) {
      min = any ? std::min(min, counts[s]) : counts[s];
      any = true;
    }
  return min;
}

uint64_t GapMaskOf(const MinuteBlock& block) { return ~block.measured & kFullMinute; }

std::vector<uint8_t> PackCounts(const MinuteBlock& block, uint32_t max) {
  const int bits = WidthBits(max);
  std::vector<uint8_t> out(PackedSize(block.MeasuredCount(), bits), 0);
  size_t i = 0;
  for (int s = 0; s < 60; ++s) {
    if (!block.Has(s)) continue;
    const uint32_t v = block.counts[s];
    if (bits == 4) {
      out[i / 2] |= static_cast<uint8_t>(i % 2 ? v << 4 : v);
    } else {
      for (int b = 0; b < bits / 8; ++b) out[i * (bits / 8) + b] = static_cast<uint8_t>(v >> (8 * b));
    }
    ++i;
  }
  return out;
}

bool UnpackMinute(uint64_t gap_mask, uint32_t max, std::span<const uint8_t> blob, MinuteBlock& block) {
  block.measured = ~gap_mask & kFullMinute;
  block.counts.fill(0);
  const int bits = WidthBits(max);
  if (gap_mask & ~kFullMinute || blob.size() != PackedSize(block.MeasuredCount(), bits)) return false;
  size_t i = 0;
  for (int s = 0; s < 60; ++s) {
    if (!block.Has(s)) continue;
    uint32_t v = 0;
    if (bits == 4) {
      v = (blob[i / 2] >> (i % 2 ? 4 : 0)) & 0xF;
    } else {
      for (int b = 0; b < bits / 8; ++b) v |= uint32_t{blob[i * (bits / 8) + b]} << (8 * b);
    }
    block.counts[s] = v;
    ++i;
  }
  return true;
}

}  // namespace norvane::store
