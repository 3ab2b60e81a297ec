// Test helper: runs norvane-cli in-process against a scratch settings file and keeps its output.
#pragma once

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "tests/common/temp_dir.h"

namespace norvane::testing {

struct CliResult {
  int code;
  std::string out;
  std::string err;
};

// The settings and, unless the test names one, the store live in `dir`, so no test reads or
// writes the user's own.
inline CliResult RunCli(const TempDir& dir, std::vector<std::string> args) {
  if (std::ranges::find(args, "--store") == args.end() && std::ranges::find(args, "--no-store") == args.end())
    args.insert(args.begin(), {"--store", (dir / "store.sqlite").string()});
  args.insert(args.begin(), {"--settings", (dir / "settings.reg").string()});
  std::ostringstream out, err;
  const int code = cli::Run(args, out, err);
  return {code, out.str(), err.str()};
}

}  // namespace norvane::testing
