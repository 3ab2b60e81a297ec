#include "core/protocol/exchange.h"

#include <gtest/gtest.h>

#include "tests/common/machine_line.h"
#include "tests/common/recording_notifier.h"
#include "tests/core/serial/scripted_counter.h"

namespace norvane {
namespace {

using namespace std::chrono_literals;
using testing::PtyPair;
using testing::RecordingNotifier;
using testing::ScriptedCounter;

class ExchangeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty_.ok());
    port_ = ports_.Add(pty_.path(), "test line");
    ASSERT_TRUE(link_.Open(port_, 115200));
  }

  PtyPair pty_;
  PortCatalogue ports_;
  RecordingNotifier notifier_;
  testing::MachineLine machine_{ports_, notifier_};
  DeviceLine& link_ = machine_.line;
  int port_ = 0;
};

TEST_F(ExchangeTest, ReplyIsGatheredAsItTricklesIn) {
  ScriptedCounter counter(pty_, [](const std::string&) {
    return std::vector<uint8_t>{26, 3, 7, 9, 5, 4, 0};
  });
  std::vector<uint8_t> reply(7, 0xEE);
  const ExchangeResult r =
      Exchange(link_, commands::kGetDateTime, BuildFrame(commands::kGetDateTime), 8, reply, 500ms);
  EXPECT_TRUE(r.complete(7));
  EXPECT_EQ(reply, (std::vector<uint8_t>{26, 3, 7, 9, 5, 4, 0}));
}

TEST_F(ExchangeTest, ReplyThatStopsShortIsZeroFilled) {
  ScriptedCounter counter(pty_, [](const std::string&) { return std::vector<uint8_t>{1, 2}; });
  std::vector<uint8_t> reply(7, 0xEE);
  const ExchangeResult r =
      Exchange(link_, commands::kGetDateTime, BuildFrame(commands::kGetDateTime), 8, reply, 200ms);
  EXPECT_EQ(r.received, 2);
  EXPECT_FALSE(r.complete(7));
  EXPECT_EQ(reply, (std::vector<uint8_t>{1, 2, 0, 0, 0, 0, 0}));
}

TEST_F(ExchangeTest, AcknowledgementIsOnlyTheByteAA) {
  std::atomic<uint8_t> answer{kAck};
  ScriptedCounter counter(pty_, [&answer](const std::string&) { return std::vector<uint8_t>{answer.load()}; });
  EXPECT_TRUE(AcknowledgedExchange(link_, commands::kEraseCfg, BuildFrame(commands::kEraseCfg), 8).acknowledged());
  answer = 0x55;
  const AckResult wrong = AcknowledgedExchange(link_, commands::kEraseCfg, BuildFrame(commands::kEraseCfg), 8);
  EXPECT_FALSE(wrong.acknowledged());
  EXPECT_EQ(wrong.reply, 0x55);
}

TEST_F(ExchangeTest, NoAcknowledgementAndRefusedFramesFail) {
  const AckResult silent = AcknowledgedExchange(link_, commands::kEraseCfg, BuildFrame(commands::kEraseCfg), 8);
  EXPECT_EQ(silent.reply, -1);
  EXPECT_FALSE(silent.acknowledged());
  EXPECT_EQ(pty_.Read(7).size(), 7u);  // "<ECFG>>" went out

  // A text frame too long for a family below 8 never leaves.
  const auto frame = BuildTextFrame(commands::kSetSsid, std::string(30, 'n'));
  const AckResult refused = AcknowledgedExchange(link_, commands::kSetSsid, frame, 6);
  EXPECT_EQ(refused.sent, -1);
  EXPECT_FALSE(refused.acknowledged());
  EXPECT_TRUE(pty_.Read(1, 50ms).empty());
  ASSERT_EQ(notifier_.messages().size(), 1u);
  EXPECT_EQ(notifier_.messages()[0].text, "Data too long to send! (Maximum 32 bytes)");
}

}  // namespace
}  // namespace norvane
