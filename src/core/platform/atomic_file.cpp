#include "core/platform/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <random>
#include <system_error>
#include <utility>

#include "core/common/text_format.h"
#include "core/platform/system_error.h"

namespace norvane {
namespace {

namespace fs = std::filesystem;

// A named temporary file this old is left over from a writer that was killed: no save takes
// that long, so removing it cannot disturb one that is still running.
constexpr auto kStaleAge = std::chrono::minutes(10);

constexpr off_t kFlushStep = 8 << 20;

std::string Reason(const char* what, const fs::path& path, int err) {
  return std::string(what) + " " + path.string() + ": " + SystemErrorText(err);
}

bool WriteAll(int fd, std::string_view bytes, int* err) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      *err = errno;
      return false;
    }
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

// The names of our named temporary files: ".NAME.XXXXXXXX.tmp", NAME cut short for NAME_MAX.
std::string TempPrefix(const fs::path& target) { return "." + target.filename().string().substr(0, 200) + "."; }

bool IsTempName(const std::string& name, const std::string& prefix) {
  constexpr size_t kHexDigits = 8;
  if (name.size() != prefix.size() + kHexDigits + 4 || !name.starts_with(prefix) || !name.ends_with(".tmp"))
    return false;
  for (size_t i = prefix.size(); i < prefix.size() + kHexDigits; ++i)
    if (!std::isxdigit(static_cast<unsigned char>(name[i]))) return false;
  return true;
}

// Creates a new temporary name beside the target: with `fd` given, a file opened on it;
// otherwise a hard link to /proc/self/fd/`link_fd`. -1 (errno set) when neither worked.
int CreateNamed(const fs::path& dir, const std::string& prefix, int link_fd, fs::path* temp) {
  std::random_device random;
  for (int attempt = 0; attempt < 64; ++attempt) {
    *temp = dir / Format("%s%08x.tmp", prefix.c_str(), static_cast<unsigned>(random()));
    if (link_fd < 0) {
      const int fd = ::open(temp->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd >= 0 || errno != EEXIST) return fd;
    } else {
      const std::string source = "/proc/self/fd/" + std::to_string(link_fd);
      if (::linkat(AT_FDCWD, source.c_str(), AT_FDCWD, temp->c_str(), AT_SYMLINK_FOLLOW) == 0) return 0;
      if (errno != EEXIST) return -1;
    }
  }
  errno = EEXIST;
  return -1;
}

// Best effort: makes the rename itself durable. A file system that cannot sync a directory has
// still renamed the file, so a failure here is not a failed write.
void SyncDirectory(const fs::path& dir) {
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

// Temporary files a killed writer of this target left behind.
void RemoveStaleTemps(const fs::path& dir, const fs::path& target) {
  const std::string prefix = TempPrefix(target);
  const auto now = fs::file_time_type::clock::now();
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    if (!IsTempName(it->path().filename().string(), prefix)) continue;
    std::error_code entry_ec;
    const auto written = fs::last_write_time(it->path(), entry_ec);
    if (!entry_ec && now - written > kStaleAge && fs::is_regular_file(it->symlink_status(entry_ec)))
      fs::remove(it->path(), entry_ec);
  }
}

}  // namespace

AtomicFileWriter::AtomicFileWriter(const fs::path& requested) {
  if (requested.empty() || !requested.has_filename()) {
    Fail("cannot write a file without a name");
    return;
  }
  target_ = requested;
  std::error_code ec;
  if (fs::is_symlink(target_, ec)) {
    fs::path resolved = fs::weakly_canonical(target_, ec);
    if (!ec) target_ = resolved;
  }
  dir_ = target_.parent_path();
  if (dir_.empty()) dir_ = ".";
  if (!OpenUnnamed() && !failed_) OpenNamed();
  if (failed_) return;
  // A replaced file keeps its permissions.
  struct stat old_state {};
  if (::stat(target_.c_str(), &old_state) == 0 && S_ISREG(old_state.st_mode)) ::fchmod(fd_, old_state.st_mode & 07777);
}

// The file is written without a name, so a writer killed at any moment leaves nothing behind; it
// gets its name only once it is whole. False, without failing, where that cannot be done.
bool AtomicFileWriter::OpenUnnamed() {
  const int fd = ::open(dir_.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  if (fd < 0) {
    // Kernels and file systems without unnamed files answer with one of these.
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
      Fail(Reason("cannot create a temporary file in", dir_, errno));
    return false;
  }
  // The name is given through /proc, from a descriptor that outlives the closing of the written
  // one, so that a failed close is still seen. Without /proc the named way still works.
  const int keep = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (keep < 0 || ::access(("/proc/self/fd/" + std::to_string(keep)).c_str(), F_OK) != 0) {
    if (keep >= 0) ::close(keep);
    ::close(fd);
    return false;
  }
  fd_ = fd;
  keep_ = keep;
  return true;
}

void AtomicFileWriter::OpenNamed() {
  fd_ = CreateNamed(dir_, TempPrefix(target_), -1, &temp_);
  if (fd_ < 0) {
    const int err = errno;
    temp_.clear();  // the last name tried is not ours
    Fail(Reason("cannot create a temporary file in", dir_, err));
  }
}

AtomicFileWriter::~AtomicFileWriter() { Abandon(); }

void AtomicFileWriter::Abandon() {
  if (fd_ >= 0) ::close(fd_);
  if (keep_ >= 0) ::close(keep_);
  if (!temp_.empty()) ::unlink(temp_.c_str());
  fd_ = keep_ = -1;
  temp_.clear();
}

void AtomicFileWriter::Fail(std::string reason) {
  if (!failed_) error_ = std::move(reason);
  failed_ = true;
  Abandon();
}

bool AtomicFileWriter::Write(std::string_view bytes) {
  if (failed_ || committed_) return false;
  int err = 0;
  if (!WriteAll(fd_, bytes, &err)) {
    Fail(Reason("cannot write", temp_.empty() ? target_ : temp_, err));
    return false;
  }
  // Each full step is sent to disk; the step before it is waited for and dropped from the cache,
  // so the disk works while the next part is made and the file never holds much memory.
  written_ += static_cast<off_t>(bytes.size());
  if (written_ - flushing_ >= kFlushStep) {
    ::sync_file_range(fd_, flushing_, written_ - flushing_, SYNC_FILE_RANGE_WRITE);
    if (flushing_ > 0) {
      ::sync_file_range(fd_, flushed_, flushing_ - flushed_,
                        SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
      ::posix_fadvise(fd_, flushed_, flushing_ - flushed_, POSIX_FADV_DONTNEED);
      flushed_ = flushing_;
    }
    flushing_ = written_;
  }
  return true;
}

bool AtomicFileWriter::Commit() {
  if (failed_ || committed_) return false;
  const fs::path shown = temp_.empty() ? target_ : temp_;
  if (::fsync(fd_) != 0) {
    Fail(Reason("cannot flush", shown, errno));
    return false;
  }
  const int fd = std::exchange(fd_, -1);
  if (::close(fd) != 0) {
    Fail(Reason("cannot close", shown, errno));
    return false;
  }
  if (keep_ >= 0) {
    // A new target is linked into place directly; an existing one is replaced through a name of
    // our own that lives for one rename.
    const std::string source = "/proc/self/fd/" + std::to_string(keep_);
    if (::linkat(AT_FDCWD, source.c_str(), AT_FDCWD, target_.c_str(), AT_SYMLINK_FOLLOW) != 0) {
      const bool exists = errno == EEXIST;
      if (!exists || CreateNamed(dir_, TempPrefix(target_), keep_, &temp_) != 0) {
        const int err = errno;
        temp_.clear();  // no name of ours was made
        Fail(exists ? Reason("cannot create a temporary file in", dir_, err) : Reason("cannot create", target_, err));
        return false;
      }
    }
    ::close(std::exchange(keep_, -1));
  }
  if (!temp_.empty()) {
    if (::rename(temp_.c_str(), target_.c_str()) != 0) {
      Fail(Reason("cannot replace", target_, errno));
      return false;
    }
    temp_.clear();
  }
  committed_ = true;
  SyncDirectory(dir_);
  RemoveStaleTemps(dir_, target_);
  return true;
}

bool AtomicWriteFile(const fs::path& target, std::string_view bytes, std::string* error) {
  AtomicFileWriter file(target);
  if (file.Write(bytes) && file.Commit()) return true;
  if (error) *error = file.error();
  return false;
}

}  // namespace norvane
