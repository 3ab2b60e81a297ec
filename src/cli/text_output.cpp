#include "cli/text_output.h"

#include <charconv>
#include <ostream>

#include "core/common/text_format.h"

namespace norvane::cli {

std::string Printable(std::string_view text) {
  std::string out;
  for (unsigned char c : text) {
    if (c == '\\') out += "\\\\";
    else if (c < 0x20 || c >= 0x7F) out += Format("\\x%02X", c);
    else out += static_cast<char>(c);
  }
  return out;
}

Json JsonText(std::string_view text) {
  std::string utf8;
  for (unsigned char c : text) {
    if (c < 0x80) {
      utf8 += static_cast<char>(c);
    } else {
      utf8 += static_cast<char>(0xC0 | (c >> 6));
      utf8 += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return utf8;
}

void PrintJson(std::ostream& out, const Json& document) { out << document.dump() << "\n"; }

std::string ExactNumber(double value) {
  char buffer[64];
  const auto r = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, r.ptr);
}

}  // namespace norvane::cli
