// Turning the counter's answer to "<GETCPS>>" into one second's count.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace norvane {

// A 4-byte reply, with its value moved into the last byte when the counter put it in one of the
// first three, or a 2-byte reply whose top two bits carry no count. Empty when the reply is
// dropped: a 0x80 byte in a 4-byte reply, or any other length.
std::optional<uint32_t> DecodePollReply(std::span<const uint8_t> reply);

}  // namespace norvane
