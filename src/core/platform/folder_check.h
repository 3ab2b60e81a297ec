// Whether a folder can take new files, asked before long work whose files would otherwise be lost.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace norvane {

// Empty when files can be created in `folder`; otherwise why not ("... is not a folder",
// "cannot create files in ...: Read-only file system", "... has no free space"). Leaves nothing
// behind in the folder.
std::optional<std::string> CheckFolderWritable(const std::filesystem::path& folder);

}  // namespace norvane
