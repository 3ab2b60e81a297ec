#include "core/serial/receive_buffer.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace norvane {
namespace {

using namespace std::chrono_literals;

std::vector<uint8_t> Take(ReceiveBuffer& buffer, size_t n, std::chrono::milliseconds timeout = 100ms) {
  std::vector<uint8_t> out(n, 0xEE);
  buffer.Receive(out, timeout);
  return out;
}

TEST(ReceiveBuffer, SurplusBytesBecomeTheNextReply) {
  ReceiveBuffer buffer;
  buffer.Append(std::vector<uint8_t>{1, 2, 3, 4, 5, 6});
  std::vector<uint8_t> reply(4);
  EXPECT_EQ(buffer.Receive(reply), 4);
  EXPECT_EQ(reply, (std::vector<uint8_t>{1, 2, 3, 4}));
  EXPECT_EQ(buffer.position(), 2);
  EXPECT_EQ(Take(buffer, 2), (std::vector<uint8_t>{5, 6}));
  EXPECT_EQ(buffer.position(), 0);
}

TEST(ReceiveBuffer, AReplyThatNeverComesTimesOutAfterTwoSecondsAsZeros) {
  ReceiveBuffer buffer;
  std::vector<uint8_t> reply(20, 0xEE);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(buffer.Receive(reply), 0);
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, 2000ms);
  EXPECT_LT(waited, 2500ms);
  EXPECT_EQ(reply, std::vector<uint8_t>(20, 0));
}

TEST(ReceiveBuffer, APartReplyIsHandedOutAndDoesNotHauntTheNextOne) {
  ReceiveBuffer buffer;
  buffer.Append(std::vector<uint8_t>{7, 8, 9});
  std::vector<uint8_t> reply(6, 0xEE);
  EXPECT_EQ(buffer.Receive(reply, 50ms), 3);
  EXPECT_EQ(reply, (std::vector<uint8_t>{7, 8, 9, 0, 0, 0}));
  // The next reply starts with its own first byte, not with the zeroed remains of this one.
  buffer.Append(std::vector<uint8_t>{0x41, 0x42});
  EXPECT_EQ(Take(buffer, 2), (std::vector<uint8_t>{0x41, 0x42}));
}

TEST(ReceiveBuffer, MissingBytesReadAsZeroEvenAfterAPartialReset) {
  ReceiveBuffer buffer;
  buffer.Append(std::vector<uint8_t>(30, 0x33));
  buffer.Reset(10);  // as before a realtime poll: only the start is zeroed
  buffer.Append(std::vector<uint8_t>{1, 2});
  EXPECT_EQ(Take(buffer, 20, 20ms), (std::vector<uint8_t>{1, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(ReceiveBuffer, BytesBeyondTheBufferAreDroppedNotWrittenPastIt) {
  ReceiveBuffer buffer;
  std::vector<uint8_t> flood(ReceiveBuffer::kSize + 904);
  for (size_t i = 0; i < flood.size(); ++i) flood[i] = static_cast<uint8_t>(i);
  EXPECT_EQ(buffer.Append(flood), ReceiveBuffer::kSize);
  EXPECT_EQ(buffer.Append(std::vector<uint8_t>{1}), 0u);
  EXPECT_EQ(buffer.position(), static_cast<int>(ReceiveBuffer::kSize));
  EXPECT_EQ(buffer.dropped(), 905u);
  std::vector<uint8_t> all(ReceiveBuffer::kSize);
  EXPECT_EQ(buffer.Receive(all), static_cast<int>(ReceiveBuffer::kSize));
  EXPECT_EQ(all.back(), static_cast<uint8_t>(ReceiveBuffer::kSize - 1));
  EXPECT_EQ(buffer.position(), 0);
}

TEST(ReceiveBuffer, WaitsForBytesThatArriveFromAnotherThread) {
  ReceiveBuffer buffer;
  std::thread reader([&] {
    for (uint8_t b = 1; b <= 4; ++b) {
      std::this_thread::sleep_for(10ms);
      buffer.Append(std::vector<uint8_t>{b});
    }
  });
  std::vector<uint8_t> reply(4);
  EXPECT_EQ(buffer.Receive(reply), 4);
  reader.join();
  EXPECT_EQ(reply, (std::vector<uint8_t>{1, 2, 3, 4}));
}

}  // namespace
}  // namespace norvane
