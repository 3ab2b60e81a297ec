#include "core/platform/memory_folder.h"

#include <linux/magic.h>
#include <sys/statfs.h>
#include <sys/sysinfo.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <string>

namespace norvane {

std::optional<std::filesystem::path> MemoryJournalFolderFrom(const EnvironmentLookup& lookup) {
  for (const char* name : {"RUNTIME_DIRECTORY", "XDG_RUNTIME_DIR"}) {
    const std::optional<std::string> folder = lookup(name);
    if (!folder || folder->empty()) continue;
    // systemd gives a colon-separated list when a service names several; the first is ours.
    const std::filesystem::path first = folder->substr(0, folder->find(':'));
    if (IsMemoryFolder(first)) return first;
    return std::nullopt;
  }
  if (IsMemoryFolder("/dev/shm")) return std::filesystem::path("/dev/shm");
  return std::nullopt;
}

std::optional<std::filesystem::path> MemoryJournalFolder() {
  return MemoryJournalFolderFrom([](const char* name) -> std::optional<std::string> {
    const char* value = std::getenv(name);
    if (!value) return std::nullopt;
    return std::string(value);
  });
}

bool IsMemoryFolder(const std::filesystem::path& folder) {
  struct statfs info {};
  if (::statfs(folder.c_str(), &info) != 0) return false;
  const auto type = static_cast<unsigned long>(info.f_type);
  if (type != TMPFS_MAGIC && type != RAMFS_MAGIC) return false;
  return ::access(folder.c_str(), W_OK | X_OK) == 0;
}

std::optional<int64_t> MachineStartTime() {
  struct sysinfo info {};
  if (::sysinfo(&info) != 0) return std::nullopt;
  return static_cast<int64_t>(std::time(nullptr)) - static_cast<int64_t>(info.uptime);
}

}  // namespace norvane
