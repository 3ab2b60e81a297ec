// Whether a folder can take new files, asked before long work whose result would be written there.
#pragma once

#include <optional>
#include <string>

namespace norvane {

// Nothing when a file can be created and written in `folder` (empty means the working folder);
// otherwise why not, as a user reads it: "cannot write into /media/stick: Read-only file system".
// It writes a small file of its own that is gone again on return, whatever happens.
std::optional<std::string> CheckFolderWritable(const std::string& folder);

// Where files are kept that could not go where they were asked: $TMPDIR, or /tmp.
std::string TemporaryFolder();

}  // namespace norvane
