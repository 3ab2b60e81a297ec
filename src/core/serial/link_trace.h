// Hex log of every byte that crosses the serial link, for bug reports.
#pragma once

#include <chrono>
#include <mutex>
#include <ostream>
#include <span>
#include <string_view>
#include <cstdint>

namespace norvane {

// One line per transfer: seconds since the trace began, the direction ('>' to the counter,
// '<' from it) and the bytes in hex. Reader and writer threads share it, hence the lock.
class LinkTrace {
 public:
  enum class Direction { kOut, kIn };

  // The stream must outlive the trace. `opened_at` is a wall-clock text for the first line.
  LinkTrace(std::ostream& out, std::string_view opened_at);

  void Bytes(Direction direction, std::span<const uint8_t> bytes, std::string_view note = {});
  // A line about the link itself (opened, closed, purged).
  void Event(std::string_view text);

 private:
  std::string Elapsed() const;

  std::mutex mutex_;
  std::ostream& out_;
  std::chrono::steady_clock::time_point start_;
};

}  // namespace norvane
