#include "core/serial/serial_link.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <sstream>

#include "tests/common/recording_notifier.h"
#include "tests/common/temp_dir.h"
#include "tests/core/serial/pty_pair.h"

namespace norvane {
namespace {

using namespace std::chrono_literals;
using testing::PtyPair;
using testing::RecordingNotifier;

class SerialLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty_.ok());
    port_ = ports_.Add(pty_.path(), "test line");
  }

  std::vector<uint8_t> Bytes(size_t n, uint8_t first = 0) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(first + i);
    return v;
  }

  PtyPair pty_;
  PortCatalogue ports_;
  RecordingNotifier notifier_;
  int port_ = 0;
};

TEST_F(SerialLinkTest, OpeningWhatIsNotThereFailsCleanly) {
  CSerialLink link(ports_, notifier_);
  const int before = testing::OpenDescriptorCount();

  EXPECT_FALSE(link.Open(port_ + 7, 57600));
  EXPECT_NE(link.last_failure().reason.find("not in the port list"), std::string::npos);

  EXPECT_FALSE(link.OpenPath("/dev/norvane-no-such-port", 57600));
  EXPECT_EQ(link.last_failure().error_number, ENOENT);
  EXPECT_NE(link.last_failure().reason.find("/dev/norvane-no-such-port"), std::string::npos);

  EXPECT_FALSE(link.OpenPath(pty_.path(), 12345));  // no such line rate
  EXPECT_FALSE(link.IsOpen());
  EXPECT_EQ(testing::OpenDescriptorCount(), before);
  EXPECT_TRUE(link.Close());  // closing a closed link is fine
  EXPECT_TRUE(notifier_.messages().empty());  // the caller shows the message, not the link
}

TEST(SerialLinkOpenError, PermissionProblemNamesTheGroupToJoin) {
  // Root opens anything, so the reason is built for a device that belongs to a group.
  const group* dialout = ::getgrnam("dialout");
  if (!dialout) GTEST_SKIP() << "no dialout group on this machine";
  testing::TempDir dir;
  const auto device = dir / "ttyUSB0";
  testing::WriteAll(device, "");
  ASSERT_EQ(::chown(device.c_str(), static_cast<uid_t>(-1), dialout->gr_gid), 0);
  const std::string reason = DescribeOpenError(device.string(), EACCES);
  EXPECT_NE(reason.find("Permission denied"), std::string::npos) << reason;
  EXPECT_NE(reason.find("usermod -aG dialout"), std::string::npos) << reason;
  EXPECT_EQ(DescribeOpenError("/dev/ttyUSB9", EBUSY).find("usermod"), std::string::npos);
}

TEST_F(SerialLinkTest, AlwaysEightNoneOneRawAndASecondOpenChangesNothing) {
  CSerialLink link(ports_, notifier_);
  ASSERT_TRUE(link.Open(port_, 57600, "e", 7, 2)) << link.last_failure().reason;
  termios tio = pty_.LineSettings();
  EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
  // Binary replies must pass untouched: no flow-control characters, no line editing.
  EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | ICRNL), 0u);
  EXPECT_EQ(tio.c_lflag & (ICANON | ECHO), 0u);
  EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B57600));

  EXPECT_TRUE(link.Open(port_, 115200));
  tio = pty_.LineSettings();
  EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B57600));
  EXPECT_TRUE(link.Close());
  EXPECT_FALSE(link.IsOpen());
  ASSERT_TRUE(link.Open(port_, 115200));
  tio = pty_.LineSettings();
  EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B115200));
}

TEST_F(SerialLinkTest, AnotherLinkIsTurnedAwayUntilTheHolderCloses) {
  CSerialLink holder(ports_, notifier_);
  CSerialLink other(ports_, notifier_);
  ASSERT_TRUE(holder.Open(port_, 57600));
  // Root passes TIOCEXCL; the lock stops it all the same, also within one process.
  EXPECT_FALSE(other.OpenPath(pty_.path(), 115200));
  EXPECT_EQ(other.last_failure().error_number, EBUSY);
  EXPECT_EQ(other.last_failure().reason.rfind("The port " + pty_.path() + " is in use by process " +
                                                  std::to_string(::getpid()) + " (",
                                              0),
            0u)
      << other.last_failure().reason;
  const termios tio = pty_.LineSettings();
  EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B57600));  // the holder's line is left as it was
  ASSERT_TRUE(holder.Close());
  EXPECT_TRUE(other.OpenPath(pty_.path(), 115200)) << other.last_failure().reason;
  EXPECT_FALSE(holder.Open(port_, 57600));
}

TEST(SerialLinkGone, AVanishedDeviceIsReportedAtOnce) {
  auto pty = std::make_unique<PtyPair>();
  ASSERT_TRUE(pty->ok());
  PortCatalogue ports;
  RecordingNotifier notifier;
  CSerialLink link(ports, notifier);
  ASSERT_TRUE(link.OpenPath(pty->path(), 115200));
  EXPECT_EQ(link.AwaitInput(10ms), CSerialLink::InputWait::kTimedOut);
  EXPECT_FALSE(link.Gone());
  pty.reset();  // the other end closes, as when a USB bridge is pulled
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(link.AwaitInput(10s), CSerialLink::InputWait::kGone);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  EXPECT_TRUE(link.Gone());
}

TEST_F(SerialLinkTest, FrameLimitsFollowTheFamily) {
  CSerialLink link(ports_, notifier_);
  ASSERT_TRUE(link.Open(port_, 115200));

  EXPECT_EQ(link.SendData(Bytes(32), 0, 4), 32);
  EXPECT_EQ(pty_.Read(32), Bytes(32));
  EXPECT_EQ(link.SendData(Bytes(33), 0, 4), -1);
  EXPECT_EQ(link.SendData(Bytes(33), 0, 7), -1);
  EXPECT_EQ(link.SendData(Bytes(256), 0, 8), 256);
  EXPECT_EQ(pty_.Read(256), Bytes(256));
  EXPECT_EQ(link.SendData(Bytes(257), 0, 8), -1);
  EXPECT_EQ(link.SendData(Bytes(257), 0, 17), -1);
  EXPECT_TRUE(pty_.Read(1, 100ms).empty());  // refused frames send nothing

  const auto shown = notifier_.messages();
  ASSERT_EQ(shown.size(), 4u);
  EXPECT_EQ(shown[0].text, "Data too long to send! (Maximum 32 bytes)");
  EXPECT_EQ(shown[1].text, "Data too long to send! (Maximum 32 bytes)");
  EXPECT_EQ(shown[2].text, "Data too long to send! (Maximum 256 bytes)");
  EXPECT_EQ(shown[3].text, "Data too long to send! (Maximum 256 bytes)");

  link.Close();
  EXPECT_EQ(link.SendData(Bytes(9), 0, 8), 0);
  EXPECT_EQ(notifier_.messages().size(), 4u);
}

TEST_F(SerialLinkTest, InterByteDelayFollowsEveryByteIncludingTheLast) {
  CSerialLink link(ports_, notifier_);
  ASSERT_TRUE(link.Open(port_, 57600));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(link.SendData(Bytes(5), 20, 1), 5);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 100ms);
  EXPECT_EQ(pty_.Read(5), Bytes(5));
}

TEST_F(SerialLinkTest, ReadAvailableTakesOnlyWhatIsQueuedUpToTheLimit) {
  CSerialLink link(ports_, notifier_);
  ASSERT_TRUE(link.Open(port_, 57600));
  std::vector<uint8_t> got(200, 0xEE);

  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(link.ReadAvailable(got, 60), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 50ms);  // never waits for bytes

  pty_.Write(Bytes(100, 1));
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(link.ReadAvailable(got, 60), 60);
  EXPECT_EQ(std::vector<uint8_t>(got.begin(), got.begin() + 60), Bytes(60, 1));
  EXPECT_EQ(got[60], 0xEE);
  EXPECT_EQ(link.ReadAvailable(got, 60), 40);
  EXPECT_EQ(got[0], 61);
  EXPECT_EQ(link.ReadAvailable(got, 60), 0);
}

TEST_F(SerialLinkTest, ClearLineThrowsAwayStaleBytes) {
  CSerialLink link(ports_, notifier_);
  ASSERT_TRUE(link.Open(port_, 57600));
  pty_.Write(Bytes(30));
  std::this_thread::sleep_for(50ms);
  link.ClearLine();
  uint8_t byte = 0;
  EXPECT_EQ(link.ReadAvailable({&byte, 1}), 0);
}

TEST_F(SerialLinkTest, TraceLogsBothDirectionsInHex) {
  std::ostringstream log;
  LinkTrace trace(log, "2026-03-07 09:05:04");
  CSerialLink link(ports_, notifier_);
  link.SetTrace(&trace);
  ASSERT_TRUE(link.Open(port_, 57600));
  const std::vector<uint8_t> frame = {'<', 'G', 'E', 'T', 'V', 'E', 'R', '>', '>'};
  link.SendData(frame, 0, 1);
  pty_.Write({0x5A, 0x00, 0xFF});
  std::this_thread::sleep_for(50ms);
  uint8_t reply[3];
  EXPECT_EQ(link.ReadAvailable(reply), 3);
  link.Close();
  link.SetTrace(nullptr);

  const std::string text = log.str();
  EXPECT_NE(text.find("2026-03-07 09:05:04"), std::string::npos);
  EXPECT_NE(text.find(" > 3C 47 45 54 56 45 52 3E 3E\n"), std::string::npos) << text;
  EXPECT_NE(text.find(" < 5A 00 FF\n"), std::string::npos) << text;
}

}  // namespace
}  // namespace norvane
