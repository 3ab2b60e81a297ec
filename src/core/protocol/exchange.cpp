#include "core/protocol/exchange.h"

#include <algorithm>

namespace norvane {
namespace {

int Send(DeviceLine& line, const CommandSpec& command, std::span<const uint8_t> frame, int family) {
  line.ClearLine();
  const int sent = line.SendData(frame, command.delay_ms, family);
  if (sent > 0 && command.settle_ms > 0) line.Pause(std::chrono::milliseconds(command.settle_ms));
  return sent;
}

}  // namespace

ExchangeResult Exchange(DeviceLine& line, const CommandSpec& command, std::span<const uint8_t> frame, int family,
                        std::span<uint8_t> reply, std::chrono::milliseconds wait) {
  std::fill(reply.begin(), reply.end(), uint8_t{0});
  ExchangeResult result;
  result.sent = Send(line, command, frame, family);
  if (result.sent <= 0) return result;
  result.received = static_cast<int>(line.Collect(reply, wait));
  return result;
}

AckResult AcknowledgedExchange(DeviceLine& line, const CommandSpec& command, std::span<const uint8_t> frame,
                               int family, std::chrono::milliseconds grace) {
  AckResult result;
  result.sent = Send(line, command, frame, family);
  if (result.sent <= 0) return result;
  uint8_t byte = 0;
  if (line.Collect({&byte, 1}, grace) == 1) result.reply = byte;
  return result;
}

}  // namespace norvane
