#include "core/platform/file_read.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/common/text_format.h"
#include "core/platform/system_error.h"

namespace norvane {
namespace {

// Closes the descriptor when the read is done, whichever way it ends.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// Opens without blocking (a FIFO with no writer would otherwise hold the open for ever) and
// takes regular files only: a FIFO or a device never ends, /dev/zero would fill the memory.
// With `owner`, a link is not followed and a file of another owner is refused.
std::optional<uint64_t> OpenRegular(const std::filesystem::path& path, int& fd, std::string& error, int& error_number,
                                    std::optional<uid_t> owner = std::nullopt) {
  fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (owner ? O_NOFOLLOW : 0));
  if (fd < 0) {
    error_number = errno;
    error = SystemErrorText(errno);
    return std::nullopt;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    error_number = errno;
    error = SystemErrorText(errno);
    return std::nullopt;
  }
  if (S_ISDIR(info.st_mode)) {
    error_number = EISDIR;
    error = SystemErrorText(EISDIR);
    return std::nullopt;
  }
  if (!S_ISREG(info.st_mode)) {
    error_number = EINVAL;
    error = "not a regular file";
    return std::nullopt;
  }
  if (owner && info.st_uid != *owner) {
    error_number = EPERM;
    error = "owned by another user";
    return std::nullopt;
  }
  return static_cast<uint64_t>(info.st_size);
}

// Reads exactly `length` bytes from the start, or fails with the reason.
bool ReadExactly(int fd, char* data, size_t length, std::string& error) {
  size_t done = 0;
  while (done < length) {
    const ssize_t n = ::read(fd, data + done, length - done);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n < 0) {
      error = SystemErrorText(errno);
      return false;
    }
    if (n == 0) {
      error = "the file became shorter while it was read";
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

std::optional<FilePrefix> ReadFilePrefix(const std::filesystem::path& path, uint64_t limit, std::string* error) {
  std::string reason;
  int error_number = 0;
  int raw = -1;
  const std::optional<uint64_t> size = OpenRegular(path, raw, reason, error_number);
  const Descriptor fd(raw);
  FilePrefix prefix;
  if (size) {
    prefix.file_size = *size;
    prefix.bytes.resize(static_cast<size_t>(std::min<uint64_t>(*size, limit)));
    if (ReadExactly(fd.get(), reinterpret_cast<char*>(prefix.bytes.data()), prefix.bytes.size(), reason))
      return prefix;
  }
  if (error) *error = reason;
  return std::nullopt;
}

namespace {

std::optional<std::string> ReadWhole(const std::filesystem::path& path, uint64_t max_size, std::string* error,
                                     ReadFailure* failure, std::optional<uid_t> owner) {
  std::string reason;
  int error_number = 0;
  int raw = -1;
  const std::optional<uint64_t> size = OpenRegular(path, raw, reason, error_number, owner);
  const Descriptor fd(raw);
  if (size && *size > max_size) reason = Format("larger than %llu bytes", static_cast<unsigned long long>(max_size));
  if (size && *size <= max_size) {
    std::string bytes(static_cast<size_t>(*size), '\0');
    if (ReadExactly(fd.get(), bytes.data(), bytes.size(), reason)) {
      if (failure) *failure = ReadFailure::kNone;
      return bytes;
    }
  }
  if (error) *error = reason;
  if (failure) *failure = error_number == ENOENT ? ReadFailure::kMissing : ReadFailure::kRefused;
  return std::nullopt;
}

}  // namespace

std::optional<std::string> ReadRegularFile(const std::filesystem::path& path, uint64_t max_size, std::string* error,
                                           ReadFailure* failure) {
  return ReadWhole(path, max_size, error, failure, std::nullopt);
}

std::optional<std::string> ReadFileOwnedLike(const std::filesystem::path& path, const std::filesystem::path& trusted,
                                             uint64_t max_size, std::string* error, ReadFailure* failure) {
  struct stat info {};
  if (::stat(trusted.c_str(), &info) != 0) {
    if (error) *error = SystemErrorText(errno);
    if (failure) *failure = ReadFailure::kRefused;
    return std::nullopt;
  }
  return ReadWhole(path, max_size, error, failure, info.st_uid);
}

}  // namespace norvane
