#include "core/serial/port_access.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <sstream>
#include <system_error>

#include "core/common/text_format.h"
#include "core/i18n/language_dictionary.h"
#include "core/i18n/window_texts.h"
#include "core/serial/port_catalogue.h"

namespace norvane {
namespace {

namespace fs = std::filesystem;

constexpr UsbSerialBridge kBridges[] = {
    {0x10c4, 0xea60, "CP210x"},
    {0x1a86, 0x7523, "CH340"},
    {0x0403, 0x6001, "FTDI FT232"},
    {0x067b, 0x2303, "PL2303"},
};

// Where udev reads rules from, the administrator's folder first: a file there hides the packaged
// one of the same name.
constexpr std::string_view kRuleDirs[] = {"etc/udev/rules.d", "run/udev/rules.d", "usr/lib/udev/rules.d",
                                          "lib/udev/rules.d"};
constexpr std::string_view kBrailleProgram[] = {"usr/bin/brltty", "bin/brltty"};

// The file name udev's rule for our own bridges is installed under (see packaging/udev).
constexpr std::string_view kOwnRules = "60-norvane-serial.rules";

std::string GroupName(gid_t gid) {
  // getgrgid_r: the viewer's worker may look groups up at the same time.
  char scratch[8192];
  struct group entry {};
  struct group* found = nullptr;
  if (::getgrgid_r(gid, &entry, scratch, sizeof scratch, &found) == 0 && found && found->gr_name)
    return found->gr_name;
  return std::to_string(gid);
}

bool ProcessHoldsGroup(gid_t gid) {
  if (::getegid() == gid) return true;
  const int count = ::getgroups(0, nullptr);
  if (count <= 0) return false;
  std::vector<gid_t> groups(static_cast<size_t>(count));
  const int got = ::getgroups(count, groups.data());
  return got > 0 && std::find(groups.begin(), groups.begin() + got, gid) != groups.begin() + got;
}

// Membership as the group database has it now, which a new login would give the process.
bool UserListedInGroup(gid_t gid) {
  char scratch[8192];
  struct passwd entry {};
  struct passwd* found = nullptr;
  if (::getpwuid_r(::geteuid(), &entry, scratch, sizeof scratch, &found) != 0 || !found) return false;
  int count = 64;
  std::vector<gid_t> groups(static_cast<size_t>(count));
  if (::getgrouplist(found->pw_name, found->pw_gid, groups.data(), &count) < 0) {
    groups.resize(static_cast<size_t>(count));
    if (::getgrouplist(found->pw_name, found->pw_gid, groups.data(), &count) < 0) return false;
  }
  groups.resize(static_cast<size_t>(count));
  return std::find(groups.begin(), groups.end(), gid) != groups.end();
}

std::string ReadText(const fs::path& file) {
  std::ifstream in(file);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string Hex4(uint16_t value) { return Format("%04x", value); }

// A rules line claims a bridge when it matches its USB ids, in either of the forms udev rules
// use: ENV{PRODUCT}=="vvvv/pppp/*" or ATTRS{idVendor}=="vvvv", ATTRS{idProduct}=="pppp".
bool LineClaims(std::string line, const UsbSerialBridge& bridge) {
  std::transform(line.begin(), line.end(), line.begin(), [](unsigned char c) { return std::tolower(c); });
  const std::string vendor = Hex4(bridge.vendor);
  const std::string product = Hex4(bridge.product);
  if (line.find("\"" + vendor + "/" + product + "/") != std::string::npos) return true;
  return line.find("idvendor}==\"" + vendor + "\"") != std::string::npos &&
         line.find("idproduct}==\"" + product + "\"") != std::string::npos;
}

std::vector<std::string> ClaimedChips(const std::string& rules) {
  std::vector<std::string> chips;
  std::istringstream lines(rules);
  std::string line;
  while (std::getline(lines, line)) {
    const size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] == '#') continue;
    for (const UsbSerialBridge& bridge : kBridges) {
      const std::string chip(bridge.chip);
      if (LineClaims(line, bridge) && std::find(chips.begin(), chips.end(), chip) == chips.end())
        chips.push_back(chip);
    }
  }
  return chips;
}

std::string FirstWord(const fs::path& file) {
  std::string word;
  std::ifstream(file) >> word;
  return word;
}

bool HasTty(const fs::path& usb_device) {
  std::error_code ec;
  // The tty sits one or two levels below the interface: 1-2:1.0/ttyUSB0 or 1-2:1.0/tty/ttyACM0.
  for (fs::recursive_directory_iterator it(usb_device, ec), end; !ec && it != end; it.increment(ec)) {
    if (it.depth() > 2) {
      it.disable_recursion_pending();
      continue;
    }
    const std::string name = it->path().filename().string();
    if (name.starts_with("tty") && name != "tty") return true;
  }
  return false;
}

bool IsUsbPort(const std::string& path) {
  const std::string name = fs::path(path).filename().string();
  return name.starts_with("ttyUSB") || name.starts_with("ttyACM");
}

std::string JoinChips(const std::vector<std::string>& chips) {
  std::string text;
  for (size_t i = 0; i < chips.size(); ++i) text += (i == 0 ? "" : i + 1 == chips.size() ? " and " : ", ") + chips[i];
  return text;
}

// Each paragraph is one of the catalogue's texts, so the window can show the advice in its language.
std::string PermissionAdvice(const CheckedPort& port) {
  const PortAccess& a = port.access;
  std::string text = EnglishText(kTextAdvicePermissionDenied, {port.path}) + "\n\n";
  const std::string rule = EnglishText(kTextAdviceUdevRule, {std::string(kOwnRules)});
  if (a.group.empty() || a.group == "root" || !a.group_grants_access) {
    text += (a.group.empty() ? EnglishText(kTextAdviceGroupMayNot, {rule})
                             : EnglishText(kTextAdviceNamedGroupMayNot, {a.group, rule})) +
            "\n\n" + EnglishText(kTextAdviceJoinDialout);
  } else if (a.in_group_now) {
    text += EnglishText(kTextAdviceInGroupRefused, {a.group, rule});
  } else if (a.member_of_group) {
    text += EnglishText(kTextAdviceJoinedLately, {a.group});
  } else {
    text += EnglishText(kTextAdviceNotInGroup, {a.group}) + "\n\n    sudo usermod -aG " + a.group + " $USER\n\n" +
            EnglishText(kTextAdviceLogOutAndIn) + "\n\n" + rule;
  }
  return text;
}

std::string BrailleAdvice(const SerialSystemFacts& facts) {
  const std::string rules = facts.braille_rules.string();
  const std::string claimed = JoinChips(facts.braille_claimed_chips);
  if (facts.bridges_without_tty.empty()) return EnglishText(kTextAdviceBraille, {rules, claimed});
  return EnglishText(kTextAdviceBrailleHolding, {rules, claimed, JoinChips(facts.bridges_without_tty)});
}

}  // namespace

PortAccess CheckPortAccess(const std::string& path) {
  PortAccess access;
  if (std::optional<PortHolder> holder = FindPortHolder(path)) {
    access.state = PortAccessState::kBusy;
    access.error_number = EBUSY;
    access.holder = std::move(*holder);
    return access;
  }
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd >= 0) {
    ::close(fd);
    return access;
  }
  access.error_number = errno;
  switch (access.error_number) {
    case EACCES:
    case EPERM: {
      access.state = PortAccessState::kNoPermission;
      struct stat info {};
      if (::stat(path.c_str(), &info) == 0) {
        access.group = GroupName(info.st_gid);
        access.group_grants_access = (info.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
        access.in_group_now = ProcessHoldsGroup(info.st_gid);
        access.member_of_group = access.in_group_now || UserListedInGroup(info.st_gid);
      }
      break;
    }
    case EBUSY:
      access.state = PortAccessState::kBusy;
      // Locked between the look above and the open, or held with TIOCEXCL alone.
      access.holder = FindPortHolder(path).value_or(PortHolder{});
      break;
    case ENOENT:
    case ENODEV:
    case ENXIO: access.state = PortAccessState::kMissing; break;
    default: access.state = PortAccessState::kOtherError; break;
  }
  return access;
}

std::string DescribePortAccess(const PortAccess& access) {
  switch (access.state) {
    case PortAccessState::kOpenable: return "can be opened";
    case PortAccessState::kNoPermission: {
      if (access.group.empty()) return "permission denied";
      std::string text = "permission denied (group '" + access.group + "'";
      if (!access.group_grants_access) text += ", which may not read and write it";
      else if (access.in_group_now) text += ", which you are in";
      else if (access.member_of_group) text += ", joined since this login: log out and in again";
      else text += ", you are not in it";
      return text + ")";
    }
    case PortAccessState::kBusy: return InUsePhrase(access.holder);
    case PortAccessState::kMissing: return "missing (unplugged?)";
    case PortAccessState::kOtherError: break;
  }
  return std::generic_category().message(access.error_number);
}

std::string InUsePhrase(const PortHolder& holder) {
  if (holder.pid <= 0) return "in use by another program";
  std::string text = "in use by process " + std::to_string(holder.pid);
  if (!holder.command.empty()) text += " (" + holder.command + ")";
  return text;
}

std::string_view PortAccessKeyword(PortAccessState state) {
  switch (state) {
    case PortAccessState::kOpenable: return "ok";
    case PortAccessState::kNoPermission: return "denied";
    case PortAccessState::kBusy: return "busy";
    case PortAccessState::kMissing: return "missing";
    case PortAccessState::kOtherError: break;
  }
  return "error";
}

std::span<const UsbSerialBridge> CommonUsbSerialBridges() { return kBridges; }

SerialSystemFacts InspectSerialSystem(const fs::path& root, const fs::path& sys_root) {
  SerialSystemFacts facts;
  std::error_code ec;
  const bool braille_installed = std::any_of(std::begin(kBrailleProgram), std::end(kBrailleProgram),
                                             [&](std::string_view p) { return fs::exists(root / p, ec); });
  if (braille_installed) {
    std::vector<std::string> seen;
    for (std::string_view dir : kRuleDirs) {
      for (fs::directory_iterator it(root / dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.find("brltty") == std::string::npos || !name.ends_with(".rules")) continue;
        if (std::find(seen.begin(), seen.end(), name) != seen.end()) continue;  // hidden by an earlier folder
        seen.push_back(name);
        std::vector<std::string> chips = ClaimedChips(ReadText(it->path()));
        if (!chips.empty() && facts.braille_claimed_chips.empty()) {
          facts.braille_claimed_chips = std::move(chips);
          facts.braille_rules = fs::path("/") / dir / name;
        }
      }
      ec.clear();
    }
  }
  for (fs::directory_iterator it(sys_root / "bus/usb/devices", ec), end; !ec && it != end; it.increment(ec)) {
    const std::string vendor = FirstWord(it->path() / "idVendor");
    const std::string product = FirstWord(it->path() / "idProduct");
    for (const UsbSerialBridge& bridge : kBridges) {
      if (vendor == Hex4(bridge.vendor) && product == Hex4(bridge.product) && !HasTty(it->path()))
        facts.bridges_without_tty.emplace_back(bridge.chip);
    }
  }
  return facts;
}

std::optional<std::string> PortAccessAdvice(const std::vector<CheckedPort>& ports, const SerialSystemFacts& facts) {
  std::vector<const CheckedPort*> candidates;
  for (const CheckedPort& p : ports)
    if (IsUsbPort(p.path)) candidates.push_back(&p);
  if (candidates.empty())
    for (const CheckedPort& p : ports) candidates.push_back(&p);

  const bool one_opens = std::any_of(candidates.begin(), candidates.end(), [](const CheckedPort* p) {
    return p->access.state == PortAccessState::kOpenable;
  });
  const auto denied = std::find_if(candidates.begin(), candidates.end(), [](const CheckedPort* p) {
    return p->access.state == PortAccessState::kNoPermission;
  });
  const bool permission_problem = !one_opens && denied != candidates.end();
  const bool braille_problem = !facts.braille_claimed_chips.empty();
  // The braille service on its own is worth a word only when it has evidently taken a bridge:
  // many systems have it installed and work, since their counter's chip is not among its claims.
  const bool braille_holds_bridge = braille_problem && !facts.bridges_without_tty.empty();

  if (!permission_problem && !braille_holds_bridge) return std::nullopt;
  std::string text;
  if (permission_problem) text = PermissionAdvice(**denied);
  if (braille_problem) text += (text.empty() ? "" : "\n\n") + BrailleAdvice(facts);
  return text;
}

std::optional<std::string> MachinePortAccessAdvice(const std::vector<std::string>& extra_paths) {
  std::vector<CheckedPort> checked;
  const PortCatalogue catalogue = PortCatalogue::DiscoverMachine(extra_paths);
  for (const PortEntry& p : catalogue.ports())
    checked.push_back({p.path, CheckPortAccess(p.path)});
  return PortAccessAdvice(checked, InspectSerialSystem());
}

}  // namespace norvane
