// The editor's working values, and the one decoder and one encoder that move them to and from
// the block through the family's layout table.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "core/config/config_block.h"
#include "core/config/config_layout.h"

namespace norvane {

// Buffers as large as the editor's: 65 bytes for the WiFi name and password, 33 for the rest.
inline constexpr size_t kLongTextBuffer = 65;
inline constexpr size_t kShortTextBuffer = 33;
inline constexpr size_t TextBufferSize(EditorField f) {
  return f == EditorField::kSsid || f == EditorField::kPassword ? kLongTextBuffer : kShortTextBuffer;
}

struct ConfigValues {
  std::array<int32_t, kIntegerFieldCount> integers{};
  std::array<float, kFloatFieldCount> floats{};
  // Every buffer has room for the longest; TextBufferSize says how much of it is the editor's.
  std::array<std::array<uint8_t, kLongTextBuffer>, kTextFieldCount> texts{};

  int32_t& integer(EditorField f) { return integers[Index(f)]; }
  int32_t integer(EditorField f) const { return integers[Index(f)]; }
  float& real(EditorField f) { return floats[Index(f) - kFirstFloatField]; }
  float real(EditorField f) const { return floats[Index(f) - kFirstFloatField]; }
  std::span<uint8_t> text_buffer(EditorField f) { return std::span(texts[Index(f) - kFirstTextField]).first(TextBufferSize(f)); }
  std::span<const uint8_t> text_buffer(EditorField f) const {
    return std::span(texts[Index(f) - kFirstTextField]).first(TextBufferSize(f));
  }
  // The text as shown: up to its first NUL.
  std::string_view text(EditorField f) const;
};

// Clears the calibration points and the texts, then reads every field of the family's layout.
// Values the family does not store keep what they held.
void DecodeValues(const ConfigBlock& block, int family, ConfigValues& values);

// Writes every field of the family's layout; bytes outside it keep what the block held.
void EncodeValues(const ConfigValues& values, int family, ConfigBlock& block);

}  // namespace norvane
