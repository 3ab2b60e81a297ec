// Saves that are killed or given up part-way, and the temporary files such kills used to leave behind.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <thread>

#include "core/platform/atomic_file.h"
#include "tests/common/temp_dir.h"

namespace norvane {
namespace {

namespace fs = std::filesystem;
using testing::EntryCount;
using testing::TempDir;

// Entries beside the target other than a whole new file a kill caught between naming it and
// renaming it over the target: that one is the next save's to clear once stale.
size_t OtherEntries(const fs::path& dir, const fs::path& target, uintmax_t whole) {
  size_t n = 0;
  for (const auto& entry : fs::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    const bool caught_in_rename = name.starts_with("." + target.filename().string() + ".") && name.ends_with(".tmp") &&
                                  entry.file_size() == whole;
    n += entry.path() != target && !caught_in_rename;
  }
  return n;
}

std::string Listing(const fs::path& dir) {
  std::string names;
  for (const auto& entry : fs::directory_iterator(dir)) names += entry.path().filename().string() + " ";
  return names;
}

TEST(KilledWriter, SigkillAtRandomMomentsLeavesTheOldFileOrTheNewOneAndNothingElse) {
  TempDir dir;
  const fs::path target = dir / "day.rbn";
  const std::string old_contents(1000, 'o');
  ASSERT_TRUE(AtomicWriteFile(target, old_contents));
  {
    AtomicFileWriter given_up(target);  // an export whose reading failed part-way
    ASSERT_TRUE(given_up.Write("half of it"));
  }
  EXPECT_EQ(EntryCount(dir.path()), 1u) << Listing(dir.path());
  EXPECT_EQ(fs::file_size(target), old_contents.size());
  // Large enough that most of a save is spent writing and flushing.
  const std::string new_contents(4 << 20, 'n');
  std::mt19937 random(20260307);
  for (int round = 0; round < 10; ++round) {
    const pid_t writer = ::fork();
    ASSERT_GE(writer, 0);
    if (writer == 0) {
      // Whole buffers and, as the exports write them, parts.
      for (bool parts = false;; parts = !parts) {
        if (!parts) {
          AtomicWriteFile(target, new_contents);
          continue;
        }
        AtomicFileWriter file(target);
        constexpr size_t kPart = 64 << 10;
        for (size_t at = 0; at < new_contents.size(); at += kPart) file.Write(std::string_view(new_contents).substr(at, kPart));
        file.Commit();
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5 + random() % 100));
    ::kill(writer, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(writer, &status, 0), writer);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(OtherEntries(dir.path(), target, new_contents.size()), 0u) << "round " << round << ": " << Listing(dir.path());
    const auto size = fs::file_size(target);
    EXPECT_TRUE(size == old_contents.size() || size == new_contents.size()) << size;
  }
}

TEST(KilledWriter, TemporaryFilesLeftByAnOlderKillAreRemovedByTheNextSave) {
  TempDir dir;
  const fs::path target = dir / "day.csv";
  const auto an_hour_ago = fs::file_time_type::clock::now() - std::chrono::hours(1);
  const auto leave = [&](const char* name, bool old) {
    testing::WriteAll(dir / name, "half");
    if (old) fs::last_write_time(dir / name, an_hour_ago);
  };
  leave(".day.csv.0badc0de.tmp", true);   // ours, stale: goes
  leave(".day.csv.1234abcd.tmp", false);  // ours, but a save may be writing it right now: stays
  leave(".other.csv.0badc0de.tmp", true); // another target's
  leave(".day.csv.notours.tmp", true);    // not a name we give
  leave("day.csv.0badc0de.tmp", true);    // nor this
  ASSERT_TRUE(AtomicWriteFile(target, "whole"));
  EXPECT_EQ(testing::ReadAll(target), "whole");
  EXPECT_FALSE(fs::exists(dir / ".day.csv.0badc0de.tmp"));
  EXPECT_EQ(EntryCount(dir.path()), 5u) << Listing(dir.path());
}

}  // namespace
}  // namespace norvane
