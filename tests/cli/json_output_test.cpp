// Every --json output of norvane-cli, read back with a JSON parser: what a script would do.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <algorithm>
#include <set>
#include <string>

#include "cli/command.h"
#include "tests/common/cli_run.h"
#include "tests/common/temp_dir.h"
#include "tests/core/history/image_builder.h"
#include "tests/integration/simulated_line.h"

namespace norvane {
namespace {

using nlohmann::json;
using testing::Hex;
using testing::operator+;
using testing::Repeat;
using testing::Stamp;
using testing::TempDir;
using testing::WriteAll;

class JsonOutputTest : public ::testing::Test {
 protected:
  // Runs the command and parses its output as one JSON document on one line.
  json RunJson(std::vector<std::string> args) {
    const testing::CliResult r = testing::RunCli(dir_, args);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(r.out.ends_with("}\n") || r.out.ends_with("]\n")) << r.out;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
    json parsed = json::parse(r.out, nullptr, false);
    EXPECT_FALSE(parsed.is_discarded()) << r.out;
    return parsed;
  }
  std::string File(const std::string& name, const std::vector<uint8_t>& bytes) {
    WriteAll(dir_ / name, std::string(bytes.begin(), bytes.end()));
    return (dir_ / name).string();
  }

  TempDir dir_;
};

TEST_F(JsonOutputTest, FileCommandsGiveParsableJson) {
  // A note with a line break, a quote and a byte beyond ASCII (µ in the counter's Latin-1).
  const auto image = Stamp(24, 1, 31, 12, 5, 0, 2) + Repeat(10, 100) + Stamp(24, 1, 31, 14, 0, 0, 2) +
                     Hex("55 AA 02 04 0A 22 B5 5C") + Repeat(20, 100);
  const json window = RunJson({"window", File("h.bin", image), "--pos", "132", "--json"});
  EXPECT_EQ(window["position"], 132);
  ASSERT_EQ(window["values"].size(), 60u);
  EXPECT_EQ(window["values"][0], 20);
  EXPECT_EQ(window["note"], "\n\"\u00B5\\");
  EXPECT_EQ(window["rate"], "ACPM:20");

  // An erased block converts to rates that are not numbers: null, not -nan.
  const json erased = RunJson({"config", "decode", File("erased.bin", Repeat(0xFF, 512)), "--family", "4", "--json"});
  ASSERT_EQ(erased["conversion_table"].size(), 5u);
  EXPECT_TRUE(erased["conversion_table"][0]["usv"].is_null()) << erased.dump();
  EXPECT_EQ(erased["conversion_table"][0]["cpm"], 65535);
  EXPECT_EQ(erased["conversion_table"][4]["usv"], 26.0);  // from the settings' defaults
  EXPECT_EQ(erased["alarm"], "255");
  ASSERT_EQ(erased["calibration"].size(), 6u);

  for (int family : {0, 1, 5, 6, 7, 8}) {
    const json decoded =
        RunJson({"config", "decode", (dir_ / "erased.bin").string(), "--family", std::to_string(family), "--json"});
    EXPECT_TRUE(decoded.contains("ssid")) << family;
  }
}

TEST_F(JsonOutputTest, DeviceCommandsGiveParsableJson) {
  testing::SimulatedLine line("ZQT-400");
  ASSERT_TRUE(line.ok());
  const json ports = RunJson({"--port", line.path(), "ports", "--json"});
  ASSERT_TRUE(ports.is_array());
  EXPECT_EQ(ports.back()["path"], line.path());

  const json identified = RunJson({"--port", line.path(), "identify", "--json"});
  EXPECT_EQ(identified["reply"], line.counter().version());
  EXPECT_EQ(identified["model"], "ZQT-400");
  EXPECT_EQ(identified["family"], 8);

  const json read = RunJson({"--port", line.path(), "config", "read", (dir_ / "c.csv").string(), "--json"});
  EXPECT_EQ(read["cpm_alarm"], "1000");
  EXPECT_TRUE(read["conversion_table"][0]["usv"].is_number());
  const json reset = RunJson({"--port", line.path(), "config", "factory-reset", "--yes", "--json"});
  EXPECT_EQ(reset["cpm_alarm"], "1000");

  const json wifi = RunJson({"--port", line.path(), "wifi", "show", "--json"});
  EXPECT_TRUE(wifi["period"].is_number()) << wifi.dump();
  EXPECT_TRUE(wifi["ssid"].is_string());
}

TEST_F(JsonOutputTest, TheTestsAboveCoverEveryCommandOfferingJson) {
  std::set<std::string> listed;
  for (const cli::Command& c : cli::Commands())
    if (std::ranges::any_of(c.options, [](const OptionEntry& o) { return o.name == "--json"; }))
      listed.insert(std::string(c.name));
  // config offers --json on its decode, read and factory-reset, all run above; the store's
  // listings are parsed with the library in the store command tests.
  EXPECT_EQ(listed, (std::set<std::string>{"window", "ports", "identify", "config", "wifi", "store"}));
}

}  // namespace
}  // namespace norvane
