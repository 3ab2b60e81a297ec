#include "cli/cli.h"

#include <cstdlib>

#include <gtest/gtest.h>

#include <sstream>

#include "cli/command.h"
#include "tests/core/history/image_builder.h"
#include "tests/common/cli_run.h"
#include "tests/common/temp_dir.h"

namespace norvane {
namespace {

using testing::Hex;
using testing::operator+;
using testing::Repeat;
using testing::Stamp;
using testing::TempDir;
using testing::WriteAll;

using Result = testing::CliResult;

class CliTest : public ::testing::Test {
 protected:
  Result Run(std::vector<std::string> args) { return testing::RunCli(dir_, std::move(args)); }
  std::string Image(const std::string& name, const std::vector<uint8_t>& bytes) {
    WriteAll(dir_ / name, std::string(bytes.begin(), bytes.end()));
    return (dir_ / name).string();
  }
  void Settings(std::string_view values) {
    WriteAll(dir_ / "settings.reg",
             "Windows Registry Editor Version 5.00\r\n\r\n"
             "[HKEY_CURRENT_USER\\Software\\Norvane Data Viewer\\Settings]\r\n" +
                 std::string(values));
  }

  TempDir dir_;
};

TEST_F(CliTest, WalkPrintsOneLinePerEvent) {
  const auto image = Hex("01 02") + Stamp(24, 2, 29, 12, 5, 0, 1) + Hex("0A 55 AA 02 03 41 0A 42 0D FF 55 AA 01 01 2C");
  const Result r = Run({"walk", Image("h.bin", image)});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out,
            "stamp 2 2024-02-29 12:05:00 1\n"
            "sample 14 10\n"
            "note 15 A\\x0AB\n"
            "sample 22 13\n"
            "sample 24 300\n");
}

TEST_F(CliTest, WindowAsTextAndJson) {
  const auto image = Stamp(24, 1, 31, 12, 5, 0, 2) + Repeat(10, 100) + Stamp(24, 1, 31, 14, 0, 0, 2) +
                     Hex("55 AA 02 02 22 5C") + Repeat(20, 100);
  const std::string path = Image("h.bin", image);

  Result r = Run({"window", path});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("position   0\n"), std::string::npos);
  EXPECT_NE(r.out.find("sum        600\n"), std::string::npos);
  // Per-minute data reads as ACPM at position 0 too, with the dose of that rate.
  EXPECT_NE(r.out.find("rate       ACPM:10\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("dose       0.065 uSv/h\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("time       2024-01-31 12:05:00\n"), std::string::npos);
  EXPECT_NE(r.out.find("first_step 13\n"), std::string::npos);

  r = Run({"window", path, "--pos", "132", "--json"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "{\"position\":132,\"values\":[" + [] {
    std::string v = "20";
    for (int i = 1; i < 60; ++i) v += ",20";
    return v;
  }() + "],\"types\":[" + [] {
    std::string v = "2";
    for (int i = 1; i < 60; ++i) v += ",2";
    return v;
  }() + "],\"sum\":1200,\"rate\":\"ACPM:20\",\"dose\":\"0.130 uSv/h\",\"time\":\"2024-01-31 14:00:00\","
        "\"note\":\"\\\"\\\\\",\"first_step\":0}\n");
}

TEST_F(CliTest, ModelComesFromOptionFileSizeOrSettings) {
  // Samples stored after the 64 KiB history of a ZQT-100 belong to its configuration block.
  auto image = Stamp(24, 1, 1, 0, 0, 0, 1) + Repeat(0xFF, 0x10000 - 12) + Repeat(7, 256);
  EXPECT_EQ(Run({"walk", Image("dump.bin", image)}).out, "stamp 0 2024-01-01 00:00:00 1\n");

  image.push_back(7);  // no model's size fits any more: the settings' model decides
  const std::string odd = Image("odd.bin", image);
  EXPECT_EQ(Run({"walk", odd}).out.size(), 30u + 257 * 15);  // ZQT-400, the first entry: 1 MiB
  Settings("\"nLastGeigerCounterSelected\"=dword:00000004\r\n");
  EXPECT_EQ(Run({"walk", odd}).out, "stamp 0 2024-01-01 00:00:00 1\n");
  EXPECT_EQ(Run({"--model", "ZQT-LT", "walk", odd}).out.size(), 30u + 257 * 15);
}

TEST_F(CliTest, CalibrationFromTheSettingsDrivesTheDoseText) {
  Settings("\"uSVCAL0CPM\"=dword:00000064\r\n\"uSVCAL0uSv\"=\"1.0\"\r\n");
  const auto image = Repeat(1, 40) + Stamp(24, 1, 1, 0, 0, 0, 1) + Repeat(1, 100);
  const Result r = Run({"window", Image("h.bin", image), "--pos", "40", "--json"});
  EXPECT_NE(r.out.find("\"dose\":\"0.600 uSv/h\""), std::string::npos) << r.out;  // 60 CPM at 1/100 per CPM
}

TEST_F(CliTest, CommandsThatOnlyReadLeaveTheSettingsFileAlone) {
  const std::string image = Image("h.bin", Stamp(24, 1, 1, 0, 0, 0, 1) + Repeat(3, 70));
  const std::string csv = (dir_ / "out.csv").string();
  const std::vector<std::vector<std::string>> commands = {
      {"walk", image}, {"window", image, "--json"}, {"export", image, csv}, {"ports"}};

  // None yet: none is made.
  for (const auto& args : commands) EXPECT_EQ(Run(args).code, 0) << args[0];
  EXPECT_FALSE(std::filesystem::exists(dir_ / "settings.reg"));

  // Valid settings are used and not rewritten.
  Settings("\"CsvSaveUseSemicolon\"=dword:00000001\r\n");
  const std::string valid = testing::ReadAll(dir_ / "settings.reg");
  for (const auto& args : commands) EXPECT_EQ(Run(args).code, 0) << args[0];
  EXPECT_EQ(testing::ReadAll(dir_ / "settings.reg"), valid);
  EXPECT_NE(testing::ReadAll(csv).find(';'), std::string::npos);

  // Binary junk is not a settings file: kept as it is, with a word about it, and the defaults apply.
  std::string junk;
  for (int i = 0; i < 4096; ++i) junk.push_back(static_cast<char>((i * 7919) % 251));
  WriteAll(dir_ / "settings.reg", junk);
  for (const auto& args : commands) {
    const Result r = Run(args);
    EXPECT_EQ(r.code, 0) << args[0];
    EXPECT_NE(r.err.find("settings.reg: does not read as a settings file"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("it is left as it is and the defaults apply"), std::string::npos) << r.err;
  }
  EXPECT_EQ(testing::ReadAll(dir_ / "settings.reg"), junk);
  EXPECT_EQ(testing::ReadAll(csv).find(';'), std::string::npos);

  // An endless file is not read at all (it used to end the program with std::bad_alloc).
  const Result zero = Run({"--settings", "/dev/zero", "walk", image});
  EXPECT_EQ(zero.code, 0);
  EXPECT_NE(zero.err.find("settings file /dev/zero: not a regular file"), std::string::npos) << zero.err;
}

TEST_F(CliTest, FailuresAndUsageErrors) {
  const std::string image = Image("h.bin", Stamp(24, 1, 1, 0, 0, 0, 1));
  Result r = Run({"walk", (dir_ / "missing.bin").string()});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("missing.bin"), std::string::npos);
  EXPECT_NE(r.err.find("No such file"), std::string::npos);

  r = Run({"walk", dir_.path().string()});
  EXPECT_EQ(r.code, 1);

  r = Run({"--model", "ZQT-999", "walk", image});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("ZQT-999"), std::string::npos);

  // A wrong word or value: the problem and the command's usage.
  for (const auto& args : std::vector<std::vector<std::string>>{
           {}, {"walk"}, {"walk", image, image}, {"window", image, "--pos", "12x"}}) {
    r = Run(args);
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("usage: norvane-cli"), std::string::npos);
  }
  // An option or command it does not know, or an option without its value: one line that names
  // it and where the help is.
  for (const auto& [args, line] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"frobnicate"}, "unknown command 'frobnicate'; see 'norvane-cli --help'"},
           {{"--bogus", "walk", image}, "unknown option '--bogus'; see 'norvane-cli --help'"},
           {{"record", "--bogus"}, "unknown option '--bogus'; see 'norvane-cli record --help'"},
           {{"window", image, "--pos"}, "--pos needs a value; see 'norvane-cli window --help'"},
           {{"wifi", "show", "--ssid", "x"}, "unknown option '--ssid'; see 'norvane-cli wifi --help'"},
           {{"walk", image, "--settings"}, "--settings needs a value; see 'norvane-cli walk --help'"}}) {
    r = Run(args);
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.err, "norvane-cli: " + line + "\n");
  }
}

// --version, each command's own help and the usage, wrapped to the terminal's width.
TEST_F(CliTest, VersionAndHelpOfEveryCommandWithinTheWidth) {
  Result r = Run({"--version"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out, std::string("norvane-cli ") + NORVANE_VERSION + "\n");

  constexpr size_t kWidth = 50;
  setenv("COLUMNS", std::to_string(kWidth).c_str(), 1);
  const auto within = [&](const std::string& text) {
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
      if (line.size() > kWidth) return line;
    return std::string();
  };
  r = Run({"--help"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(within(r.out), "");
  for (const cli::Command& c : cli::Commands()) {
    for (const std::string help : {"--help", "-h"}) {
      r = Run({std::string(c.name), help});
      EXPECT_EQ(r.code, 0) << c.name;
      EXPECT_TRUE(r.out.starts_with("usage: norvane-cli ")) << r.out;
      EXPECT_EQ(within(r.out), "") << c.name;
      for (const OptionEntry& o : c.options) EXPECT_NE(r.out.find("\n  " + std::string(o.name)), std::string::npos) << o.name;
    }
  }
  unsetenv("COLUMNS");
}

}  // namespace
}  // namespace norvane
