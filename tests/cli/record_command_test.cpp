// norvane-cli record and the store options, in process: what is refused before any port is touched.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/common/cli_run.h"
#include "tests/common/temp_dir.h"

namespace norvane {
namespace {

using testing::RunCli;

TEST(RecordCommand, RefusesBadArgumentsBeforeLookingForACounter) {
  testing::TempDir dir;
  EXPECT_EQ(RunCli(dir, {"record", "--seconds", "0"}).code, 2);
  EXPECT_EQ(RunCli(dir, {"record", "--seconds", "ten"}).code, 2);
  EXPECT_EQ(RunCli(dir, {"record", "--log"}).code, 2);
  EXPECT_EQ(RunCli(dir, {"record", "--quiet"}).code, 2);
  const auto model = RunCli(dir, {"--model", "ZQT-9", "record"});
  EXPECT_EQ(model.code, 1);
  EXPECT_NE(model.err.find("unknown model 'ZQT-9'"), std::string::npos) << model.err;
  // A log that cannot be written is said at once, not after the first event is lost.
  const auto log = RunCli(dir, {"record", "--log", (dir / "missing" / "record.log").string()});
  EXPECT_EQ(log.code, 1);
  EXPECT_NE(log.err.find("cannot write the log file"), std::string::npos) << log.err;
}

TEST(RecordCommand, ADemonstrationLeavesTheStoreAlone) {
  testing::TempDir dir;
  const std::filesystem::path store = dir / "store.sqlite";
  const auto r = RunCli(dir, {"--store", store.string(), "monitor", "--demo", "--seconds", "2", "--quiet", "--out",
                              (dir / "out").string()});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_FALSE(std::filesystem::exists(store));
}

}  // namespace
}  // namespace norvane
