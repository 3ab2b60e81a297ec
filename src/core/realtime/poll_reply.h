// Turning the counter's answer to "<GETCPS>>" into one second's count.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "core/serial/receive_buffer.h"

namespace norvane {

// A 4-byte reply, with its value moved into the last byte when the counter put it in one of the
// first three, or a 2-byte reply whose top two bits carry no count. Empty when the reply is
// dropped: a 0x80 byte in a 4-byte reply, or any other length.
std::optional<uint32_t> DecodePollReply(std::span<const uint8_t> reply);

// Takes the reply out of the buffer by the number of bytes held and leaves the buffer empty.
std::optional<uint32_t> TakePollReply(ReceiveBuffer& buffer);

}  // namespace norvane
