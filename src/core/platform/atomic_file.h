// Replacing a file's contents so that readers see either the old file or the new one, never half.
#pragma once

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

}  // namespace norvane
