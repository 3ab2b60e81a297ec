// Test helper: history images written as hex text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/history/record_stream.h"

namespace norvane::testing {

// "55 AA 00 18 ..." -> bytes; blanks between bytes are optional.
inline std::vector<uint8_t> Hex(std::string_view text) {
  std::vector<uint8_t> out;
  int high = -1;
  for (char c : text) {
    int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    if (digit < 0) continue;
    if (high < 0) {
      high = digit;
    } else {
      out.push_back(static_cast<uint8_t>(high * 16 + digit));
      high = -1;
    }
  }
  return out;
}

inline std::vector<uint8_t> operator+(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

inline std::vector<uint8_t> Repeat(uint8_t byte, size_t count) { return std::vector<uint8_t>(count, byte); }

inline std::vector<uint8_t> Stamp(int year, int month, int day, int hour, int minute, int second, int save_type) {
  return {0x55, 0xAA, 0x00, static_cast<uint8_t>(year), static_cast<uint8_t>(month), static_cast<uint8_t>(day),
          static_cast<uint8_t>(hour), static_cast<uint8_t>(minute), static_cast<uint8_t>(second), 0x55, 0xAA,
          static_cast<uint8_t>(save_type)};
}

inline ImageView View(const std::vector<uint8_t>& bytes) { return {bytes.data(), bytes.size()}; }

}  // namespace norvane::testing
