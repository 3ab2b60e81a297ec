// The device tools' command lines: what is refused before any port is touched.
#include <gtest/gtest.h>

#include <sstream>

#include "cli/cli.h"
#include "tests/common/cli_run.h"
#include "tests/common/temp_dir.h"

namespace norvane {
namespace {

using testing::RunCli;
using Result = testing::CliResult;

TEST(ToolsCommandLine, RefusedBeforeConnecting) {
  testing::TempDir dir;
  // No --port is given: each of these must be refused on its arguments alone, with exit 2.
  const std::pair<std::vector<std::string>, std::string_view> cases[] = {
      {{"send", "SPIR", "00AE"}, "Parameter error, space needed in between."},
      {{"send", "SPIR", "0"}, "Parameter error!"},
      {{"send", "X"}, "at least two characters"},
      {{"send", "GETVER", "--listen", "soon"}, "--listen takes"},
      {{"screenshot", "5"}, "1, 2, 3 or 4"},
      {{"screenshot"}, "needs a screen number"},
      {{"clock"}, "'get' or 'sync'"},
      {{"clock", "set"}, "'get' or 'sync'"},
      {{"wifi", "set", "--yes"}, "at least one value"},
      {{"wifi", "set", "--ssid"}, "--ssid needs a value"},
      {{"wifi", "show", "--ssid", "x"}, "unknown option '--ssid'"},
  };
  for (const auto& [args, expected] : cases) {
    const Result r = RunCli(dir, args);
    EXPECT_EQ(r.code, 2) << args.front() << " " << expected;
    EXPECT_NE(r.err.find(expected), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
  }
  // Valid arguments but no port: the command says what it needs.
  const Result no_port = RunCli(dir, {"clock", "get"});
  EXPECT_EQ(no_port.code, 2);
  EXPECT_NE(no_port.err.find("--port"), std::string::npos);
}

TEST(ToolsCommandLine, ListedInTheUsage) {
  testing::TempDir dir;
  const Result help = RunCli(dir, {"--help"});
  for (std::string_view name : {"clock get|sync", "send WORD", "screenshot N", "wifi show"})
    EXPECT_NE(help.out.find(name), std::string::npos) << name;
}

}  // namespace
}  // namespace norvane
