// Which file a path names right now, to notice a file deleted or replaced under an open handle.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

namespace norvane {

struct FileIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;
  bool operator==(const FileIdentity&) const = default;
};

// The identity of the file `path` names (links followed); empty when there is none.
std::optional<FileIdentity> IdentityOf(const std::filesystem::path& path);

}  // namespace norvane
