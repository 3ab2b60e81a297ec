// printf-style formatting into std::string, and locale-independent decimal numbers.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

namespace norvane {

// Integer and text conversions only: "%f" would follow the process locale (a window toolkit may
// switch it to one with a decimal comma), so decimals go through FormatFixed instead.
template <typename... Args>
std::string Format(const char* format, Args... args) {
  char small[128];
  int n = std::snprintf(small, sizeof small, format, args...);
  if (n < 0) return {};
  if (static_cast<size_t>(n) < sizeof small) return std::string(small, static_cast<size_t>(n));
  std::string out(static_cast<size_t>(n) + 1, '\0');
  std::snprintf(out.data(), out.size(), format, args...);
  out.resize(static_cast<size_t>(n));
  return out;
}

// Same digits as "%.<decimals>f" in the C locale, whatever the process locale is.
std::string FormatFixed(double value, int decimals);

// Reads a decimal number the way "%lf" does: leading blanks skipped, the longest valid prefix
// taken. Empty when no number starts the text.
std::optional<double> ParseLeadingDouble(std::string_view text);

}  // namespace norvane
