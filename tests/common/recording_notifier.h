// A notifier that remembers what the user would have seen, for tests; threads may report.
#pragma once

#include <algorithm>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "core/common/user_notifier.h"

namespace norvane::testing {

class RecordingNotifier final : public UserNotifier {
 public:
  struct Shown {
    std::string text;
    std::string caption;
  };

  void Message(std::string_view text, std::string_view caption) override {
    std::lock_guard lock(mutex_);
    messages_.push_back({std::string(text), std::string(caption)});
  }
  void Status(std::string_view line) override {
    std::lock_guard lock(mutex_);
    status_.emplace_back(line);
  }
  bool Ask(std::string_view question, std::string_view caption) override {
    std::lock_guard lock(mutex_);
    questions_.push_back({std::string(question), std::string(caption)});
    return answer_ ? answer_(questions_.size()) : false;
  }

  // Answers the n-th question (1-based).
  void AnswerWith(std::function<bool(size_t n)> answer) { answer_ = std::move(answer); }

  std::vector<Shown> messages() const {
    std::lock_guard lock(mutex_);
    return messages_;
  }
  std::vector<std::string> status() const {
    std::lock_guard lock(mutex_);
    return status_;
  }
  std::vector<Shown> questions() const {
    std::lock_guard lock(mutex_);
    return questions_;
  }
  bool HasStatus(std::string_view line) const {
    std::lock_guard lock(mutex_);
    return std::find(status_.begin(), status_.end(), line) != status_.end();
  }
  bool HasStatusContaining(std::string_view part) const {
    std::lock_guard lock(mutex_);
    return std::any_of(status_.begin(), status_.end(),
                       [&](const std::string& s) { return s.find(part) != std::string::npos; });
  }

 private:
  mutable std::mutex mutex_;
  std::vector<Shown> messages_;
  std::vector<std::string> status_;
  std::vector<Shown> questions_;
  std::function<bool(size_t)> answer_;
};

}  // namespace norvane::testing
