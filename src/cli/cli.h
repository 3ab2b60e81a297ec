// norvane-cli: the headless tool's argument handling and commands.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace norvane::cli {

// Runs one command line (without the program name). Returns the exit code: 0 success,
// 1 failure (one message on `err`), 2 usage error (the usage on `err`).
int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace norvane::cli
