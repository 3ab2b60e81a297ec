// norvane-cli monitor over a pseudo-terminal against the simulated counter.
#include <gtest/gtest.h>

#include <signal.h>

#include <filesystem>

#include "core/common/text_format.h"
#include "core/files/local_time.h"
#include "tests/common/temp_dir.h"
#include "tests/integration/child_process.h"
#include "tests/integration/simulated_line.h"

namespace norvane {
namespace {

using namespace std::chrono_literals;
using testing::SimulatedLine;

#ifdef NORVANE_CLI_PATH
using testing::ChildCli;

// A counter at 1200 CPM.
sim::CounterOptions CounterAt1200(std::string_view model) {
  sim::CounterOptions options = testing::CounterFor(model);
  options.cpm = 1200;
  return options;
}


// Reads `count` lines of standard output, each within 10 s; how many came.
int ReadLines(ChildCli& cli, int count) {
  int lines = 0;
  while (lines < count && !cli.ReadLine(std::chrono::seconds(10)).empty()) ++lines;
  return lines;
}

std::string Printed(const ChildCli& cli) {
  std::string all;
  for (const std::string& line : cli.printed) all += line + "\n";
  return all;
}

std::vector<std::string> MonitorArgs(const SimulatedLine& line, const testing::TempDir& dir) {
  return {"--settings", (dir / "settings.reg").string(), "--model", "ZQT-400", "--port", line.path(), "monitor"};
}

std::vector<std::string> Split(const std::string& text, const std::string& separator) {
  std::vector<std::string> parts;
  size_t from = 0;
  for (size_t at; (at = text.find(separator, from)) != std::string::npos; from = at + separator.size())
    parts.push_back(text.substr(from, at - from));
  parts.push_back(text.substr(from));
  return parts;
}

// What the three files of one saved recording hold, read back independently of the writers.
struct SavedRecording {
  StampTime start;
  std::vector<uint32_t> rbn;          // one byte a second (the simulator's counts stay below 255)
  std::vector<std::string> csv_rows;  // "time,uSv/h,CPM,counts...," per row
  std::vector<uint32_t> csv_seconds;
  std::vector<uint32_t> html_seconds;
};

SavedRecording ReadRecording(const std::filesystem::path& base) {
  SavedRecording r;
  const std::string rbn = testing::ReadAll(base.string() + ".rbn");
  if (rbn.size() < 12) return r;
  r.start = {static_cast<uint8_t>(rbn[3]), static_cast<uint8_t>(rbn[4]), static_cast<uint8_t>(rbn[5]),
             static_cast<uint8_t>(rbn[6]), static_cast<uint8_t>(rbn[7]), static_cast<uint8_t>(rbn[8])};
  for (size_t i = 12; i < rbn.size(); ++i) r.rbn.push_back(static_cast<uint8_t>(rbn[i]));
  const std::vector<std::string> lines = Split(testing::ReadAll(base.string() + ".csv"), "\r\n");
  for (size_t i = 2; i < lines.size(); ++i) {
    if (lines[i].empty()) continue;
    r.csv_rows.push_back(lines[i]);
    const std::vector<std::string> cells = Split(lines[i], ",");
    for (size_t c = 3; c + 1 < cells.size(); ++c) r.csv_seconds.push_back(static_cast<uint32_t>(std::stoul(cells[c])));
  }
  const std::vector<std::string> html_rows = Split(testing::ReadAll(base.string() + ".html"), "<TR><TD>");
  for (size_t row = 1; row < html_rows.size(); ++row) {  // the first piece is the page head
    const std::vector<std::string> cells = Split(html_rows[row], "<TD>");
    // Row time, CPM, then the seconds.
    for (size_t c = 2; c < cells.size(); ++c) r.html_seconds.push_back(static_cast<uint32_t>(std::stoul(cells[c])));
  }
  return r;
}

std::filesystem::path OnlyRecording(const std::filesystem::path& folder) {
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    if (entry.path().extension() == ".rbn") return entry.path().parent_path() / entry.path().stem();
  return {};
}

// norvane-cli monitor against the simulator: 20 seconds, then Ctrl+C.
TEST(MonitorCommand, TwentySecondsAreSavedOnInterruptAndEveryFileHoldsThemAll) {
  SimulatedLine line(CounterAt1200("ZQT-400"));
  ASSERT_TRUE(line.ok());
  testing::TempDir dir;
  std::vector<std::string> args = MonitorArgs(line, dir);
  args.insert(args.end(), {"--out", (dir / "out").string()});
  SystemClock clock;
  const std::time_t began = clock.Now();
  ChildCli cli(args);
  ASSERT_TRUE(cli.started());
  EXPECT_EQ(ReadLines(cli, 20), 20) << Printed(cli);
  cli.Signal(SIGINT);
  EXPECT_EQ(cli.Wait(), 0) << cli.said;
  EXPECT_NE(cli.said.find("saved 20 recorded seconds to "), std::string::npos) << cli.said;
  EXPECT_EQ(testing::EntryCount(dir / "out"), 3u);

  const SavedRecording saved = ReadRecording(OnlyRecording(dir / "out"));
  // The measured seconds only, stamped with the first of them, and all of them in every file.
  ASSERT_EQ(saved.rbn.size(), 20u);
  EXPECT_EQ(saved.csv_seconds, saved.rbn);
  EXPECT_EQ(saved.html_seconds, saved.rbn);
  ASSERT_EQ(saved.csv_rows.size(), 1u);
  const std::time_t start = TimeFromLocal(clock, LocalFromStamp(saved.start));
  EXPECT_GE(start, began);
  EXPECT_LE(start, began + 10);
  EXPECT_TRUE(saved.csv_rows[0].starts_with(Format("20%02d-%02d-%02d %02d:%02d,", saved.start.year, saved.start.month,
                                                   saved.start.day, saved.start.hour, saved.start.minute)))
      << saved.csv_rows[0];
}

TEST(MonitorCommand, EightSecondsGiveEightSecondsInEveryFile) {
  SimulatedLine line(CounterAt1200("ZQT-400"));
  ASSERT_TRUE(line.ok());
  testing::TempDir dir;
  std::vector<std::string> args = MonitorArgs(line, dir);
  args.insert(args.end(), {"--seconds", "8", "--quiet", "--out", (dir / "out").string()});
  ChildCli cli(args);
  ASSERT_TRUE(cli.started());
  ASSERT_EQ(cli.Wait(), 0) << cli.said;
  const SavedRecording saved = ReadRecording(OnlyRecording(dir / "out"));
  ASSERT_EQ(saved.rbn.size(), 8u);
  EXPECT_EQ(saved.csv_seconds, saved.rbn);
  EXPECT_EQ(saved.html_seconds, saved.rbn);
  uint32_t sum = 0;
  for (uint32_t v : saved.rbn) sum += v;
  EXPECT_GT(sum, 0u);  // 1200 CPM: 20 counts a second on average
  ASSERT_EQ(saved.csv_rows.size(), 1u);
  EXPECT_EQ(Split(saved.csv_rows[0], ",").at(2), std::to_string(sum));
}

TEST(MonitorCommand, AFolderLostMidRunKeepsTheWholeRecordingInTheTemporaryFolder) {
  SimulatedLine line(CounterAt1200("ZQT-400"));
  ASSERT_TRUE(line.ok());
  testing::TempDir dir;
  std::filesystem::create_directory(dir / "tmp");
  std::vector<std::string> args = MonitorArgs(line, dir);
  // Automatic saves every third second, each restarting the recording when it succeeds.
  args.insert(args.end(), {"--autosave", "2", "--type", "rbn", "--out", (dir / "out").string()});
  ChildCli cli(args, {"TMPDIR=" + (dir / "tmp").string()});
  ASSERT_TRUE(cli.started());
  ASSERT_EQ(ReadLines(cli, 1), 1);
  std::filesystem::remove_all(dir / "out");  // the stick is pulled before the first save
  EXPECT_EQ(ReadLines(cli, 7), 7) << Printed(cli);
  cli.Signal(SIGINT);
  EXPECT_EQ(cli.Wait(), 1) << cli.said;

  // Every automatic save failed, none threw the seconds away, and the end kept them all.
  EXPECT_NE(cli.said.find("File error:"), std::string::npos) << cli.said;
  const size_t kept = cli.said.find(" recorded seconds are kept in " + (dir / "tmp").string() + "/");
  ASSERT_NE(kept, std::string::npos) << cli.said;
  const size_t number = cli.said.rfind("the ", kept) + 4;
  const uint32_t seconds = static_cast<uint32_t>(std::stoul(cli.said.substr(number, kept - number)));
  EXPECT_GE(seconds, 8u);
  const SavedRecording saved = ReadRecording(OnlyRecording(dir / "tmp"));
  EXPECT_EQ(saved.rbn.size(), seconds);
  EXPECT_EQ(saved.csv_seconds, saved.rbn);
  EXPECT_FALSE(std::filesystem::exists(dir / "out"));
}
#endif

}  // namespace
}  // namespace norvane
