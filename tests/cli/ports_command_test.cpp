#include <fcntl.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <thread>

#include "core/serial/serial_link.h"
#include "tests/common/cli_run.h"
#include "tests/common/recording_notifier.h"
#include "tests/common/temp_dir.h"
#include "tests/core/serial/pty_pair.h"

namespace norvane {
namespace {

using testing::TempDir;

// NORVANE_PORTS for one test, gone again however the test ends.
struct PortsVariable {
  explicit PortsVariable(const std::string& value) { ::setenv("NORVANE_PORTS", value.c_str(), 1); }
  ~PortsVariable() { ::unsetenv("NORVANE_PORTS"); }
};

TEST(PortsCommandTest, MarksPortsThatCannotBeOpenedAndWhy) {
  TempDir dir;
  testing::PtyPair line;
  ASSERT_TRUE(line.ok());
  const std::string gone = (dir / "ttyUSB7").string();
  std::filesystem::create_directory(dir / "folder");
  const std::string folder = (dir / "folder").string();
  const PortsVariable named(gone + ":" + folder);

  auto r = testing::RunCli(dir, {"--port", line.path(), "ports"});
  ASSERT_EQ(r.code, 0) << r.err;
  // The terminal opens and is listed plainly; the others say why they cannot be used.
  const size_t line_at = r.out.find(line.path());
  ASSERT_NE(line_at, std::string::npos) << r.out;
  const std::string pty_line = r.out.substr(line_at, r.out.find('\n', line_at) - line_at);
  EXPECT_EQ(pty_line.find("cannot open"), std::string::npos) << pty_line;
  EXPECT_NE(r.out.find(gone + "  from NORVANE_PORTS  [cannot open: missing (unplugged?)]\n"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("[cannot open: " + std::generic_category().message(EISDIR) + "]"), std::string::npos) << r.out;

  r = testing::RunCli(dir, {"--port", line.path(), "ports", "--json"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("\"path\":\"" + line.path() + "\",\"description\":\"named on the command line\",\"access\":\"ok\"}"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("\"access\":\"missing\",\"problem\":\"missing (unplugged?)\"}"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"access\":\"error\",\"problem\":"), std::string::npos) << r.out;
}

TEST(PortsCommandTest, MarksAPortInUseWithItsHolderAndLeavesItsLineAlone) {
  TempDir dir;
  testing::PtyPair line;
  ASSERT_TRUE(line.ok());
  PortCatalogue catalogue;
  testing::RecordingNotifier notifier;
  CSerialLink holder(catalogue, notifier);
  ASSERT_TRUE(holder.OpenPath(line.path(), 57600)) << holder.last_failure().reason;
  line.Write({0x12, 0x34});  // a reply the holder has yet to read

  const std::string pid = std::to_string(::getpid());
  const std::string program = program_invocation_short_name;
  auto r = testing::RunCli(dir, {"--port", line.path(), "ports"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("named on the command line  [in use by process " + pid + " (" + program + ")]\n"),
            std::string::npos)
      << r.out;
  r = testing::RunCli(dir, {"--port", line.path(), "ports", "--json"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("\"access\":\"busy\",\"problem\":\"in use by process " + pid + " (" + program +
                       ")\",\"holder_pid\":" + pid + ",\"holder_command\":\"" + program + "\"}"),
            std::string::npos)
      << r.out;

  // Neither look purged the holder's input nor changed its line.
  const termios tio = line.LineSettings();
  EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B57600));
  ASSERT_TRUE(holder.WaitForInput(std::chrono::seconds(5)));
  uint8_t got[2] = {};
  EXPECT_EQ(holder.ReadAvailable(got), 2);
  EXPECT_EQ(got[0], 0x12);
}

}  // namespace
}  // namespace norvane
