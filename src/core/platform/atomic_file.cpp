#include "core/platform/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <random>
#include <system_error>

#include "core/common/text_format.h"

namespace norvane {
namespace {

namespace fs = std::filesystem;

// A named temporary file this old is left over from a writer that was killed: no save takes
// that long, so removing it cannot disturb one that is still running.
constexpr auto kStaleAge = std::chrono::minutes(10);

std::string Reason(const char* what, const fs::path& path, int err) {
  return std::string(what) + " " + path.string() + ": " + std::generic_category().message(err);
}

void Fail(std::string* error, std::string text) {
  if (error) *error = std::move(text);
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

// Writes, flushes and closes; the file keeps the target's permissions when there is one. On
// failure *error says which step failed on `shown`.
bool FillAndClose(int fd, const fs::path& target, std::string_view bytes, const fs::path& shown,
                  std::string* error) {
  struct stat old_state {};
  if (::stat(target.c_str(), &old_state) == 0 && S_ISREG(old_state.st_mode)) ::fchmod(fd, old_state.st_mode & 07777);
  int err = 0;
  const char* step = nullptr;
  if (!WriteAll(fd, bytes, &err)) {
    step = "cannot write";
  } else if (::fsync(fd) != 0) {
    err = errno;
    step = "cannot flush";
  }
  if (::close(fd) != 0 && !step) {
    err = errno;
    step = "cannot close";
  }
  if (step) Fail(error, Reason(step, shown, err));
  return step == nullptr;
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

bool RenameIntoPlace(const fs::path& temp, const fs::path& target, std::string* error) {
  if (::rename(temp.c_str(), target.c_str()) != 0) {
    Fail(error, Reason("cannot replace", target, errno));
    ::unlink(temp.c_str());
    return false;
  }
  return true;
}

enum class Unnamed { kWritten, kFailed, kUnsupported };

// The file is written without a name, so a writer killed at any moment leaves nothing behind; it
// gets its name only once it is whole. A new target is linked into place directly; an existing
// one is replaced through a name of our own that lives for one rename.
Unnamed WriteUnnamed(const fs::path& dir, const fs::path& target, std::string_view bytes, std::string* error) {
  const int fd = ::open(dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  if (fd < 0) {
    // Kernels and file systems without unnamed files answer with one of these.
    if (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL) return Unnamed::kUnsupported;
    Fail(error, Reason("cannot create a temporary file in", dir, errno));
    return Unnamed::kFailed;
  }
  // The descriptor has to stay open for the link; a duplicate carries the writing and closing.
  const int keep = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (keep < 0) {
    ::close(fd);
    return Unnamed::kUnsupported;
  }
  if (!FillAndClose(fd, target, bytes, target, error)) {
    ::close(keep);
    return Unnamed::kFailed;
  }
  const std::string source = "/proc/self/fd/" + std::to_string(keep);
  if (::linkat(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), AT_SYMLINK_FOLLOW) == 0) {
    ::close(keep);
    return Unnamed::kWritten;
  }
  if (errno != EEXIST) {
    // No /proc to link through, for one: the named way still works.
    ::close(keep);
    return Unnamed::kUnsupported;
  }
  fs::path temp;
  const bool linked = CreateNamed(dir, TempPrefix(target), keep, &temp) == 0;
  const int link_error = errno;
  ::close(keep);
  if (!linked) {
    Fail(error, Reason("cannot create a temporary file in", dir, link_error));
    return Unnamed::kFailed;
  }
  return RenameIntoPlace(temp, target, error) ? Unnamed::kWritten : Unnamed::kFailed;
}

bool WriteNamed(const fs::path& dir, const fs::path& target, std::string_view bytes, std::string* error) {
  fs::path temp;
  const int fd = CreateNamed(dir, TempPrefix(target), -1, &temp);
  if (fd < 0) {
    Fail(error, Reason("cannot create a temporary file in", dir, errno));
    return false;
  }
  if (!FillAndClose(fd, target, bytes, temp, error)) {
    ::unlink(temp.c_str());
    return false;
  }
  return RenameIntoPlace(temp, target, error);
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

bool AtomicWriteFile(const fs::path& requested, std::string_view bytes, std::string* error) {
  if (requested.empty() || !requested.has_filename()) {
    Fail(error, "cannot write a file without a name");
    return false;
  }
  fs::path target = requested;
  std::error_code ec;
  if (fs::is_symlink(target, ec)) {
    fs::path resolved = fs::weakly_canonical(target, ec);
    if (!ec) target = resolved;
  }
  fs::path dir = target.parent_path();
  if (dir.empty()) dir = ".";

  bool written = false;
  switch (WriteUnnamed(dir, target, bytes, error)) {
    case Unnamed::kWritten:
      written = true;
      break;
    case Unnamed::kFailed:
      break;
    case Unnamed::kUnsupported:
      written = WriteNamed(dir, target, bytes, error);
      break;
  }
  if (!written) return false;
  SyncDirectory(dir);
  RemoveStaleTemps(dir, target);
  return true;
}

}  // namespace norvane
