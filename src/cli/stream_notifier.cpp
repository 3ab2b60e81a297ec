#include "cli/stream_notifier.h"

#include <string>

namespace norvane::cli {
namespace {

// Message texts carry "\r\n" for the window's boxes; one line reads better on a terminal.
std::string OneLine(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\r') continue;
    out += c == '\n' ? ' ' : c;
  }
  return out;
}

}  // namespace

void StreamNotifier::Message(std::string_view text, std::string_view caption) {
  std::lock_guard lock(mutex_);
  err_ << (caption.empty() ? std::string() : OneLine(caption) + ": ") << OneLine(text) << "\n";
}

void StreamNotifier::Status(std::string_view line) {
  std::lock_guard lock(mutex_);
  err_ << OneLine(line) << "\n";
}

bool StreamNotifier::Ask(std::string_view question, std::string_view caption) {
  const bool yes = answer_ && answer_(question);
  std::lock_guard lock(mutex_);
  err_ << OneLine(caption) << ": " << OneLine(question) << " " << (yes ? "yes" : "no") << "\n";
  return yes;
}

}  // namespace norvane::cli
