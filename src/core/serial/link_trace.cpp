#include "core/serial/link_trace.h"

#include "core/common/text_format.h"

namespace norvane {

LinkTrace::LinkTrace(std::ostream& out, std::string_view opened_at)
    : out_(out), start_(std::chrono::steady_clock::now()) {
  out_ << "# serial trace started " << opened_at << "\n";
  out_.flush();
}

std::string LinkTrace::Elapsed() const {
  const auto us = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start_);
  const long long count = us.count();
  return Format("%lld.%06lld", count / 1000000, count % 1000000);
}

void LinkTrace::Bytes(Direction direction, std::span<const uint8_t> bytes, std::string_view note) {
  std::string line = Elapsed() + (direction == Direction::kOut ? " > " : " < ");
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i) line += ' ';
    line += Format("%02X", bytes[i]);
  }
  if (!note.empty()) (line += "  # ") += note;
  std::lock_guard lock(mutex_);
  // Flushed line by line so a crash still leaves the exchange that led to it.
  out_ << line << "\n";
  out_.flush();
}

void LinkTrace::Event(std::string_view text) {
  std::string line = Elapsed() + " # " + std::string(text);
  std::lock_guard lock(mutex_);
  out_ << line << "\n";
  out_.flush();
}

}  // namespace norvane
