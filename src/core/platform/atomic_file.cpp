#include "core/platform/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>
#include <system_error>

#include "core/common/text_format.h"

namespace norvane {
namespace {

std::string Reason(const char* what, const std::filesystem::path& path, int err) {
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

// Best effort: makes the rename itself durable. A file system that cannot sync a directory has
// still renamed the file, so a failure here is not a failed write.
void SyncDirectory(const std::filesystem::path& dir) {
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

bool AtomicWriteFile(const std::filesystem::path& requested, std::string_view bytes,
                     std::string* error) {
  if (requested.empty() || !requested.has_filename()) {
    Fail(error, "cannot write a file without a name");
    return false;
  }
  std::filesystem::path target = requested;
  std::error_code ec;
  if (std::filesystem::is_symlink(target, ec)) {
    std::filesystem::path resolved = std::filesystem::weakly_canonical(target, ec);
    if (!ec) target = resolved;
  }
  std::filesystem::path dir = target.parent_path();
  if (dir.empty()) dir = ".";

  // Keep the name short enough for NAME_MAX whatever the target's name is.
  std::string base = target.filename().string().substr(0, 200);
  std::random_device random;
  std::filesystem::path temp;
  int fd = -1;
  for (int attempt = 0; attempt < 64 && fd < 0; ++attempt) {
    temp = dir / Format(".%s.%08x.tmp", base.c_str(), static_cast<unsigned>(random()));
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    Fail(error, Reason("cannot create a temporary file in", dir, errno));
    return false;
  }

  struct stat old_state {};
  if (::stat(target.c_str(), &old_state) == 0 && S_ISREG(old_state.st_mode))
    ::fchmod(fd, old_state.st_mode & 07777);

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
  if (!step && ::rename(temp.c_str(), target.c_str()) != 0) {
    Fail(error, Reason("cannot replace", target, errno));
    ::unlink(temp.c_str());
    return false;
  }
  if (step) {
    Fail(error, Reason(step, temp, err));
    ::unlink(temp.c_str());
    return false;
  }
  SyncDirectory(dir);
  return true;
}

}  // namespace norvane
