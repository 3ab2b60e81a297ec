// Whether a folder can take files: asked before a download, whose file is written only at its end.
#include "core/platform/folder_check.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/common/temp_dir.h"

namespace norvane {
namespace {

using testing::TempDir;

TEST(FolderCheck, AWritableFolderPassesAndKeepsNothingOfTheCheck) {
  TempDir dir;
  EXPECT_EQ(CheckFolderWritable(dir.path().string()), std::nullopt);
  EXPECT_EQ(testing::EntryCount(dir.path()), 0u);
}

TEST(FolderCheck, FoldersThatCannotTakeAFileSayWhy) {
  TempDir dir;
  testing::WriteAll(dir / "plain", "a file");
  EXPECT_EQ(CheckFolderWritable((dir / "missing").string()),
            "cannot write into " + (dir / "missing").string() + ": No such file or directory");
  EXPECT_EQ(CheckFolderWritable((dir / "plain").string()),
            "cannot write into " + (dir / "plain").string() + ": Not a directory");
  // No one, not even root, creates files among the kernel's process entries.
  const std::optional<std::string> proc = CheckFolderWritable("/proc");
  ASSERT_TRUE(proc);
  EXPECT_TRUE(proc->starts_with("cannot write into /proc: ")) << *proc;
}

TEST(FolderCheck, AFolderWithoutWritePermissionIsRefused) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes into any folder";
  TempDir dir;
  std::filesystem::create_directory(dir / "locked");
  ::chmod((dir / "locked").c_str(), 0555);
  EXPECT_EQ(CheckFolderWritable((dir / "locked").string()),
            "cannot write into " + (dir / "locked").string() + ": Permission denied");
  ::chmod((dir / "locked").c_str(), 0755);
}

TEST(FolderCheck, TheTemporaryFolderFollowsTmpdir) {
  const char* saved = std::getenv("TMPDIR");
  const std::string before = saved ? saved : "";
  ::setenv("TMPDIR", "/var/tmp/norvane", 1);
  EXPECT_EQ(TemporaryFolder(), "/var/tmp/norvane");
  ::setenv("TMPDIR", "", 1);
  EXPECT_EQ(TemporaryFolder(), "/tmp");
  ::unsetenv("TMPDIR");
  EXPECT_EQ(TemporaryFolder(), "/tmp");
  if (saved) ::setenv("TMPDIR", before.c_str(), 1);
}

}  // namespace
}  // namespace norvane
