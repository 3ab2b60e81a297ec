#include "core/platform/locked_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/platform/system_error.h"

namespace norvane {

std::unique_ptr<LockedFile> LockedFile::Take(const std::filesystem::path& path, Open how, std::string* error,
                                             unsigned mode) {
  error->clear();
  const int flags = O_RDWR | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK |
                    (how == Open::kCreateNew ? O_CREAT | O_EXCL : 0);
  const int fd = ::open(path.c_str(), flags, static_cast<mode_t>(mode));
  if (fd < 0) {
    *error = std::string("cannot open ") + path.string() + ": " + SystemErrorText(errno);
    return nullptr;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    *error = path.string() + " is not a regular file";
    ::close(fd);
    return nullptr;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK) *error = std::string("cannot lock ") + path.string() + ": " + SystemErrorText(errno);
    ::close(fd);
    return nullptr;
  }
  // Taken over after its owner ended: the file may have been removed in the meantime by another
  // process that took it first, and what it held is then already in the store.
  if (how == Open::kExisting && (::fstat(fd, &info) != 0 || info.st_nlink == 0)) {
    ::close(fd);
    return nullptr;
  }
  std::unique_ptr<LockedFile> file(new LockedFile(path, fd));
  file->size_ = static_cast<uint64_t>(::lseek(fd, 0, SEEK_END));
  return file;
}

LockedFile::~LockedFile() { ::close(fd_); }

bool LockedFile::Append(std::string_view text, std::string* error) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd_, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      *error = std::string("cannot write ") + path_.string() + ": " + SystemErrorText(n < 0 ? errno : ENOSPC);
      // Should the undo fail too, the half-written text is skipped by readers like a line cut by a kill.
      if (::ftruncate(fd_, static_cast<off_t>(size_)) != 0) *error += " (the part written stays)";
      return false;
    }
    done += static_cast<size_t>(n);
  }
  size_ += text.size();
  return true;
}

bool LockedFile::Truncate(uint64_t size, std::string* error) {
  if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) {
    *error = std::string("cannot shorten ") + path_.string() + ": " + SystemErrorText(errno);
    return false;
  }
  size_ = size;
  return true;
}

bool LockedFile::ReadAll(std::string* text, std::string* error) {
  text->assign(size_, '\0');
  size_t done = 0;
  while (done < text->size()) {
    const ssize_t n = ::pread(fd_, text->data() + done, text->size() - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *error = std::string("cannot read ") + path_.string() + ": " + SystemErrorText(errno);
      return false;
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  text->resize(done);
  return true;
}

void LockedFile::Remove() { ::unlink(path_.c_str()); }

}  // namespace norvane
