// The simulated counter on a real pseudo-terminal, driven the way a serial port is: plain POSIX.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "core/common/clock.h"
#include "core/protocol/command_catalogue.h"
#include "core/serial/port_access.h"
#include "core/serial/serial_link.h"
#include "sim/pty_transport.h"
#include "tests/common/recording_notifier.h"
#include "tests/common/temp_dir.h"
#include "tests/integration/child_process.h"

extern char** environ;

namespace norvane::sim {
namespace {

using namespace std::chrono_literals;
using Steady = std::chrono::steady_clock;
namespace c = commands;

// The program's end of the line.
class Line {
 public:
  Line(const std::string& path, speed_t speed) {
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY);
    if (fd_ < 0) return;
    SetSpeed(speed);
  }
  ~Line() {
    if (fd_ >= 0) close(fd_);
  }
  bool ok() const { return fd_ >= 0; }
  void SetSpeed(speed_t speed) {
    termios tio{};
    tcgetattr(fd_, &tio);
    cfmakeraw(&tio);
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);
    tcsetattr(fd_, TCSANOW, &tio);
  }
  void Send(const std::vector<uint8_t>& frame) {
    ASSERT_EQ(write(fd_, frame.data(), frame.size()), static_cast<ssize_t>(frame.size()));
  }
  // Up to `n` bytes, waiting at most `limit` in all.
  std::vector<uint8_t> Read(size_t n, std::chrono::milliseconds limit = 2000ms) {
    std::vector<uint8_t> got;
    const auto end = Steady::now() + limit;
    while (got.size() < n) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Steady::now()).count();
      if (left <= 0) break;
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left)) <= 0) break;
      uint8_t buffer[4096];
      const ssize_t r = read(fd_, buffer, std::min(sizeof buffer, n - got.size()));
      if (r <= 0) break;
      got.insert(got.end(), buffer, buffer + r);
    }
    return got;
  }

 private:
  int fd_ = -1;
};

std::vector<uint8_t> Frame(const CommandSpec& command, std::vector<uint8_t> arguments = {}) {
  return BuildFrame(command, arguments);
}

class SimPty : public ::testing::Test {
 protected:
  void Start(CounterOptions options, std::string_view model = "ZQT-400") {
    if (!options.model) options.model = FindCounterModel(model);
    counter_ = std::make_unique<SimulatedCounter>(std::move(options), clock_);
    std::string error;
    transport_ = PtyTransport::Open(*counter_, &error);
    ASSERT_TRUE(transport_) << error;
    ASSERT_TRUE(transport_->Start(&error)) << error;
  }
  void TearDown() override { transport_.reset(); }

  FixedClock clock_{LocalTime{2026, 3, 7, 9, 5, 4}};
  std::unique_ptr<SimulatedCounter> counter_;
  std::unique_ptr<PtyTransport> transport_;
};

TEST_F(SimPty, AnswersOverTheLineAndSurvivesReopening) {
  Start({});
  {
    Line line(transport_->device_path(), B115200);
    ASSERT_TRUE(line.ok());
    line.Send(Frame(c::kGetVer));
    const auto version = line.Read(20);
    EXPECT_EQ(std::string(version.begin(), version.begin() + 14), "ZQT-400Re 4.21");
    // Arguments full of '>' and '<', sent byte by byte as the program does.
    for (uint8_t b : Frame(c::kSpir, {0x00, 0x3E, 0x3C, 0x00, 0x3E})) line.Send({b});
    const auto block = line.Read(0x3E);
    ASSERT_EQ(block.size(), 0x3Eu);
    const auto flash = transport_->Inspect([](SimulatedCounter& s) { return s.flash(); });
    EXPECT_TRUE(std::equal(block.begin(), block.end(), flash.begin() + 0x3E3C));
  }
  // Closing the device does not end the line: the program reopens ports all the time.
  Line again(transport_->device_path(), B115200);
  again.Send(Frame(c::kWriteCfgLong, {0x01, 0xB5, 0x42}));
  EXPECT_EQ(again.Read(1), std::vector<uint8_t>{0xAA});
  EXPECT_EQ(transport_->Inspect([](SimulatedCounter& s) { return s.staged_config()[0x1B5]; }), 0x42);
}

TEST_F(SimPty, PacedRepliesRunAtTheModelsBaudRate) {
  CounterOptions options;
  options.pace = true;
  Start(options);
  Line line(transport_->device_path(), B115200);
  const auto start = Steady::now();
  std::vector<uint8_t> two = Frame(c::kSpir, {0, 0, 0, 4, 0});
  const std::vector<uint8_t> second = Frame(c::kSpir, {0, 4, 0, 4, 0});
  two.insert(two.end(), second.begin(), second.end());
  line.Send(two);
  EXPECT_EQ(line.Read(2048, 3000ms).size(), 2048u);
  const double seconds = std::chrono::duration<double>(Steady::now() - start).count();
  const double line_time = 2048 * 10 / 115200.0;  // 0.178 s
  EXPECT_GE(seconds, 0.95 * line_time);
  // Absolute deadlines keep it from falling behind; the slack is for a busy test machine.
  EXPECT_LT(seconds, 2 * line_time + 0.2);
}

TEST_F(SimPty, SlowerModelsRunAtTheirRate) {
  CounterOptions options;
  options.pace = true;
  Start(options, "ZQT-100");
  Line line(transport_->device_path(), B57600);
  const auto start = Steady::now();
  line.Send(Frame(c::kSpir, {0, 0, 0, 4, 0}));
  EXPECT_EQ(line.Read(1024, 3000ms).size(), 1024u);
  EXPECT_GE(std::chrono::duration<double>(Steady::now() - start).count(), 0.95 * 1024 * 10 / 57600.0);
}

TEST_F(SimPty, StrictBaudListensToTheLineSetting) {
  CounterOptions options;
  options.faults.strict_baud = true;
  Start(options);
  Line line(transport_->device_path(), B57600);
  line.Send(Frame(c::kGetVer));
  EXPECT_TRUE(line.Read(20, 300ms).empty());
  line.SetSpeed(B115200);
  line.Send(Frame(c::kGetVer));
  EXPECT_EQ(line.Read(20).size(), 20u);
}

TEST_F(SimPty, SilentCounterSaysNothing) {
  CounterOptions options;
  options.faults.silent = true;
  Start(options);
  Line line(transport_->device_path(), B115200);
  line.Send(Frame(c::kGetVer));
  EXPECT_TRUE(line.Read(1, 300ms).empty());
}

TEST_F(SimPty, SplitRepliesSendTheirRestLaterThanTheNextPollMayCome) {
  CounterOptions options;
  options.faults.split_counts = SplitReplies{1200ms, 2};
  Start(options);
  Line line(transport_->device_path(), B115200);
  // The first reply is whole, the second comes in two parts.
  auto asked = Steady::now();
  line.Send(Frame(c::kGetCps));
  EXPECT_EQ(line.Read(4, 1000ms).size(), 4u);
  EXPECT_LT(Steady::now() - asked, 1200ms);

  asked = Steady::now();
  line.Send(Frame(c::kGetCps));
  const auto first = line.Read(4, 600ms);
  EXPECT_GE(first.size(), 1u);
  EXPECT_LE(first.size(), 3u);
  const auto rest = line.Read(4 - first.size(), 3000ms);
  EXPECT_EQ(first.size() + rest.size(), 4u);
  EXPECT_GE(Steady::now() - asked, 1200ms);
}

TEST(SimPtyLink, MadeReplacedAndRemoved) {
  testing::TempDir dir;
  FixedClock clock(LocalTime{2026, 3, 7, 9, 5, 4});
  CounterOptions options;
  options.model = FindCounterModel("ZQT-400");
  SimulatedCounter counter(options, clock);
  const auto link = dir / "ttyZQT";
  std::filesystem::create_symlink("/dev/pts/nonexistent", link);  // left by a crashed run
  std::string error;
  {
    auto transport = PtyTransport::Open(counter, &error, link);
    ASSERT_TRUE(transport) << error;
    EXPECT_EQ(std::filesystem::read_symlink(link), transport->device_path());
    ASSERT_TRUE(transport->Start(&error));
    Line line(link.string(), B115200);
    line.Send(Frame(c::kGetVer));
    EXPECT_EQ(line.Read(20).size(), 20u);
  }
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));

  // Never replaces a real file.
  testing::WriteAll(link, "keep me");
  EXPECT_FALSE(PtyTransport::Open(counter, &error, link));
  EXPECT_NE(error.find("not a symbolic link"), std::string::npos) << error;
  EXPECT_EQ(testing::ReadAll(link), "keep me");
}

#ifdef NORVANE_CLI_PATH
// norvane-cli simulate as its own process; the first line it prints is the device.
class SimulateProcess {
 public:
  explicit SimulateProcess(std::vector<std::string> args) {
    args.insert(args.begin(), NORVANE_CLI_PATH);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int out[2];
    if (pipe(out) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    if (posix_spawn(&pid_, NORVANE_CLI_PATH, &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    char ch;
    pollfd p{out[0], POLLIN, 0};
    while (pid_ > 0 && poll(&p, 1, 5000) > 0 && read(out[0], &ch, 1) == 1 && ch != '\n') device_ += ch;
    close(out[0]);
  }
  ~SimulateProcess() {
    if (pid_ > 0) Stop();
  }
  const std::string& device() const { return device_; }
  // SIGTERM, then the exit status.
  int Stop() {
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = -1;
  std::string device_;
};

TEST(SimulateCommand, ServesUntilTerminatedThenRemovesItsLink) {
  testing::TempDir dir;
  const std::string link = (dir / "counter").string();
  SimulateProcess simulator(
      {"--model", "ZQT-120", "simulate", "--link", link, "--seed", "3", "--serial", "00ff1022a0b1c2d3"});
  EXPECT_EQ(simulator.device().rfind("/dev/pts/", 0), 0u) << simulator.device();
  EXPECT_EQ(std::filesystem::read_symlink(link).string(), simulator.device());
  {
    Line line(link, B115200);
    line.Send(Frame(c::kGetVer));
    const auto version = line.Read(20);
    EXPECT_EQ(std::string(version.begin(), version.end()).c_str(), std::string("ZQT-120Re 4.09"));
    line.Send(Frame(c::kGetSerial));
    EXPECT_EQ(line.Read(8), (std::vector<uint8_t>{0x00, 0xFF, 0x10, 0x22, 0xA0, 0xB1, 0xC2, 0xD3}));
  }
  EXPECT_EQ(simulator.Stop(), 0);
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
}

TEST(SimulateCommand, ReplaysADumpAndAConfigurationFile) {
  testing::TempDir dir;
  // A family-4 dump: 1 MiB of history, then the 256-byte configuration block it was saved with.
  std::string dump(0x100000 + 256, '\xFF');
  for (size_t i = 0; i < 5000; ++i) dump[i] = static_cast<char>(i * 7);
  for (size_t i = 0; i < 256; ++i) dump[0x100000 + i] = static_cast<char>(255 - i);
  testing::WriteAll(dir / "dump.bin", dump);
  {
    SimulateProcess simulator({"--model", "ZQT-120", "simulate", "--history", (dir / "dump.bin").string()});
    Line line(simulator.device(), B115200);
    line.Send(Frame(c::kSpir, {0, 0x10, 0, 0, 16}));
    EXPECT_EQ(line.Read(16), std::vector<uint8_t>(dump.begin() + 0x1000, dump.begin() + 0x1010));
    line.Send(Frame(c::kReadEeprom));
    EXPECT_EQ(line.Read(256), std::vector<uint8_t>(dump.begin() + 0x100000, dump.end()));
  }
  // A configuration saved as text: signed decimals, each with a comma.
  testing::WriteAll(dir / "cfg.csv", "0,1,-1,60,\r\n");
  SimulateProcess simulator({"simulate", "--config", (dir / "cfg.csv").string()});
  Line line(simulator.device(), B115200);
  line.Send(Frame(c::kGetCfg));
  const auto block = line.Read(512);
  ASSERT_EQ(block.size(), 512u);
  EXPECT_EQ(std::vector<uint8_t>(block.begin(), block.begin() + 5), (std::vector<uint8_t>{0, 1, 0xFF, 60, 30}));
}
TEST_F(SimPty, APortInUseNamesItsHolderAndIsLeftAloneAlsoByASecondRecord) {
  Start({});
  const std::string port = transport_->device_path();
  testing::TempDir dir;
  testing::ChildCli record({"--settings", (dir / "settings.reg").string(), "--model", "ZQT-400", "--store",
                            (dir / "store.sqlite").string(), "--port", port, "record", "--echo"});
  ASSERT_TRUE(record.started());
  ASSERT_FALSE(record.ReadLine(30s).empty()) << "record never took a second";

  PortCatalogue ports;
  testing::RecordingNotifier notifier;
  CSerialLink link(ports, notifier);
  EXPECT_FALSE(link.OpenPath(port, 115200));
  EXPECT_EQ(link.last_failure().reason,
            "The port " + port + " is in use by process " + std::to_string(record.pid()) + " (norvane-cli record).");
  EXPECT_EQ(link.last_failure().error_number, EBUSY);
  const PortAccess access = CheckPortAccess(port);
  EXPECT_EQ(access.state, PortAccessState::kBusy);
  EXPECT_EQ(access.holder.pid, record.pid());
  // A second record on the port is turned away at once, not left searching for the counter.
  testing::ChildCli second({"--settings", (dir / "settings.reg").string(), "--model", "ZQT-400", "--store",
                            (dir / "store.sqlite").string(), "--port", port, "record", "--seconds", "3"});
  EXPECT_EQ(second.Wait(20s), 1);
  EXPECT_NE(second.said.find("is in use by process " + std::to_string(record.pid())), std::string::npos) << second.said;
  // The holder reads on as before.
  EXPECT_FALSE(record.ReadLine(30s).empty());

  record.Signal(SIGTERM);
  record.Wait();
  EXPECT_TRUE(link.OpenPath(port, 115200)) << link.last_failure().reason;
}
#endif

}  // namespace
}  // namespace norvane::sim
