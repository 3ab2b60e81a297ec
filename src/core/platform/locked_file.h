// A file one process appends to and holds locked while it lives; others may read it at any time.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace norvane {

class LockedFile {
 public:
  enum class Open { kCreateNew, kExisting };
  // Opens the file and takes its advisory lock without waiting. kCreateNew fails when the file
  // exists, and a link at the path is never followed; a new file gets `mode` (less the umask).
  // Null with *error empty when another process holds the lock (it is alive and owns the
  // file); null with the reason in *error when the file cannot be opened or locked.
  static std::unique_ptr<LockedFile> Take(const std::filesystem::path& path, Open how, std::string* error,
                                          unsigned mode = 0644);
  ~LockedFile();
  LockedFile(const LockedFile&) = delete;
  LockedFile& operator=(const LockedFile&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // Adds `text` at the end in one write, without syncing: a kill of this process cannot take it
  // back once this returns. A write cut short (a full disk) is undone, so the file never ends in
  // half a write of this process.
  bool Append(std::string_view text, std::string* error);
  bool Truncate(uint64_t size, std::string* error);
  bool ReadAll(std::string* text, std::string* error);
  // Removes the file while still holding it, so no other process takes it over half-read.
  void Remove();

 private:
  LockedFile(std::filesystem::path path, int fd) : path_(std::move(path)), fd_(fd) {}
  std::filesystem::path path_;
  int fd_;
  uint64_t size_ = 0;
};

}  // namespace norvane
