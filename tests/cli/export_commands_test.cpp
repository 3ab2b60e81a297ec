#include <gtest/gtest.h>

#include <sstream>

#include "cli/cli.h"
#include "tests/common/cli_run.h"
#include "tests/common/temp_dir.h"

namespace norvane {
namespace {

using testing::ReadAll;
using testing::TempDir;
using testing::WriteAll;

std::string Data(std::string_view name) { return (std::filesystem::path(NORVANE_TEST_DATA) / "files" / name).string(); }

class ExportCommandsTest : public ::testing::Test {
 protected:
  using Result = testing::CliResult;
  Result Run(std::vector<std::string> args) { return testing::RunCli(dir_, std::move(args)); }
  TempDir dir_;
};

TEST_F(ExportCommandsTest, ExportWritesTheHistoryCsvAndPrintsTheStatusEntry) {
  Result r = Run({"export", Data("history_mixed.bin"), (dir_ / "h").string()});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(ReadAll(dir_ / "h.csv"), ReadAll(Data("history_mixed.csv")));
  EXPECT_NE(r.out.find(":\r\nSaved:" + (dir_ / "h.csv").string() + "\r\n"), std::string::npos);

  r = Run({"export", Data("history_mixed.bin"), (dir_ / "s.csv").string(), "--semicolon"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(ReadAll(dir_ / "s.csv"), ReadAll(Data("history_mixed_semicolon.csv")));

  // The settings' separator applies when the option is not given.
  WriteAll(dir_ / "settings.reg",
           "Windows Registry Editor Version 5.00\r\n\r\n"
           "[HKEY_CURRENT_USER\\Software\\Norvane Data Viewer\\Settings]\r\n\"CsvSaveUseSemicolon\"=dword:00000001\r\n");
  ASSERT_EQ(Run({"export", Data("history_mixed.bin"), (dir_ / "t.csv").string()}).code, 0);
  EXPECT_EQ(ReadAll(dir_ / "t.csv"), ReadAll(Data("history_mixed_semicolon.csv")));
}

TEST_F(ExportCommandsTest, RealtimeExportChoosesTheWriterByExtension) {
  for (std::string name : {"r.csv", "r.html", "r.htm", "r.R@H", "r.r@h", "r.rbn", "r.bin"}) {
    const Result r = Run({"realtime-export", Data("realtime_recording.rbn"), (dir_ / name).string()});
    ASSERT_EQ(r.code, 0) << name << ": " << r.err;
    EXPECT_TRUE(std::filesystem::exists(dir_ / name)) << name;
    EXPECT_NE(r.out.find("Saved:" + (dir_ / name).string()), std::string::npos);
  }
  EXPECT_EQ(ReadAll(dir_ / "r.bin"), ReadAll(Data("realtime_recording.rbn")));
  EXPECT_EQ(ReadAll(dir_ / "r.html"), ReadAll(Data("realtime_recording.html")));
  EXPECT_EQ(ReadAll(dir_ / "r.csv"), ReadAll(Data("realtime_recording.csv")));
}

TEST_F(ExportCommandsTest, FailuresAreReportedClearly) {
  Result r = Run({"realtime-export", Data("history_mixed.bin"), (dir_ / "x.txt").string()});
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("OUT must end in"), std::string::npos);

  WriteAll(dir_ / "plain.rbn", "not a recording at all");
  r = Run({"realtime-export", (dir_ / "plain.rbn").string(), (dir_ / "x.csv").string()});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("does not start with a time stamp"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "x.csv"));

  r = Run({"export", Data("history_mixed.bin"), (dir_ / "missing" / "h.csv").string()});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.out.find("File error:"), std::string::npos);
  EXPECT_NE(r.err.find("cannot write"), std::string::npos);

  EXPECT_EQ(Run({"export", Data("history_mixed.bin")}).code, 2);
  EXPECT_EQ(Run({"export", (dir_ / "nothing.bin").string(), (dir_ / "h.csv").string()}).code, 1);
}

}  // namespace
}  // namespace norvane
