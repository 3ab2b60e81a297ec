// norvane-cli monitor and map, in process: arguments, a short demo run, map requests to 127.0.0.1.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "cli/cli.h"
#include "core/settings/settings_store.h"
#include "tests/common/cli_run.h"
#include "tests/common/temp_dir.h"
#include "tests/core/net/one_shot_http_server.h"

namespace norvane {
namespace {

using testing::RunCli;
using Result = testing::CliResult;

void StoreMapSettings(const testing::TempDir& dir, const std::string& server) {
  SettingsStore store(dir / "settings.reg");
  store.Load();
  store.StoreText(setting_names::kZqtMapServer, server);
  store.StoreText(setting_names::kZqtMapUserAccountId, "12 34");
  store.StoreText(setting_names::kZqtMapGeigerCounterId, "5678");
}

TEST(MonitorCommand, RefusesBadArguments) {
  testing::TempDir dir;
  EXPECT_EQ(RunCli(dir, {"monitor"}).code, 2);  // neither a port nor --demo
  EXPECT_EQ(RunCli(dir, {"monitor", "--demo", "--seconds", "0"}).code, 2);
  EXPECT_EQ(RunCli(dir, {"monitor", "--demo", "--autosave", "x"}).code, 2);
  EXPECT_EQ(RunCli(dir, {"monitor", "--demo", "--out"}).code, 2);
  EXPECT_EQ(RunCli(dir, {"monitor", "--demo", "--later"}).code, 2);
  testing::WriteAll(dir / "file", "x");
  EXPECT_EQ(RunCli(dir, {"monitor", "--demo", "--seconds", "1", "--out", (dir / "file").string()}).code, 1);
}

TEST(MonitorCommand, AFolderThatTakesNoFilesIsRefusedBeforeAnySecondIsRecorded) {
  testing::TempDir dir;
  // /proc exists and takes no files, for root too.
  const Result r = RunCli(dir, {"monitor", "--demo", "--seconds", "2", "--out", "/proc"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("cannot write into /proc"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("DEMO Mode!!!"), std::string::npos) << r.err;
}

TEST(MonitorCommand, DemoRunPrintsEachSecondAndSavesTheRecordingAtTheEnd) {
  testing::TempDir dir;
  const std::filesystem::path out = dir / "out";
  const Result r = RunCli(dir, {"monitor", "--demo", "--seconds", "3", "--out", out.string()});
  ASSERT_EQ(r.code, 0) << r.err;
  std::istringstream lines(r.out);
  int count = 0;
  for (std::string line; std::getline(lines, line); ++count) EXPECT_NE(line.find(" uSv/h"), std::string::npos) << line;
  EXPECT_EQ(count, 3);
  EXPECT_NE(r.err.find("DEMO Mode!!!"), std::string::npos);
  int rbn = 0, csv = 0, html = 0;
  for (const auto& entry : std::filesystem::directory_iterator(out)) {
    const std::string ext = entry.path().extension().string();
    rbn += ext == ".rbn";
    csv += ext == ".csv";
    html += ext == ".html";
  }
  EXPECT_EQ(rbn + csv + html, 3);
  EXPECT_EQ(rbn * csv * html, 1);
}

TEST(MapCommand, SubmitPostsOneReadingWithTheSettingsIds) {
  testing::TempDir dir;
  testing::OneShotHttpServer server("200 OK", "Logged");
  StoreMapSettings(dir, server.base());
  const Result r = RunCli(dir, {"map", "submit", "--cpm", "21", "--acpm", "19.5"});
  EXPECT_EQ(r.code, 0) << r.err;
  const std::string request = server.requests().at(0);
  EXPECT_EQ(request.substr(0, request.find("\r\n")),
            "POST /log2.asp?AID=12%2034&GID=5678&CPM=21&ACPM=19.50&uSV=0.136500&type=VWR2.75 HTTP/1.1");
  EXPECT_NE(r.out.find("Data submited to server.\nLogged\nReport time:20"), std::string::npos) << r.out;
}

TEST(MapCommand, FailuresExitWithOne) {
  testing::TempDir dir;
  StoreMapSettings(dir, "http://127.0.0.1:" + std::to_string(testing::RefusingPort()) + "/");
  const Result refused = RunCli(dir, {"map", "submit", "--cpm", "5"});
  EXPECT_EQ(refused.code, 1);
  EXPECT_FALSE(refused.err.empty());
  EXPECT_EQ(RunCli(dir, {"map", "verify"}).code, 1);
  EXPECT_EQ(RunCli(dir, {"map", "submit"}).code, 2);
  EXPECT_EQ(RunCli(dir, {"map", "submit", "--cpm", "lots"}).code, 2);
  EXPECT_EQ(RunCli(dir, {"map"}).code, 2);

  testing::OneShotHttpServer server("200 OK", "Error: no such counter");
  StoreMapSettings(dir, server.base());
  const Result unverified = RunCli(dir, {"map", "verify"});
  EXPECT_EQ(unverified.code, 1);
  EXPECT_EQ(server.requests().at(0).substr(0, 40), "POST /testlog.asp?id=12%2034+5678+0+0+0 ");
}

}  // namespace
}  // namespace norvane
