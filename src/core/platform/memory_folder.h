// Folders in memory: a file there outlives a kill of the process that wrote it, not a restart of the machine.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

#include "core/platform/settings_location.h"

namespace norvane {

// Where a writer of the store keeps its journal of live seconds: $RUNTIME_DIRECTORY (systemd's
// RuntimeDirectory= of a service), else $XDG_RUNTIME_DIR, else /dev/shm; the first of these that
// is set, and only when it is a folder in memory this process may write to (IsMemoryFolder).
// Empty otherwise: the journal then stays beside the store.
std::optional<std::filesystem::path> MemoryJournalFolderFrom(const EnvironmentLookup& lookup);
std::optional<std::filesystem::path> MemoryJournalFolder();

// A folder on tmpfs or ramfs that this process may make files in.
bool IsMemoryFolder(const std::filesystem::path& folder);

// When the machine last started, in seconds since the epoch; empty when it cannot be told.
std::optional<int64_t> MachineStartTime();

}  // namespace norvane
