#include "cli/cli.h"

#include <ostream>

namespace norvane::cli {

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  (void)args;
  (void)out;
  err << "usage: norvane-cli COMMAND\n";
  return 2;
}

}  // namespace norvane::cli
