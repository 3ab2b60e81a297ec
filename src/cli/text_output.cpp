#include "cli/text_output.h"

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

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') (out += '\\') += static_cast<char>(c);
    else if (c < 0x20 || c >= 0x7F) out += Format("\\u%04x", c);
    else out += static_cast<char>(c);
  }
  return out + "\"";
}

}  // namespace norvane::cli
