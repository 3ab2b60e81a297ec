#include "cli/cli.h"

#include <gtest/gtest.h>

#include <sstream>

namespace norvane::cli {
namespace {

TEST(Cli, NoArgumentsIsAUsageError) {
  std::ostringstream out, err;
  EXPECT_EQ(cli::Run({}, out, err), 2);
  EXPECT_NE(err.str().find("usage"), std::string::npos);
}

}  // namespace
}  // namespace norvane::cli
