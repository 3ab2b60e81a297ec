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

// Reads at most `limit` bytes from the start of a file. Empty with `*error` set when the file
// cannot be opened or read.
std::optional<FilePrefix> ReadFilePrefix(const std::filesystem::path& path, uint64_t limit, std::string* error);

}  // namespace norvane
