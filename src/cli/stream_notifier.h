// The CLI's notifier: messages and status lines on stderr, questions answered by a rule.
#pragma once

#include <functional>
#include <mutex>
#include <ostream>

#include "core/common/user_notifier.h"

namespace norvane::cli {

class StreamNotifier final : public UserNotifier {
 public:
  using Answer = std::function<bool(std::string_view question)>;
  // Without a rule every question is answered no: a tool must never wait for a keyboard.
  explicit StreamNotifier(std::ostream& err, Answer answer = {}) : err_(err), answer_(std::move(answer)) {}

  void Message(std::string_view text, std::string_view caption) override;
  void Status(std::string_view line) override;
  bool Ask(std::string_view question, std::string_view caption) override;

 private:
  std::mutex mutex_;  // the download and engine threads report too
  std::ostream& err_;
  Answer answer_;
};

}  // namespace norvane::cli
