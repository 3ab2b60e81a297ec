#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <fstream>
#include <map>

#include "cli/upload_setup.h"
#include "tests/common/cli_run.h"
#include "tests/core/upload/upload_rig.h"

namespace norvane {
namespace {

using upload::MapNetwork;

std::span<const OptionEntry> RecordOptions() {
  for (const cli::Command& c : cli::Commands())
    if (c.name == "record") return c.options;
  return {};
}

struct Read {
  std::optional<std::string> problem;
  std::vector<upload::NetworkSetup> setups;
};
Read ReadSetups(std::vector<std::string> args, std::map<std::string, std::string> environment = {}) {
  const ParsedOptions options = ParseOptions(args, RecordOptions());
  EXPECT_EQ(options.problem, "");
  Read read;
  read.problem = cli::ReadUploadSetups(
      options,
      [&](const char* name) -> std::optional<std::string> {
        const auto it = environment.find(name);
        return it == environment.end() ? std::nullopt : std::optional<std::string>(it->second);
      },
      read.setups);
  return read;
}

TEST(UploadSetup, KeysComeFromTheFileTheEnvironmentOrTheCredentialNeverTheCommandLine) {
  testing::TempDir dir;
  std::ofstream(dir / "radmon") << "from-file\n";
  std::ofstream(dir / "sensor-community-id") << "esp8266-42\n";
  const Read read = ReadSetups(
      {"--radmon", "me", "--radmon-password-file", (dir / "radmon").string(), "--safecast", "7", "--position",
       "35.5,139.25,2", "--opensensemap", "box/sensor", "--sensor-community", "--upload-every", "safecast=600"},
      {{"NORVANE_RADMON_PASSWORD", "from-env"},
       {"NORVANE_SAFECAST_KEY", "safecast-env"},
       {"NORVANE_OPENSENSEMAP_TOKEN", "token-env"},
       {"CREDENTIALS_DIRECTORY", dir.path().string()}});
  ASSERT_EQ(read.problem, std::nullopt);
  ASSERT_EQ(read.setups.size(), 4u);
  EXPECT_EQ(read.setups[0].key, "from-file");  // the file before the environment
  EXPECT_EQ(read.setups[1].key, "safecast-env");
  EXPECT_EQ(read.setups[1].Interval(), 600);
  EXPECT_DOUBLE_EQ(read.setups[1].position->height, 2);
  EXPECT_EQ(read.setups[2].key, "token-env");
  EXPECT_EQ(read.setups[3].key, "esp8266-42");  // the systemd credential

  // What cannot work is said before anything runs.
  EXPECT_NE(ReadSetups({"--radmon", "me"}).problem->find("$NORVANE_RADMON_PASSWORD"), std::string::npos);
  EXPECT_NE(ReadSetups({"--safecast", "7"}, {{"NORVANE_SAFECAST_KEY", "k"}}).problem->find("--position"),
            std::string::npos);
  EXPECT_NE(ReadSetups({"--safecast-key-file", "x"}).problem->find("needs --safecast"), std::string::npos);
  EXPECT_TRUE(ReadSetups({"--radmon", "me", "--upload-every", "radmon=10"}, {{"NORVANE_RADMON_PASSWORD", "p"}}).problem);
}

TEST(UploadSetup, StoreUploadsShowsSentWaitingAndTheLastRefusalPerNetwork) {
  testing::UploadRig rig;
  testing::MapServer radmon(MapNetwork::kRadmon, "right", rig.Time()), safecast(MapNetwork::kSafecast, "k", rig.Time());
  auto scheduler = rig.Scheduler({rig.Setup(MapNetwork::kRadmon, radmon, "wrong", 300),
                                  rig.Setup(MapNetwork::kSafecast, safecast, "k", 300)});
  rig.RunUntil(*scheduler, testing::UploadRig::kStart + 3 * 300 + 60);
  scheduler.reset();
  rig.db.reset();

  const testing::CliResult text = testing::RunCli(rig.dir, {"--store", rig.file.string(), "store", "uploads"});
  ASSERT_EQ(text.code, 0) << text.err;
  EXPECT_NE(text.out.find("radmon.org: 0 sent, 3 waiting"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("Incorrect login."), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("Safecast: 3 sent, 0 waiting, 0 refused"), std::string::npos) << text.out;
  const testing::CliResult json =
      testing::RunCli(rig.dir, {"--store", rig.file.string(), "store", "uploads", "--json"});
  const auto uploads = nlohmann::json::parse(json.out).at("uploads");
  ASSERT_EQ(uploads.size(), 2u);
  EXPECT_EQ(uploads[0].at("network"), "radmon");
  EXPECT_EQ(uploads[0].at("waiting"), 3);
  EXPECT_EQ(uploads[1].at("sent"), 3);
}

}  // namespace
}  // namespace norvane
