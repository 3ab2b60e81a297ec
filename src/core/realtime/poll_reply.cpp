#include "core/realtime/poll_reply.h"

#include <array>

namespace norvane {

std::optional<uint32_t> DecodePollReply(std::span<const uint8_t> reply) {
  if (reply.size() == 2) return static_cast<uint32_t>((reply[0] & 0x3F) << 8 | reply[1]);
  if (reply.size() != 4) return std::nullopt;
  std::array<uint8_t, 4> b{reply[0], reply[1], reply[2], reply[3]};
  for (uint8_t v : b)
    if (v == 0x80) return std::nullopt;
  if (b[0] != 0) b[3] = b[0], b[0] = 0;
  if (b[1] != 0) b[3] = b[1], b[1] = 0;
  if (b[2] != 0 && b[3] == 0) b[3] = b[2], b[2] = 0;
  return uint32_t{b[0]} << 24 | uint32_t{b[1]} << 16 | uint32_t{b[2]} << 8 | b[3];
}

}  // namespace norvane
