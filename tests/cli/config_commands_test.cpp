// The offline config commands: decoding a file for a family, editing it into another file.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "cli/cli.h"
#include "tests/common/cli_run.h"
#include "tests/common/temp_dir.h"

namespace norvane {
namespace {

using testing::ReadAll;
using testing::TempDir;
using testing::WriteAll;

using Result = testing::CliResult;

class ConfigCommandTest : public ::testing::Test {
 protected:
  Result Run(std::vector<std::string> args) {
    args.insert(args.begin(), "config");
    return testing::RunCli(dir_, std::move(args));
  }
  // A family-4 file whose point 1 is 60 CPM at 0.39 uSv/h, as a counter would hold it.
  std::string Family4Csv() {
    std::string text;
    const int head[] = {1, 1, 1, 0, 30, 0, 3, -24, 0, 60, 62, -57, -82, 20};
    for (int v : head) text += std::to_string(v) + ",";
    for (int i = 14; i < 512; ++i) text += "-1,";
    WriteAll(dir_ / "f4.csv", text + "\r\n");
    return (dir_ / "f4.csv").string();
  }
  TempDir dir_;
};

TEST_F(ConfigCommandTest, DecodePrintsEveryFieldAsTheEditorShowsIt) {
  const Result r = Run({"decode", Family4Csv(), "--family", "4", "--json"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("\"alarm\":\"1\",\"speaker\":\"1\",\"backlight\":\"30\""), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"cpm_alarm\":\"1000\""), std::string::npos);
  EXPECT_NE(r.out.find("\"calibration\":[{\"cpm\":\"60\",\"usv\":\"0.39\"}"), std::string::npos);
  EXPECT_NE(r.out.find("\"ssid\":\"\""), std::string::npos);
  // The table takes the single-precision value widened, not 0.39 itself; points 4 and 5 stay.
  EXPECT_NE(r.out.find("\"conversion_table\":[{\"cpm\":60,\"usv\":0.38999998569488525}"), std::string::npos);
  const nlohmann::json table = nlohmann::json::parse(r.out)["conversion_table"];
  EXPECT_EQ(table[3], (nlohmann::json{{"cpm", 2000}, {"usv", 13.0}}));
  EXPECT_EQ(table[4], (nlohmann::json{{"cpm", 4000}, {"usv", 26.0}}));
  EXPECT_NE(r.err.find("Main calibration 1,2,3 have been updated."), std::string::npos);
}

TEST_F(ConfigCommandTest, DecodeLogsTheCalibrationOnceAndEndsItsLines) {
  const std::string in = Family4Csv();
  for (const bool json : {false, true}) {
    SCOPED_TRACE(json ? "json" : "text");
    std::vector<std::string> args = {"decode", in, "--family", "4"};
    if (json) args.push_back("--json");
    const Result r = Run(args);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, "Main calibration 1,2,3 have been updated.\n");
    ASSERT_FALSE(r.out.empty());
    EXPECT_EQ(r.out.back(), '\n');
    EXPECT_EQ(r.out.find("Main calibration"), std::string::npos);  // the log stays off stdout
  }
  const Result text = Run({"decode", in, "--family", "4"});
  EXPECT_TRUE(text.out.ends_with("\nconversion_5     4000 CPM  26 uSv/h\n")) << text.out;
}

TEST_F(ConfigCommandTest, ConvertEditsAndWritesByTheOutputExtension) {
  const std::string in = Family4Csv();
  Result r = Run({"convert", in, (dir_ / "out.bin").string(), "--family", "4", "--set", "cal1_cpm=70000",
                  "--set", "alarm=0"});
  ASSERT_EQ(r.code, 0) << r.err;
  const std::string bin = ReadAll(dir_ / "out.bin");
  ASSERT_EQ(bin.size(), 512u);
  EXPECT_EQ(bin[1], 0);
  EXPECT_EQ(static_cast<uint8_t>(bin[8]), 0x11);
  EXPECT_EQ(static_cast<uint8_t>(bin[9]), 0x70);

  r = Run({"convert", (dir_ / "out.bin").string(), (dir_ / "back.csv").string(), "--family", "4"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(ReadAll(dir_ / "back.csv").substr(0, 26), "1,0,1,0,30,0,3,-24,17,112,");
}

TEST_F(ConfigCommandTest, RefusalsAreClear) {
  const std::string in = Family4Csv();
  Result r = Run({"decode", in});
  EXPECT_EQ(r.code, 2);
  r = Run({"decode", in, "--family", "17"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("This feature is not available on this model."), std::string::npos);
  r = Run({"convert", in, (dir_ / "o.csv").string(), "--family", "4", "--set", "tube_select=1"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("do not keep 'tube_select'"), std::string::npos) << r.err;
  r = Run({"convert", in, (dir_ / "o.csv").string(), "--family", "8", "--set", "url=" + std::string(33, 'u')});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("URL"), std::string::npos) << r.err;
  EXPECT_FALSE(std::filesystem::exists(dir_ / "o.csv"));
  r = Run({"decode", (dir_ / "missing.csv").string(), "--family", "4"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("Failed to open the file."), std::string::npos);
  r = Run({"read", "x.csv"});
  EXPECT_EQ(r.code, 2);  // a device command without --port
}

}  // namespace
}  // namespace norvane
