// Replacing a file's contents so that readers see either the old file or the new one, never half.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <string_view>

namespace norvane {

// Writes `bytes` to a fresh file beside `target`, flushes it to disk and puts it in place of
// `target` in one step. The file has no name while it is written (where the file system allows),
// so a writer killed at any moment leaves no temporary file behind; elsewhere a named one is
// used, and one that a killed writer left is removed by a later save of the same target.
// A symlinked target is followed, so the link stays and the file it names is replaced. A new file
// gets the usual permissions (0666 less the umask); a replaced one keeps its own.
// On failure the temporary file is removed, `target` is left as it was and *error (when given)
// receives the system's reason, prefixed with what was being attempted.
bool AtomicWriteFile(const std::filesystem::path& target, std::string_view bytes,
                     std::string* error = nullptr);

// The same for contents too large to hold at once: written in parts, put in place by Commit().
// Contents never committed (the writer destroyed first, or killed) leave nothing behind, as above.
// Gigabytes go to disk as they come and leave the page cache behind them: a copy into a cache
// gigabytes full of dirty pages took a 3.3 GB export 14 to 20 s instead of 6.5. After a failed step every
// later one returns false and error() says why.
class AtomicFileWriter {
 public:
  explicit AtomicFileWriter(const std::filesystem::path& target);
  ~AtomicFileWriter();
  AtomicFileWriter(const AtomicFileWriter&) = delete;
  AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

  bool Write(std::string_view bytes);
  // Flushes the contents to disk and puts them in place of the target.
  bool Commit();
  const std::string& error() const { return error_; }

 private:
  bool OpenUnnamed();
  void OpenNamed();
  void Fail(std::string reason);
  void Abandon();

  std::filesystem::path target_, dir_;
  std::filesystem::path temp_;  // the named temporary file, when there is one
  int fd_ = -1;                 // the file being written
  int keep_ = -1;               // the unnamed file's descriptor that names it at the end
  off_t written_ = 0, flushing_ = 0, flushed_ = 0;
  bool failed_ = false, committed_ = false;
  std::string error_;
};

}  // namespace norvane
