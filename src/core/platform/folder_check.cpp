#include "core/platform/folder_check.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <random>
#include <system_error>

#include "core/common/text_format.h"

namespace norvane {
namespace {

std::string Because(const std::string& what, int err) { return what + ": " + std::generic_category().message(err); }

// Creates a file and removes it again: permissions, a read-only mount and a missing folder all
// show here, whoever the user is. An unnamed file leaves nothing behind even if we are killed.
int ProbeCreate(const std::filesystem::path& folder) {
  const int fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
  if (fd >= 0) {
    ::close(fd);
    return 0;
  }
  if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return errno;
  std::random_device random;
  const std::filesystem::path probe = folder / Format(".norvane-probe.%08x", static_cast<unsigned>(random()));
  const int named = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (named < 0) return errno;
  ::close(named);
  ::unlink(probe.c_str());
  return 0;
}

}  // namespace

std::optional<std::string> CheckFolderWritable(const std::filesystem::path& folder) {
  const std::filesystem::path dir = folder.empty() ? std::filesystem::path(".") : folder;
  struct stat state {};
  if (::stat(dir.c_str(), &state) != 0) return Because("cannot use the folder " + dir.string(), errno);
  if (!S_ISDIR(state.st_mode)) return dir.string() + " is not a folder";
  if (const int err = ProbeCreate(dir); err != 0) return Because("cannot create files in " + dir.string(), err);
  struct statvfs space {};
  if (::statvfs(dir.c_str(), &space) == 0 && space.f_bavail == 0)
    return Because("cannot save files in " + dir.string(), ENOSPC);
  return std::nullopt;
}

}  // namespace norvane
