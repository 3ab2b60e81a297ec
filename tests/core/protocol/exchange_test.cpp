#include "core/protocol/exchange.h"

#include <gtest/gtest.h>

#include "core/serial/reader_thread.h"
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
  CSerialLink link_{ports_, notifier_};
  ReceiveBuffer buffer_;
  int port_ = 0;
};

TEST_F(ExchangeTest, BufferedReplyIgnoresWhatWasWaitingBeforeTheCommand) {
  ScriptedCounter counter(pty_, [](const std::string&) { return testing::VersionReply("ZQT-400Re 4.21"); });
  ReaderThread reader(link_, buffer_, notifier_);
  PortSettings settings;
  settings.port = port_;
  ASSERT_TRUE(reader.Start(settings, 8, false));
  buffer_.Append(std::vector<uint8_t>{'?', '?', '?'});  // left over from an earlier exchange

  std::vector<uint8_t> reply(20);
  const ExchangeResult r =
      BufferedExchange(link_, buffer_, commands::kGetVer, BuildFrame(commands::kGetVer), 8, reply);
  EXPECT_EQ(r.sent, 9);
  EXPECT_EQ(r.received, 20);
  EXPECT_TRUE(r.complete(20));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(reply.data())), "ZQT-400Re 4.21");
  EXPECT_EQ(counter.frames(), std::vector<std::string>{"<GETVER>>"});
}

TEST_F(ExchangeTest, DirectReplyIsGatheredAsItTricklesIn) {
  ScriptedCounter counter(pty_, [](const std::string&) {
    return std::vector<uint8_t>{26, 3, 7, 9, 5, 4, 0};
  });
  std::vector<uint8_t> reply(7, 0xEE);
  const ExchangeResult r =
      DirectExchange(link_, commands::kGetDateTime, BuildFrame(commands::kGetDateTime), 8, reply, 500ms);
  EXPECT_TRUE(r.complete(7));
  EXPECT_EQ(reply, (std::vector<uint8_t>{26, 3, 7, 9, 5, 4, 0}));
}

TEST_F(ExchangeTest, DirectReplyThatStopsShortIsZeroFilled) {
  ScriptedCounter counter(pty_, [](const std::string&) { return std::vector<uint8_t>{1, 2}; });
  std::vector<uint8_t> reply(7, 0xEE);
  const ExchangeResult r =
      DirectExchange(link_, commands::kGetDateTime, BuildFrame(commands::kGetDateTime), 8, reply, 200ms);
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
