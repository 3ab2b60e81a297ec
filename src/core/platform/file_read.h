// Reading files whole or in part, with the system's reason when that fails.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace norvane {

struct FilePrefix {
  std::vector<uint8_t> bytes;  // the first min(file size, limit) bytes
  uint64_t file_size = 0;
};

// Reads at most `limit` bytes from the start of a regular file. Empty with `*error` set when the
// file cannot be opened or read, or is something else (a folder, a FIFO, a device).
std::optional<FilePrefix> ReadFilePrefix(const std::filesystem::path& path, uint64_t limit, std::string* error);

enum class ReadFailure { kNone, kMissing, kRefused };

// Reads a whole regular file of at most `max_size` bytes. A FIFO, a device or a larger file is
// refused without waiting on it or reading it; `*failure` tells a missing file from the rest.
std::optional<std::string> ReadRegularFile(const std::filesystem::path& path, uint64_t max_size, std::string* error,
                                           ReadFailure* failure = nullptr);

// ReadRegularFile for a file in a folder anyone may write to (/dev/shm): a link there is not
// followed, and a file not owned by the owner of `trusted` is refused, so no other user can plant it.
std::optional<std::string> ReadFileOwnedLike(const std::filesystem::path& path, const std::filesystem::path& trusted,
                                             uint64_t max_size, std::string* error, ReadFailure* failure = nullptr);

}  // namespace norvane
