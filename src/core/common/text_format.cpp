#include "core/common/text_format.h"

#include <charconv>

namespace norvane {

std::string FormatFixed(double value, int decimals) {
  char buffer[400];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
  if (result.ec != std::errc{}) return "0";
  return std::string(buffer, result.ptr);
}

std::optional<double> ParseLeadingDouble(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r' ||
                             text[i] == '\v' || text[i] == '\f'))
    ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  double value = 0;
  auto result = std::from_chars(text.data() + i, text.data() + text.size(), value, std::chars_format::general);
  if (result.ec != std::errc{}) return std::nullopt;  // no digits, or beyond double's range
  return negative ? -value : value;
}

}  // namespace norvane
