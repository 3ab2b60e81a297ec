#include "core/common/status_log.h"

namespace norvane {
namespace {

size_t CharsWithoutBreaks(std::string_view text) {
  size_t n = 0;
  for (char c : text) n += (c != '\r' && c != '\n');
  return n;
}

}  // namespace

bool StatusLogText::Append(std::string_view line) {
  const bool replace = line_chars_ > limit_ / 2;
  if (replace) {
    text_.clear();
    line_chars_ = 0;
  }
  text_ += "\r\n";
  text_ += line;
  line_chars_ += CharsWithoutBreaks(line);
  return replace;
}

}  // namespace norvane
