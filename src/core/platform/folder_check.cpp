#include "core/platform/folder_check.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <vector>

#include "core/platform/system_error.h"

namespace norvane {
namespace {

// Enough to meet a full disk at the write rather than later, at the real file's flush.
constexpr size_t kProbeBytes = 4096;

std::string Reason(const std::string& folder, int err) {
  return "cannot write into " + folder + ": " + SystemErrorText(err);
}

// An unnamed file where the file system has them, so not even a kill leaves it behind; a named
// one, removed at once, elsewhere.
int OpenProbe(const std::string& folder, int* err) {
  int fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
  if (fd >= 0) return fd;
  if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
    *err = errno;
    return -1;
  }
  std::string name = folder + "/.norvane-folder-check.XXXXXX";
  std::vector<char> buffer(name.begin(), name.end());
  buffer.push_back('\0');
  fd = ::mkostemp(buffer.data(), O_CLOEXEC);
  if (fd < 0) {
    *err = errno;
    return -1;
  }
  ::unlink(buffer.data());
  return fd;
}

}  // namespace

std::optional<std::string> CheckFolderWritable(const std::string& requested) {
  const std::string folder = requested.empty() ? "." : requested;
  struct stat state {};
  if (::stat(folder.c_str(), &state) != 0) return Reason(folder, errno);
  if (!S_ISDIR(state.st_mode)) return Reason(folder, ENOTDIR);

  int err = 0;
  const int fd = OpenProbe(folder, &err);
  if (fd < 0) return Reason(folder, err);
  const std::vector<char> probe(kProbeBytes, 0);
  size_t done = 0;
  while (done < probe.size()) {
    const ssize_t n = ::write(fd, probe.data() + done, probe.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      err = n < 0 ? errno : ENOSPC;
      break;
    }
    done += static_cast<size_t>(n);
  }
  ::close(fd);
  if (err != 0) return Reason(folder, err);
  return std::nullopt;
}

std::string TemporaryFolder() {
  const char* tmpdir = std::getenv("TMPDIR");
  return tmpdir && *tmpdir ? tmpdir : "/tmp";
}

}  // namespace norvane
