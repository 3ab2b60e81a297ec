#include "core/serial/reader_thread.h"

#include <gtest/gtest.h>

#include "tests/common/recording_notifier.h"
#include "tests/core/serial/pty_pair.h"

namespace norvane {
namespace {

using namespace std::chrono_literals;
using testing::PtyPair;
using testing::RecordingNotifier;

class ReaderThreadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty_.ok());
    settings_.port = ports_.Add(pty_.path(), "test line");
  }

  // Waits up to `limit` for the flag to say the loop has ended.
  static bool StopsWithin(const ReaderThread& reader, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
      if (reader.stopped()) return true;
      std::this_thread::sleep_for(5ms);
    }
    return reader.stopped();
  }

  PtyPair pty_;
  PortCatalogue ports_;
  RecordingNotifier notifier_;
  ReceiveBuffer buffer_;
  PortSettings settings_;
};

TEST_F(ReaderThreadTest, OpensTheLineAndCollectsOneBytePerPass) {
  CSerialLink link(ports_, notifier_);
  ReaderThread reader(link, buffer_, notifier_);
  buffer_.Append(std::vector<uint8_t>{0x99});  // stale: starting the reader empties the buffer
  ASSERT_TRUE(reader.Start(settings_, 8, false));
  EXPECT_TRUE(reader.running());
  EXPECT_FALSE(reader.stopped());
  EXPECT_TRUE(link.IsOpen());
  termios tio = pty_.LineSettings();
  EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B115200));  // family 8's rate

  const auto start = std::chrono::steady_clock::now();
  pty_.Write({'Z', 'Q', 'T', '-', '4', '0', '0', 0});
  std::vector<uint8_t> reply(8);
  EXPECT_EQ(buffer_.Receive(reply), 8);
  EXPECT_EQ(std::string(reply.begin(), reply.end() - 1), "ZQT-400");
  EXPECT_GE(std::chrono::steady_clock::now() - start, 70ms);  // 10 ms passes, a byte each

  reader.Stop();
  EXPECT_TRUE(reader.stopped());
  EXPECT_FALSE(reader.running());
}

TEST_F(ReaderThreadTest, SilenceEndsItQuietlyAndBytesResetTheCount) {
  CSerialLink link(ports_, notifier_);
  ReaderOptions options;
  options.silence_passes = 15;
  ReaderThread reader(link, buffer_, notifier_, options);
  ASSERT_TRUE(reader.Start(settings_, 1, false));
  // A byte every 100 ms keeps it alive past several silence limits.
  for (int i = 0; i < 5; ++i) {
    std::this_thread::sleep_for(100ms);
    pty_.Write({static_cast<uint8_t>(i)});
  }
  EXPECT_TRUE(reader.running());
  EXPECT_TRUE(StopsWithin(reader, 2s));
  EXPECT_EQ(buffer_.position(), 5);
  EXPECT_TRUE(notifier_.messages().empty());
}

TEST_F(ReaderThreadTest, DemoModeMakesCountsWithoutAPort) {
  PortCatalogue none;
  CSerialLink link(none, notifier_);
  ReaderOptions options;
  options.demo_pass = 20ms;
  ReaderThread reader(link, buffer_, notifier_, options);
  settings_.port = 1;  // not in the empty catalogue: demo mode must not need it
  ASSERT_TRUE(reader.Start(settings_, 1, true));
  EXPECT_FALSE(link.IsOpen());
  std::this_thread::sleep_for(300ms);
  reader.Stop();
  const int held = buffer_.position();
  ASSERT_GE(held, 10);
  ASSERT_EQ(held % 2, 0);
  std::vector<uint8_t> bytes(static_cast<size_t>(held));
  buffer_.Peek(bytes);
  for (size_t i = 0; i < bytes.size(); i += 2) {
    EXPECT_EQ(bytes[i], 0x80);
    EXPECT_LE(bytes[i + 1], 2);
  }
}

TEST_F(ReaderThreadTest, APortThatWillNotOpenSaysSoAndLeavesTheReaderIdle) {
  CSerialLink link(ports_, notifier_);
  ReaderThread reader(link, buffer_, notifier_);
  settings_.port = 9;
  EXPECT_FALSE(reader.Start(settings_, 1, false));
  EXPECT_TRUE(reader.stopped());
  EXPECT_FALSE(reader.running());
  const auto shown = notifier_.messages();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text.rfind("COM9 cannot be opened.\n\nCOM9 is not in the port list", 0), 0u) << shown[0].text;
  EXPECT_EQ(shown[0].caption, kOpenFailureCaption);
  EXPECT_TRUE(notifier_.HasStatusContaining("COM9 is not in the port list"));
}

}  // namespace
}  // namespace norvane
