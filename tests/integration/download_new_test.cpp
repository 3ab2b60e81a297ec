// "Download New" through norvane-cli against simulated counters whose history grew or was replaced.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <ctime>
#include <filesystem>

#include "core/history/download.h"
#include "core/history/download_new.h"
#include "core/store/last_download.h"
#include "core/store/store.h"
#include "sim/faults.h"
#include "sim/history_generator.h"
#include "tests/common/temp_dir.h"
#include "tests/integration/simulated_line.h"

extern char** environ;

namespace norvane {
namespace {

using testing::SimulatedLine;
using testing::TempDir;

constexpr uint32_t kFlashSize = 64 * 1024;  // a ZQT-100

struct CliResult {
  int code = -1;
  std::string out, err;
};

// One norvane-cli download with its own settings and store in `dir`.
CliResult Download(const TempDir& dir, const std::string& port, std::vector<std::string> args) {
  std::vector<std::string> all = {NORVANE_CLI_PATH, "--settings", (dir / "settings.reg").string(), "--store",
                                  (dir / "store.sqlite").string(), "--port", port, "download", "--speed", "100"};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  const std::string out = (dir / "out.txt").string(), err = (dir / "err.txt").string();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = -1;
  CliResult result;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
    int status = 0;
    if (waitpid(pid, &status, 0) == pid && WIFEXITED(status)) result.code = WEXITSTATUS(status);
  }
  posix_spawn_file_actions_destroy(&actions);
  result.out = testing::ReadAll(out);
  result.err = testing::ReadAll(err);
  return result;
}

// A realistic history filling most of the flash, and the same history cut short at `end`.
std::vector<uint8_t> History(uint32_t seed) {
  sim::HistoryOptions options;
  options.image_size = kFlashSize;
  options.filled_fraction = 0.8;
  options.seed = seed;
  return sim::GenerateHistory(options);
}
std::vector<uint8_t> CutAt(std::vector<uint8_t> history, uint32_t end) {
  std::fill(history.begin() + end, history.end(), uint8_t{0xFF});
  return history;
}

SimulatedLine Counter(const std::vector<uint8_t>& history) {
  sim::CounterOptions options = testing::CounterFor("ZQT-100");
  options.history = history;
  return SimulatedLine(std::move(options));
}

// This machine's clock, moved by hand: a counter made while it stood a day back has been running
// for a day when it is moved to now.
class MovedClock final : public Clock {
 public:
  explicit MovedClock(std::time_t shift) : shift_(shift) {}
  std::time_t Now() const override { return std::time(nullptr) + shift_.load(); }
  LocalTime ToLocal(std::time_t t) const override { return SystemClock().ToLocal(t); }
  void MoveTo(std::time_t shift) { shift_ = shift; }

 private:
  std::atomic<std::time_t> shift_;
};

std::vector<uint32_t> RequestedAddresses(const SimulatedLine& line) {
  std::vector<uint32_t> out;
  for (const testing::SeenFrame& f : line.FramesOf(sim::CommandKind::kReadFlash))
    out.push_back((uint32_t{f.arguments[0]} << 16) | (uint32_t{f.arguments[1]} << 8) | f.arguments[2]);
  return out;
}

std::string Image(const std::filesystem::path& dump) { return testing::ReadAll(dump).substr(0, kFlashSize); }

TEST(DownloadNew, AGrownHistoryIsReadFromTheOldEndOnAndGivesTheSameDumpAsAFullDownload) {
  TempDir dir;
  const std::vector<uint8_t> grown = History(3);
  const uint32_t full_end = ImageDataEnd(grown);
  ASSERT_GT(full_end, 20000u);
  // Mid-block, so the block holding the old end brings both old and new bytes.
  const uint32_t old_end = full_end - 5000 - 300;
  {
    SimulatedLine before = Counter(CutAt(grown, old_end));
    ASSERT_TRUE(before.ok());
    const CliResult first = Download(dir, before.path(), {(dir / "first").string()});
    ASSERT_EQ(first.code, 0) << first.err;
  }
  SimulatedLine after = Counter(grown);
  ASSERT_TRUE(after.ok());
  const CliResult again = Download(dir, after.path(), {"--new", (dir / "new").string()});
  ASSERT_EQ(again.code, 0) << again.err;
  const std::vector<uint32_t> asked = RequestedAddresses(after);
  ASSERT_FALSE(asked.empty());
  EXPECT_EQ(asked.front(), ResumeAddress(old_end));
  for (uint32_t a : asked) EXPECT_GE(a, ResumeAddress(old_end)) << "a block before the old end was read again";
  // The bar counts what is read this time, not the whole flash.
  EXPECT_NE(again.err.find("/" + std::to_string(kFlashSize - ResumeAddress(old_end)) + " bytes"), std::string::npos)
      << again.err;
  {
    // The history and the download kept for the next --new are one counter's: a download kept
    // apart from its history had every import read the whole flash again.
    store::Store db(dir / "store.sqlite", store::Store::Access::kReadOnly);
    const std::vector<store::CounterRow> counters = db.Counters();
    ASSERT_EQ(counters.size(), 1u);
    const auto kept = store::FindLastDownload(db, counters[0].info.version, kFlashSize);
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->counter, counters[0].id);
    EXPECT_FALSE(db.History(counters[0].id, INT64_MIN / 4, INT64_MAX / 4).empty());
  }

  after.Forget();
  const CliResult full = Download(dir, after.path(), {(dir / "full").string()});
  ASSERT_EQ(full.code, 0) << full.err;
  EXPECT_EQ(RequestedAddresses(after).front(), 0u);
  const std::string continued = Image(dir / "new.bin");
  ASSERT_EQ(continued.size(), kFlashSize);
  EXPECT_TRUE(continued == Image(dir / "full.bin")) << "the continued dump differs from a full download's";
  EXPECT_TRUE(std::equal(grown.begin(), grown.end(), reinterpret_cast<const uint8_t*>(continued.data())));
  // The next --new builds on the grown history: nothing more to read.
  const CliResult third = Download(dir, after.path(), {"--new", (dir / "new").string()});
  EXPECT_EQ(third.out, std::string(kNoNewDataText) + "\n") << third.err;
}

TEST(DownloadNew, AReplacedHistoryIsReportedAndDownloadedWholeNeverSpliced) {
  TempDir dir;
  {
    SimulatedLine before = Counter(CutAt(History(3), 30000));
    ASSERT_TRUE(before.ok());
    ASSERT_EQ(Download(dir, before.path(), {(dir / "first").string()}).code, 0);
  }
  // Cleared and logging again: another history, longer than the old one.
  const std::vector<uint8_t> replaced = History(8);
  ASSERT_GT(ImageDataEnd(replaced), 31000u);
  SimulatedLine after = Counter(replaced);
  ASSERT_TRUE(after.ok());
  const CliResult again = Download(dir, after.path(), {"--new", (dir / "new").string()});
  ASSERT_EQ(again.code, 0) << again.err;
  EXPECT_NE(again.err.find(kHistoryDiffersText), std::string::npos) << again.err;
  const std::vector<uint32_t> asked = RequestedAddresses(after);
  ASSERT_GE(asked.size(), 2u);
  EXPECT_EQ(asked.front(), ResumeAddress(30000));  // the check
  EXPECT_EQ(asked[1], 0u);                         // then everything
  const std::string image = Image(dir / "new.bin");
  ASSERT_EQ(image.size(), kFlashSize);
  EXPECT_TRUE(std::equal(replaced.begin(), replaced.end(), reinterpret_cast<const uint8_t*>(image.data())));
}

TEST(DownloadNew, AnErasedCounterIsNotTakenForAnOldHistoryWithNothingNew) {
  TempDir dir;
  {
    SimulatedLine before = Counter(CutAt(History(3), 30000));
    ASSERT_TRUE(before.ok());
    ASSERT_EQ(Download(dir, before.path(), {(dir / "first").string()}).code, 0);
  }
  // Its erased flash would end a continued download at once, as if the old history were there.
  SimulatedLine cleared = Counter(std::vector<uint8_t>(kFlashSize, 0xFF));
  ASSERT_TRUE(cleared.ok());
  const CliResult again = Download(dir, cleared.path(), {"--new", (dir / "new").string()});
  EXPECT_NE(again.err.find(kHistoryDiffersText), std::string::npos) << again.err;
  EXPECT_EQ(again.out.find(kNoNewDataText), std::string::npos);
  EXPECT_EQ(RequestedAddresses(cleared)[1], 0u);
}

TEST(DownloadNew, NothingNewSaysSoAndLeavesTheDumpAloneAndEveryDownloadKeepsAClockReading) {
  TempDir dir;
  sim::CounterOptions options = testing::CounterFor("ZQT-100");
  options.history = CutAt(History(5), 40000);
  std::string error;
  ASSERT_TRUE(sim::ParseFault("clock-drift", options.faults, &error)) << error;
  // Switched on a day ago with a clock that gains 600 s a day.
  auto owned = std::make_unique<MovedClock>(-86400);
  MovedClock& clock = *owned;
  SimulatedLine line(std::move(options), std::move(owned));
  clock.MoveTo(0);
  ASSERT_TRUE(line.ok());
  const std::filesystem::path dump = dir / "data.bin";
  ASSERT_EQ(Download(dir, line.path(), {(dir / "data").string()}).code, 0);
  const std::string before = testing::ReadAll(dump);
  const auto old_time = std::filesystem::file_time_type::clock::now() - std::chrono::hours(5);
  std::filesystem::last_write_time(dump, old_time);

  line.Forget();
  const int64_t again_began = SystemClock().Now();
  const CliResult again = Download(dir, line.path(), {"--new", (dir / "data").string()});
  EXPECT_EQ(again.code, 0) << again.err;
  EXPECT_EQ(again.out, std::string(kNoNewDataText) + "\n");
  EXPECT_EQ(again.err.find("did not keep this clock reading"), std::string::npos) << again.err;
  EXPECT_EQ(std::filesystem::last_write_time(dump), old_time);
  EXPECT_EQ(testing::ReadAll(dump), before);
  EXPECT_EQ(RequestedAddresses(line).front(), ResumeAddress(40000));

  // A station that is only ever downloaded still has its clock judged: each download read it once.
  EXPECT_EQ(line.FramesOf(sim::CommandKind::kGetDateTime).size(), 1u);
  store::Store db(dir / "store.sqlite", store::Store::Access::kReadOnly);
  const std::vector<store::CounterRow> counters = db.Counters();
  ASSERT_EQ(counters.size(), 1u);
  const std::vector<store::ClockReading> readings = db.ClockReadings(counters[0].id);
  // A counter has one reading a second: two downloads within one second leave the later one.
  ASSERT_FALSE(readings.empty());
  EXPECT_LE(readings.size(), 2u);
  EXPECT_GE(readings.back().time, again_began);
  for (const store::ClockReading& reading : readings) {
    EXPECT_NEAR(reading.offset, 600, 1) << "ahead by what it gained";
    EXPECT_FALSE(reading.set);
  }
}

TEST(DownloadNew, WithoutAKeptDownloadEverythingIsRead) {
  TempDir dir;
  SimulatedLine line = Counter(CutAt(History(5), 20000));
  ASSERT_TRUE(line.ok());
  const CliResult first = Download(dir, line.path(), {"--new", (dir / "data").string()});
  ASSERT_EQ(first.code, 0) << first.err;
  EXPECT_NE(first.err.find("No earlier download of this counter is kept"), std::string::npos) << first.err;
  EXPECT_EQ(RequestedAddresses(line).front(), 0u);
}

}  // namespace
}  // namespace norvane
