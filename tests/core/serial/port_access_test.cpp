#include "core/serial/port_access.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/common/temp_dir.h"
#include "tests/core/serial/pty_pair.h"

namespace norvane {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;
using testing::WriteAll;

constexpr gid_t kNobody = 65534;

bool HasText(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Permission checks mean nothing to root, who may open anything: the check runs in a child that
// has become the unprivileged user 'nobody', holding `groups` as its supplementary groups.
std::optional<PortAccess> CheckAsNobody(const std::string& path, std::vector<gid_t> groups = {}) {
  int pipe_ends[2];
  if (::pipe(pipe_ends) != 0) return std::nullopt;
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(pipe_ends[0]);
    if (::setgroups(groups.size(), groups.data()) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
      ::_exit(3);
    const PortAccess a = CheckPortAccess(path);
    const std::string line = std::to_string(static_cast<int>(a.state)) + " " + std::to_string(a.error_number) + " " +
                             std::to_string(a.group_grants_access) + std::to_string(a.in_group_now) +
                             std::to_string(a.member_of_group) + " " + a.group;
    const bool written = ::write(pipe_ends[1], line.data(), line.size()) == static_cast<ssize_t>(line.size());
    ::_exit(written ? 0 : 4);
  }
  ::close(pipe_ends[1]);
  std::string line;
  char chunk[256];
  for (ssize_t n; (n = ::read(pipe_ends[0], chunk, sizeof chunk)) > 0;) line.append(chunk, static_cast<size_t>(n));
  ::close(pipe_ends[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
  PortAccess a;
  int state = 0;
  char flags[4] = {};
  char group[128] = {};
  if (std::sscanf(line.c_str(), "%d %d %3s %127s", &state, &a.error_number, flags, group) < 3) return std::nullopt;
  a.state = static_cast<PortAccessState>(state);
  a.group_grants_access = flags[0] == '1';
  a.in_group_now = flags[1] == '1';
  a.member_of_group = flags[2] == '1';
  a.group = group;
  return a;
}

class PortAccessAsOtherUserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to become another user";
    const struct group* dialout = ::getgrnam("dialout");
    if (!dialout) GTEST_SKIP() << "no dialout group here";
    dialout_ = dialout->gr_gid;
    fs::permissions(dir_.path(), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
  }
  // A stand-in for a device node: open() judges its owner and mode exactly the same way.
  std::string Node(const char* name, mode_t mode) {
    const std::string path = (dir_ / name).string();
    WriteAll(path, "");
    if (::chown(path.c_str(), 0, dialout_) != 0 || ::chmod(path.c_str(), mode) != 0) ADD_FAILURE() << path;
    return path;
  }

  TempDir dir_;
  gid_t dialout_ = 0;
};

TEST_F(PortAccessAsOtherUserTest, PermissionProblemsNameTheGroupAndTheUsersPlaceInIt) {
  const std::string shared = Node("ttyUSB0", 0660);
  const std::string group_read_only = Node("ttyUSB1", 0640);

  const auto outsider = CheckAsNobody(shared);
  ASSERT_TRUE(outsider);
  EXPECT_EQ(outsider->state, PortAccessState::kNoPermission);
  EXPECT_EQ(outsider->error_number, EACCES);
  EXPECT_EQ(outsider->group, "dialout");
  EXPECT_TRUE(outsider->group_grants_access);
  EXPECT_FALSE(outsider->in_group_now);
  EXPECT_FALSE(outsider->member_of_group);
  EXPECT_EQ(DescribePortAccess(*outsider), "permission denied (group 'dialout', you are not in it)");
  EXPECT_EQ(PortAccessKeyword(outsider->state), "denied");

  const auto member = CheckAsNobody(shared, {dialout_});
  ASSERT_TRUE(member);
  EXPECT_EQ(member->state, PortAccessState::kOpenable);

  // Being in the group does not help when the group itself may not write.
  const auto member_read_only = CheckAsNobody(group_read_only, {dialout_});
  ASSERT_TRUE(member_read_only);
  EXPECT_EQ(member_read_only->state, PortAccessState::kNoPermission);
  EXPECT_TRUE(member_read_only->in_group_now);
  EXPECT_TRUE(member_read_only->member_of_group);
  EXPECT_FALSE(member_read_only->group_grants_access);
  EXPECT_TRUE(HasText(DescribePortAccess(*member_read_only), "may not read and write")) << DescribePortAccess(*member_read_only);
}

TEST_F(PortAccessAsOtherUserTest, AnExclusivelyHeldTerminalIsBusy) {
  testing::PtyPair line;
  ASSERT_TRUE(line.ok());
  ASSERT_EQ(::chmod(line.path().c_str(), 0666), 0);
  const int holder = ::open(line.path().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(::ioctl(holder, TIOCEXCL), 0);  // as the serial link holds its port

  const auto other = CheckAsNobody(line.path());
  ::close(holder);
  ASSERT_TRUE(other);
  EXPECT_EQ(other->state, PortAccessState::kBusy);
  EXPECT_EQ(PortAccessKeyword(other->state), "busy");
  EXPECT_TRUE(HasText(DescribePortAccess(*other), "another program")) << DescribePortAccess(*other);
}

TEST(PortAccessTest, ATerminalOpensAndAVanishedDeviceIsMissing) {
  testing::PtyPair line;
  ASSERT_TRUE(line.ok());
  EXPECT_EQ(CheckPortAccess(line.path()).state, PortAccessState::kOpenable);

  // The check closes what it opened: the line can still be taken exclusively afterwards.
  const int fd = ::open(line.path().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(fd, 0);
  ::close(fd);

  const PortAccess gone = CheckPortAccess("/dev/ttyUSB-norvane-test-absent");
  EXPECT_EQ(gone.state, PortAccessState::kMissing);
  EXPECT_EQ(gone.error_number, ENOENT);
  EXPECT_EQ(PortAccessKeyword(gone.state), "missing");

  TempDir dir;
  WriteAll(dir / "plain", "");
  fs::create_directory(dir / "folder");
  const PortAccess folder = CheckPortAccess((dir / "folder").string());
  EXPECT_EQ(folder.state, PortAccessState::kOtherError);
  EXPECT_EQ(DescribePortAccess(folder), std::generic_category().message(EISDIR));
}

// A file system with brltty's program and rules, and a sysfs with USB devices, under a folder.
class SerialSystemTest : public ::testing::Test {
 protected:
  void Rules(const std::string& dir, const std::string& text) {
    fs::create_directories(root_ / dir);
    WriteAll(root_ / dir / "85-brltty.rules", text);
  }
  void Program() {
    fs::create_directories(root_ / "usr/bin");
    WriteAll(root_ / "usr/bin/brltty", "");
  }
  // A USB device as sysfs shows it: a link in bus/usb/devices to its folder under devices.
  void UsbDevice(const std::string& name, const std::string& vendor, const std::string& product,
                 const std::string& tty = "") {
    const fs::path real = sys_ / "devices/pci0000:00/usb1" / name;
    fs::create_directories(real);
    WriteAll(real / "idVendor", vendor + "\n");
    WriteAll(real / "idProduct", product + "\n");
    if (!tty.empty()) fs::create_directories(real / (name + ":1.0") / tty);
    fs::create_directories(sys_ / "bus/usb/devices");
    fs::create_directory_symlink(real, sys_ / "bus/usb/devices" / name);
  }

  TempDir root_;
  TempDir sys_;
};

constexpr const char* kBrailleRules =
    "# Device: 10C4:EA60\n"
    "# ENV{PRODUCT}==\"10c4/ea60/*\", ENV{BRLTTY_BRAILLE_DRIVER}=\"sk\", GOTO=\"brltty_usb_run\"\n"
    "ENV{PRODUCT}==\"1a86/7523/*\", ENV{BRLTTY_BRAILLE_DRIVER}=\"bm\", GOTO=\"brltty_usb_run\"\n"
    "SUBSYSTEM==\"usb\", ATTRS{idVendor}==\"067B\", ATTRS{idProduct}==\"2303\", GOTO=\"brltty_usb_run\"\n"
    "ENV{PRODUCT}==\"0403/6010/*\", GOTO=\"brltty_usb_run\"\n";

TEST_F(SerialSystemTest, FindsTheBridgesBrailleRulesClaimAndThoseLeftWithoutATty) {
  Program();
  Rules("lib/udev/rules.d", kBrailleRules);
  UsbDevice("1-2", "1a86", "7523");
  UsbDevice("1-3", "0403", "6001", "ttyUSB0");
  UsbDevice("1-4", "10c4", "ea60", "tty/ttyACM0");
  UsbDevice("1-5", "046d", "c52b");  // a mouse: not a bridge

  const SerialSystemFacts facts = InspectSerialSystem(root_.path(), sys_.path());
  // Commented lines and other FTDI chips claim nothing; both rule forms are understood.
  EXPECT_EQ(facts.braille_claimed_chips, (std::vector<std::string>{"CH340", "PL2303"}));
  EXPECT_EQ(facts.braille_rules, "/lib/udev/rules.d/85-brltty.rules");
  EXPECT_EQ(facts.bridges_without_tty, std::vector<std::string>{"CH340"});
}

TEST_F(SerialSystemTest, MaskedRulesOrNoProgramMeanNoBrailleService) {
  Rules("usr/lib/udev/rules.d", kBrailleRules);
  EXPECT_TRUE(InspectSerialSystem(root_.path(), sys_.path()).braille_claimed_chips.empty()) << "rules alone";

  Program();
  EXPECT_FALSE(InspectSerialSystem(root_.path(), sys_.path()).braille_claimed_chips.empty());

  // An empty file of the same name in /etc hides the packaged rules, as udev reads them.
  Rules("etc/udev/rules.d", "");
  EXPECT_TRUE(InspectSerialSystem(root_.path(), sys_.path()).braille_claimed_chips.empty()) << "masked";
}

PortAccess Denied(const std::string& group, bool grants, bool now, bool member) {
  PortAccess a;
  a.state = PortAccessState::kNoPermission;
  a.error_number = EACCES;
  a.group = group;
  a.group_grants_access = grants;
  a.in_group_now = now;
  a.member_of_group = member;
  return a;
}

PortAccess InState(PortAccessState state) {
  PortAccess a;
  a.state = state;
  return a;
}

TEST(PortAccessAdviceTest, PermissionAdviceComesOnlyWhenNoCounterPortOpens) {
  const SerialSystemFacts nothing;
  const PortAccess outsider = Denied("dialout", true, false, false);

  // An openable built-in port does not help when the USB port of the counter is refused.
  auto advice = PortAccessAdvice({{"/dev/ttyS0", {}}, {"/dev/ttyUSB0", outsider}}, nothing);
  ASSERT_TRUE(advice);
  EXPECT_TRUE(HasText(*advice, "/dev/ttyUSB0")) << *advice;
  EXPECT_TRUE(HasText(*advice, "sudo usermod -aG dialout $USER")) << *advice;
  EXPECT_TRUE(HasText(*advice, "log out and in again")) << *advice;
  EXPECT_TRUE(HasText(*advice, "60-norvane-serial.rules")) << *advice;
  EXPECT_FALSE(HasText(*advice, "brltty")) << *advice;

  EXPECT_FALSE(PortAccessAdvice({{"/dev/ttyUSB0", outsider}, {"/dev/ttyACM0", {}}}, nothing)) << "one port opens";
  EXPECT_FALSE(PortAccessAdvice({{"/dev/ttyUSB0", InState(PortAccessState::kBusy)}}, nothing));
  EXPECT_FALSE(PortAccessAdvice({}, nothing));

  // Without USB ports, every port counts.
  EXPECT_TRUE(PortAccessAdvice({{"/dev/ttyS0", outsider}, {"/dev/ttyS1", InState(PortAccessState::kOtherError)}},
                               nothing));
  EXPECT_FALSE(PortAccessAdvice({{"/dev/ttyS0", outsider}, {"/dev/pts/3", {}}}, nothing));
}

TEST(PortAccessAdviceTest, AdviceFitsTheUsersPlaceInTheGroup) {
  const SerialSystemFacts nothing;
  const auto joined_lately = PortAccessAdvice({{"/dev/ttyUSB0", Denied("uucp", true, false, true)}}, nothing);
  ASSERT_TRUE(joined_lately);
  EXPECT_TRUE(HasText(*joined_lately, "log out and in again")) << *joined_lately;
  EXPECT_FALSE(HasText(*joined_lately, "usermod")) << *joined_lately;

  const auto other_group = PortAccessAdvice({{"/dev/ttyUSB0", Denied("uucp", true, false, false)}}, nothing);
  ASSERT_TRUE(other_group);
  EXPECT_TRUE(HasText(*other_group, "sudo usermod -aG uucp $USER")) << *other_group;

  // A device only root may use needs the udev rule before any group helps.
  const auto root_only = PortAccessAdvice({{"/dev/ttyUSB0", Denied("root", false, false, false)}}, nothing);
  ASSERT_TRUE(root_only);
  EXPECT_TRUE(HasText(*root_only, "udev rule")) << *root_only;
  EXPECT_TRUE(HasText(*root_only, "unplug")) << *root_only;
}

TEST(PortAccessAdviceTest, BrailleServiceIsNamedWhenItHoldsABridgeOrBesidePermissionAdvice) {
  SerialSystemFacts braille;
  braille.braille_claimed_chips = {"CH340", "CP210x"};
  braille.braille_rules = "/lib/udev/rules.d/85-brltty.rules";

  // Installed but holding nothing that is plugged in: no reason to speak up.
  EXPECT_FALSE(PortAccessAdvice({{"/dev/ttyS0", InState(PortAccessState::kOtherError)}}, braille));

  braille.bridges_without_tty = {"CH340"};
  const auto held = PortAccessAdvice({}, braille);
  ASSERT_TRUE(held);
  EXPECT_TRUE(HasText(*held, "brltty")) << *held;
  EXPECT_TRUE(HasText(*held, "CH340 and CP210x")) << *held;
  EXPECT_TRUE(HasText(*held, "without a port: CH340")) << *held;
  EXPECT_TRUE(HasText(*held, "sudo apt remove brltty")) << *held;
  EXPECT_FALSE(HasText(*held, "permission")) << *held;

  braille.bridges_without_tty.clear();
  const auto both = PortAccessAdvice({{"/dev/ttyUSB0", Denied("dialout", true, false, false)}}, braille);
  ASSERT_TRUE(both);
  EXPECT_TRUE(HasText(*both, "permission denied")) << *both;
  EXPECT_TRUE(HasText(*both, "brltty")) << *both;
}

}  // namespace
}  // namespace norvane
