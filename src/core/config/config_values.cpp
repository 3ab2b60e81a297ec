#include "core/config/config_values.h"

#include <algorithm>
#include <bit>

namespace norvane {
namespace {

uint32_t ReadBig(const ConfigBlock& block, size_t at, size_t width) {
  uint32_t v = 0;
  for (size_t i = 0; i < width; ++i) v = (v << 8) | block[at + i];
  return v;
}

void WriteBig(ConfigBlock& block, size_t at, size_t width, uint32_t v) {
  for (size_t i = 0; i < width; ++i) block[at + i] = static_cast<uint8_t>(v >> (8 * (width - 1 - i)));
}

uint32_t ReadLittle(const ConfigBlock& block, size_t at) {
  uint32_t v = 0;
  for (size_t i = 4; i-- > 0;) v = (v << 8) | block[at + i];
  return v;
}

void WriteLittle(ConfigBlock& block, size_t at, uint32_t v) {
  for (size_t i = 0; i < 4; ++i) block[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

int32_t ApplyRule(DecodeRule rule, uint32_t raw) {
  switch (rule) {
    case DecodeRule::kAbove2IsZero:
      return raw > 2 ? 0 : static_cast<int32_t>(raw);
    case DecodeRule::kAllOnesIsZero:
      return raw == 0xFFFF ? 0 : static_cast<int32_t>(raw);
    case DecodeRule::kAsStored:
      break;
  }
  return static_cast<int32_t>(raw);
}

}  // namespace

std::string_view ConfigValues::text(EditorField f) const {
  const std::span<const uint8_t> b = text_buffer(f);
  const auto end = std::find(b.begin(), b.end(), uint8_t{0});
  return {reinterpret_cast<const char*>(b.data()), static_cast<size_t>(end - b.begin())};
}

void DecodeValues(const ConfigBlock& block, int family, ConfigValues& values) {
  for (int p = 0; p < kCalibrationPoints; ++p) {
    values.integer(CalibrationCpm(p)) = 0;
    values.real(CalibrationUsv(p)) = 0;
  }
  for (auto& t : values.texts) t.fill(0);

  for (const LayoutEntry& e : DecodeLayout(family)) {
    switch (e.encoding) {
      case FieldEncoding::kByte:
      case FieldEncoding::kBig16:
      case FieldEncoding::kBig32:
        values.integer(e.field) = ApplyRule(e.rule, ReadBig(block, e.address, e.width));
        break;
      case FieldEncoding::kFloatMsbFirst:
        values.real(e.field) = std::bit_cast<float>(ReadBig(block, e.address, 4));
        break;
      case FieldEncoding::kFloatLsbFirst:
        values.real(e.field) = std::bit_cast<float>(ReadLittle(block, e.address));
        break;
      case FieldEncoding::kText: {
        const std::span<uint8_t> buffer = values.text_buffer(e.field);
        std::copy_n(block.begin() + e.address, std::min<size_t>(e.width, buffer.size()), buffer.begin());
        break;
      }
    }
  }
}

void EncodeValues(const ConfigValues& values, int family, ConfigBlock& block) {
  for (const LayoutEntry& e : EncodeLayout(family)) {
    switch (e.encoding) {
      case FieldEncoding::kByte:
      case FieldEncoding::kBig16:
      case FieldEncoding::kBig32:
        // The field keeps the low bits, with no range check, as the counter expects.
        WriteBig(block, e.address, e.width, static_cast<uint32_t>(values.integer(e.field)));
        break;
      case FieldEncoding::kFloatMsbFirst:
        WriteBig(block, e.address, 4, std::bit_cast<uint32_t>(values.real(e.field)));
        break;
      case FieldEncoding::kFloatLsbFirst:
        WriteLittle(block, e.address, std::bit_cast<uint32_t>(values.real(e.field)));
        break;
      case FieldEncoding::kText: {
        const std::span<const uint8_t> buffer = values.text_buffer(e.field);
        std::copy_n(buffer.begin(), std::min<size_t>(e.width, buffer.size()), block.begin() + e.address);
        break;
      }
    }
  }
}

}  // namespace norvane
