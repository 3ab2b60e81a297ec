#include "core/config/c_number.h"

#include <cmath>
#include <limits>

#include "core/common/text_format.h"

namespace norvane {

int32_t ParseIntegerField(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  int64_t value = 0;
  bool saturated = false;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    const int digit = text[i] - '0';
    if (value > (kMax - digit) / 10) saturated = true;
    if (!saturated) value = value * 10 + digit;
  }
  if (saturated) value = negative ? std::numeric_limits<int64_t>::min() : kMax;
  else if (negative) value = -value;
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(value)));
}

float ParseFloatField(std::string_view text) {
  const double value = ParseLeadingDouble(text).value_or(0.0);
  if (std::isnan(value)) return std::numeric_limits<float>::quiet_NaN();
  if (std::fabs(value) > std::numeric_limits<float>::max())
    return value > 0 ? std::numeric_limits<float>::infinity() : -std::numeric_limits<float>::infinity();
  return static_cast<float>(value);
}

}  // namespace norvane
