// The main window's status log as text: every line appended as "\r\n" + line, and a log that
// has grown past half its limit replaced by the newest line instead of growing further.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace norvane {

// The text limit of the log control; half of it is the most the log keeps before starting over.
inline constexpr size_t kStatusLogLimit = 32767;

class StatusLogText {
 public:
  explicit StatusLogText(size_t limit = kStatusLogLimit) : limit_(limit) {}

  // Returns true when the line replaced the whole log rather than being added to it.
  bool Append(std::string_view line);
  const std::string& text() const { return text_; }

 private:
  size_t limit_;
  std::string text_;
  size_t line_chars_ = 0;  // characters of all lines, their breaks not counted
};

}  // namespace norvane
