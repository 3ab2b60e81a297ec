#include "core/serial/receive_buffer.h"

#include <algorithm>
#include <cstring>

namespace norvane {

size_t ReceiveBuffer::Append(std::span<const uint8_t> bytes) {
  size_t kept = 0;
  {
    std::lock_guard lock(mutex_);
    kept = std::min(bytes.size(), kSize - position_);
    std::memcpy(bytes_.data() + position_, bytes.data(), kept);
    position_ += kept;
    dropped_ += bytes.size() - kept;
  }
  if (kept) arrived_.notify_all();
  return kept;
}

void ReceiveBuffer::Reset(size_t zero_bytes) {
  std::lock_guard lock(mutex_);
  position_ = 0;
  dropped_ = 0;
  std::fill_n(bytes_.begin(), std::min(zero_bytes, kSize), uint8_t{0});
}

int ReceiveBuffer::Receive(std::span<uint8_t> destination, std::chrono::milliseconds timeout) {
  // More than the buffer holds can never arrive; the excess of the destination reads as zero.
  const size_t n = std::min(destination.size(), kSize);
  std::fill(destination.begin() + static_cast<std::ptrdiff_t>(n), destination.end(), uint8_t{0});

  std::unique_lock lock(mutex_);
  const bool complete = arrived_.wait_for(lock, timeout, [&] { return position_ >= n; });
  const size_t arrived = position_;
  if (!complete) {
    // What came is handed out and the missing bytes read as zero, whatever an earlier partial
    // reset left behind. The partial bytes are taken too, so they cannot pose as the start of
    // the next reply.
    std::memcpy(destination.data(), bytes_.data(), arrived);
    std::fill(destination.begin() + static_cast<std::ptrdiff_t>(arrived),
              destination.begin() + static_cast<std::ptrdiff_t>(n), uint8_t{0});
    std::fill_n(bytes_.begin(), n, uint8_t{0});
    position_ = 0;
    return static_cast<int>(arrived);
  }
  std::memcpy(destination.data(), bytes_.data(), n);
  std::fill_n(bytes_.begin(), n, uint8_t{0});
  if (position_ > n) {
    std::memmove(bytes_.data(), bytes_.data() + n, position_ - n);
    std::fill(bytes_.begin() + static_cast<std::ptrdiff_t>(position_ - n),
              bytes_.begin() + static_cast<std::ptrdiff_t>(position_), uint8_t{0});
    position_ -= n;
  } else {
    position_ = 0;
  }
  return static_cast<int>(n);
}

int ReceiveBuffer::position() const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(position_);
}

void ReceiveBuffer::Peek(std::span<uint8_t> destination) const {
  std::lock_guard lock(mutex_);
  const size_t n = std::min(destination.size(), kSize);
  std::memcpy(destination.data(), bytes_.data(), n);
  std::fill(destination.begin() + static_cast<std::ptrdiff_t>(n), destination.end(), uint8_t{0});
}

size_t ReceiveBuffer::dropped() const {
  std::lock_guard lock(mutex_);
  return dropped_;
}

}  // namespace norvane
