// One command exchange: clear the line, send the frame at its pace, settle, collect, judge.
#pragma once

#include <chrono>
#include <cstdint>
#include <span>

#include "core/device/device_line.h"
#include "core/protocol/command_catalogue.h"

namespace norvane {

// How long an exchange keeps collecting a reply after the settle time.
inline constexpr std::chrono::milliseconds kReplyWait{2000};

struct ExchangeResult {
  int sent = 0;      // SendData's result: -1 refused for length, 0 port closed
  int received = 0;  // reply bytes that arrived
  bool complete(size_t expected) const { return sent > 0 && received >= static_cast<int>(expected); }
};

// The reply is read until `reply` is full or `wait` has passed after the settle time. Missing
// bytes read as zero.
ExchangeResult Exchange(DeviceLine& line, const CommandSpec& command, std::span<const uint8_t> frame, int family,
                        std::span<uint8_t> reply, std::chrono::milliseconds wait = kReplyWait);

struct AckResult {
  int sent = 0;
  int reply = -1;  // the byte read after the settle time, -1 when none came
  bool acknowledged() const { return sent > 0 && reply == kAck; }
};

// How long past the settle time an acknowledgement is still waited for. A counter answers within
// the settle time, but a busy machine or a USB adapter may hand the byte over later; the wait
// ends with the byte, so only a silent counter pays for it.
inline constexpr std::chrono::milliseconds kAckGrace{500};

// Write-type commands: one byte is read after the settle time; 0xAA means done. `grace` is how
// much longer that byte is waited for.
AckResult AcknowledgedExchange(DeviceLine& line, const CommandSpec& command, std::span<const uint8_t> frame,
                               int family, std::chrono::milliseconds grace = kAckGrace);

}  // namespace norvane
