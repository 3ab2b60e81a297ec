#include <gtest/gtest.h>

#include <sstream>

#include "cli/cli.h"

namespace norvane {
namespace {

struct Result {
  int code;
  std::string err;
};

Result Simulate(std::vector<std::string> args) {
  args.insert(args.begin(), "simulate");
  std::ostringstream out, err;
  const int code = cli::Run(args, out, err);
  EXPECT_TRUE(out.str().empty());  // nothing served, so no device line
  return {code, err.str()};
}

// Everything that is wrong is said before a pseudo-terminal is made.
TEST(SimulateCommand, RefusesBadArgumentsClearly) {
  Result r = Simulate({"--fault", "noisy"});
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("unknown fault 'noisy'"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("stall[=N]"), std::string::npos) << r.err;  // lists what exists

  r = Simulate({"--cpm", "lots"});
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("--cpm"), std::string::npos);
  EXPECT_EQ(Simulate({"--cpm", "-3"}).code, 2);
  EXPECT_EQ(Simulate({"--seed", "12x"}).code, 2);
  EXPECT_EQ(Simulate({"--version", std::string(21, 'Z')}).code, 2);
  EXPECT_EQ(Simulate({"--link"}).code, 2);
  EXPECT_EQ(Simulate({"--serial", "00112233445566"}).code, 2);  // seven bytes
  EXPECT_EQ(Simulate({"--serial", "001122334455667g"}).code, 2);
  EXPECT_EQ(Simulate({"--speed", "3"}).code, 2);
}

TEST(SimulateCommand, UnknownModelAndUnreadableFilesFail) {
  std::ostringstream out, err;
  EXPECT_EQ(cli::Run({"--model", "ZQT-999", "simulate"}, out, err), 1);
  EXPECT_NE(err.str().find("ZQT-999"), std::string::npos);
  EXPECT_NE(err.str().find("RadonTrak"), std::string::npos);  // names the ones it knows

  Result r = Simulate({"--history", "/nonexistent/history.bin"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("/nonexistent/history.bin"), std::string::npos);
  EXPECT_EQ(Simulate({"--config", "/nonexistent/cfg.csv"}).code, 1);
}

}  // namespace
}  // namespace norvane
