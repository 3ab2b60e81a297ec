// Loading a history image file for the offline commands, with the model chosen as the window would.
#pragma once

#include <string>

#include "cli/command.h"
#include "core/history/data_set.h"

namespace norvane::cli {

// Model: --model, else the first list entry whose history size fits the file (a dump may carry a
// 256- or 512-byte configuration block), else the settings' choice. Takes the settings'
// conversion table too. Returns an exit code (the failure already reported).
int LoadImage(const CommandContext& context, const std::string& path, DataSet& data);

}  // namespace norvane::cli
