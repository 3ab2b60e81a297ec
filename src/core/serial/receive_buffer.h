// ReceiveBuffer: where the reader thread collects the counter's replies for the exchanges.
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <span>

namespace norvane {

// 4096 bytes and a write position, shared by the reader thread (Append) and the one exchange
// running at a time (Reset, Receive, Peek). A lock guards both; a counter that sends more than
// fits between two resets loses the surplus, never the memory beyond the buffer.
class ReceiveBuffer {
 public:
  static constexpr size_t kSize = 4096;
  static constexpr std::chrono::milliseconds kReceiveTimeout{2000};

  // Stores what fits and drops the rest; returns how many bytes were kept.
  size_t Append(std::span<const uint8_t> bytes);

  // Write position 0 and the first `zero_bytes` zeroed (10 before a realtime poll, all before
  // other exchanges).
  void Reset(size_t zero_bytes = kSize);

  // Takes the first destination.size() bytes once that many have arrived, moving any surplus
  // to the front as the start of the next reply. After `timeout` it hands out what is there,
  // zero-filled, and returns the count that had arrived; otherwise returns the count taken.
  int Receive(std::span<uint8_t> destination, std::chrono::milliseconds timeout = kReceiveTimeout);

  // Bytes held now (the realtime poll judges its reply by this count).
  int position() const;
  // A copy of the first destination.size() bytes, without taking them.
  void Peek(std::span<uint8_t> destination) const;
  // Bytes dropped because the buffer was full, since the last Reset.
  size_t dropped() const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable arrived_;
  std::array<uint8_t, kSize> bytes_{};
  size_t position_ = 0;
  size_t dropped_ = 0;
};

}  // namespace norvane
