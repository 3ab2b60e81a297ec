// Whether this user can open a serial device, and if not, why and what to do about it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/platform/serial_device.h"

namespace norvane {

enum class PortAccessState { kOpenable, kNoPermission, kBusy, kMissing, kOtherError };

struct PortAccess {
  PortAccessState state = PortAccessState::kOpenable;
  int error_number = 0;           // errno of the failed open
  std::string group;              // the group owning the device, for a permission problem
  bool group_grants_access = false;  // that group may read and write the device
  bool in_group_now = false;         // this process holds the group
  bool member_of_group = false;      // the group database lists the user (perhaps since the last login)
  PortHolder holder;                 // who has a busy port, when that can be seen
};

// A port locked by another program (the serial link's lock) is busy, found without opening it so
// the holder's line is left alone. Otherwise opens `path` read/write for an instant
// (non-blocking, not as controlling terminal), as the link would, and closes it again.
PortAccess CheckPortAccess(const std::string& path);

// "in use by process 4711 (norvane-cli record)", or "in use by another program" when the holder
// cannot be seen.
std::string InUsePhrase(const PortHolder& holder);

// One short phrase for a listing: "permission denied (group 'dialout', you are not in it)".
std::string DescribePortAccess(const PortAccess& access);

// "ok", "denied", "busy", "missing" or "error", for --json listings.
std::string_view PortAccessKeyword(PortAccessState state);

// The USB-serial bridge chips counters (and most other serial gadgets) are built on.
struct UsbSerialBridge {
  uint16_t vendor;
  uint16_t product;
  std::string_view chip;
};
std::span<const UsbSerialBridge> CommonUsbSerialBridges();

// What the system around the ports tells: a braille-display service (brltty) whose udev rules
// take USB-serial bridges away from the serial driver, and bridges plugged in that have no tty.
struct SerialSystemFacts {
  std::vector<std::string> braille_claimed_chips;  // bridges brltty's rules claim; empty when none
  std::filesystem::path braille_rules;             // the rules file that claims them
  std::vector<std::string> bridges_without_tty;    // chips on the USB bus with no tty device
};

// Looks below `root` (the file system's root; a test folder in tests) for brltty's program and
// udev rules (a rules file in /etc masking the packaged one, as udev does, counts), and
// `sys_root` for the USB devices of the common bridges.
SerialSystemFacts InspectSerialSystem(const std::filesystem::path& root = "/",
                                      const std::filesystem::path& sys_root = "/sys");

struct CheckedPort {
  std::string path;
  PortAccess access;
};

// The advice the user needs before picking a port, or nothing when all is well: what to do when
// no USB port (or, with none, no port at all) can be opened and permission is why, and whether a
// braille-display service holds the bridges.
std::optional<std::string> PortAccessAdvice(const std::vector<CheckedPort>& ports, const SerialSystemFacts& facts);

// The same for this machine's ports and the paths the user named.
std::optional<std::string> MachinePortAccessAdvice(const std::vector<std::string>& extra_paths);

}  // namespace norvane
