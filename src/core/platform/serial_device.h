// What the system knows about a serial device node: who holds it, and the name it keeps across
// plugging in again.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace norvane {

struct PortHolder {
  int pid = 0;          // 0 when the holder is not visible from this process (another container)
  std::string command;  // "norvane-cli record"; empty when it cannot be read
};

// The process holding an advisory lock on the device node `path` leads to, from the kernel's
// table of locks; nothing when none is held. Looks without opening the device, so the holder's
// line is left as it is.
std::optional<PortHolder> FindPortHolder(const std::string& path);

// The program's base name and its first argument, unless that is an option: "norvane-cli
// record", "norvane-viewer". Empty when the process is gone or cannot be read.
std::string ProcessCommand(int pid);

// The link in `by_id` (udev's /dev/serial/by-id) that leads to the same device as `path`, named
// by the bridge's maker, model and serial number so it survives the device coming back under
// another ttyUSB number; empty when there is none. The first by name when there are several.
std::string StableDevicePath(const std::string& path,
                             const std::filesystem::path& by_id = "/dev/serial/by-id");

}  // namespace norvane
