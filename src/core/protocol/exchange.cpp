#include "core/protocol/exchange.h"

#include <algorithm>
#include <thread>

namespace norvane {
namespace {

using namespace std::chrono_literals;

// Between looks at the port while a direct reply trickles in.
constexpr auto kDirectPoll = 2ms;

int Send(CSerialLink& link, const CommandSpec& command, std::span<const uint8_t> frame, int family) {
  link.ClearLine();
  const int sent = link.SendData(frame, command.delay_ms, family);
  if (sent > 0 && command.settle_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(command.settle_ms));
  return sent;
}

}  // namespace

ExchangeResult BufferedExchange(CSerialLink& link, ReceiveBuffer& buffer, const CommandSpec& command,
                                std::span<const uint8_t> frame, int family, std::span<uint8_t> reply,
                                std::chrono::milliseconds timeout) {
  std::fill(reply.begin(), reply.end(), uint8_t{0});
  link.ClearLine();
  // Whatever the reader holds now came before this command and is not its reply.
  buffer.Reset();
  ExchangeResult result;
  result.sent = link.SendData(frame, command.delay_ms, family);
  if (result.sent <= 0) return result;
  if (command.settle_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(command.settle_ms));
  result.received = std::min(buffer.Receive(reply, timeout), static_cast<int>(reply.size()));
  return result;
}

ExchangeResult DirectExchange(CSerialLink& link, const CommandSpec& command, std::span<const uint8_t> frame,
                              int family, std::span<uint8_t> reply, std::chrono::milliseconds wait) {
  std::fill(reply.begin(), reply.end(), uint8_t{0});
  ExchangeResult result;
  result.sent = Send(link, command, frame, family);
  if (result.sent <= 0) return result;
  const auto deadline = std::chrono::steady_clock::now() + wait;
  size_t have = 0;
  while (have < reply.size()) {
    const int got = link.ReadAvailable(reply.subspan(have));
    if (got > 0) {
      have += static_cast<size_t>(got);
      continue;
    }
    if (!link.IsOpen() || std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(kDirectPoll);
  }
  result.received = static_cast<int>(have);
  return result;
}

AckResult AcknowledgedExchange(CSerialLink& link, const CommandSpec& command, std::span<const uint8_t> frame,
                               int family, std::chrono::milliseconds grace) {
  AckResult result;
  result.sent = Send(link, command, frame, family);
  if (result.sent <= 0) return result;
  const auto deadline = std::chrono::steady_clock::now() + grace;
  for (;;) {
    uint8_t byte = 0;
    if (link.ReadAvailable({&byte, 1}, 1) == 1) {
      result.reply = byte;
      break;
    }
    if (std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(kDirectPoll);
  }
  return result;
}

}  // namespace norvane
