// The one way core code talks to the user: message boxes, status-log lines and yes/no questions.
#pragma once

#include <string_view>

namespace norvane {

// The window implements this with message boxes and its status log, the CLI with stderr,
// tests with a recorder. Texts arrive exactly as the user should read them.
class UserNotifier {
 public:
  virtual ~UserNotifier() = default;
  virtual void Message(std::string_view text, std::string_view caption = {}) = 0;
  virtual void Status(std::string_view line) = 0;
  virtual bool Ask(std::string_view question, std::string_view caption) = 0;
};

}  // namespace norvane
