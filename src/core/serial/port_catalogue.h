// The numbered ports: the machine's serial devices in order, plus paths the user names.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/platform/settings_location.h"

namespace norvane {

struct PortEntry {
  int number = 0;     // "COM%d" in messages; 1 is the first port
  std::string path;   // device node, e.g. /dev/ttyUSB0 or a pseudo-terminal
  std::string description;
};

// Port n is entry n of the list (1-based), so the messages that name "COM%d" keep working and a
// simulator's pseudo-terminal can be picked like any port.
class PortCatalogue {
 public:
  PortCatalogue() = default;

  // The machine's /dev/ttyUSB*, /dev/ttyACM* and /dev/ttyS* in natural order (ttyS2 before
  // ttyS10), then `extra_paths`, then the colon-separated paths of NORVANE_PORTS. `device_dir`
  // and `sys_dir` are parameters so tests can stand in a folder of their own.
  static PortCatalogue Discover(const std::vector<std::string>& extra_paths, const EnvironmentLookup& environment,
                                const std::filesystem::path& device_dir = "/dev",
                                const std::filesystem::path& sys_dir = "/sys/class/tty");

  // Discover over this machine's /dev and the process environment.
  static PortCatalogue DiscoverMachine(const std::vector<std::string>& extra_paths);

  // Adds a path unless it is listed already; returns its number either way.
  int Add(std::string path, std::string description);

  const std::vector<PortEntry>& ports() const { return ports_; }
  std::optional<std::string> PathOf(int number) const;
  // Number of a listed path (also when named through a symlink), or 0.
  int NumberOf(std::string_view path) const;

  // "--port" accepts a number from the list or a device path; a path not yet listed is added.
  // Empty when the text is neither.
  std::optional<int> Resolve(std::string_view number_or_path);

 private:
  std::vector<PortEntry> ports_;
};

}  // namespace norvane
