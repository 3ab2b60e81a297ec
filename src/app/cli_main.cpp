// Entry point of norvane-cli.
#include <iostream>

#include "cli/cli.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return norvane::cli::Run(args, std::cout, std::cerr);
}
