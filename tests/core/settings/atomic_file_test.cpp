#include "core/platform/atomic_file.h"

#include <gtest/gtest.h>

#include "tests/common/temp_dir.h"

namespace norvane {
namespace {

using testing::EntryCount;
using testing::ReadAll;
using testing::TempDir;
using testing::WriteAll;
namespace fs = std::filesystem;

TEST(AtomicWriteFile, CreatesThenReplacesKeepingPermissionsAndSymlinks) {
  TempDir dir;
  auto real = dir / "real.reg";
  std::string error;
  ASSERT_TRUE(AtomicWriteFile(real, "first, longer contents\n", &error)) << error;
  EXPECT_EQ(ReadAll(real), "first, longer contents\n");
  const auto mode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
  fs::permissions(real, mode);
  fs::create_symlink(real, dir / "link.reg");

  ASSERT_TRUE(AtomicWriteFile(dir / "link.reg", std::string_view("2\0x", 3), &error)) << error;
  EXPECT_EQ(ReadAll(real), std::string("2\0x", 3));  // shorter and binary: no stale tail
  EXPECT_TRUE(fs::is_symlink(dir / "link.reg"));
  EXPECT_EQ(fs::status(real).permissions() & fs::perms::all, mode);
  EXPECT_EQ(EntryCount(dir.path()), 2u);  // no temporary left behind
}

TEST(AtomicWriteFile, FailureReportsTheReasonAndLeavesEverythingAsItWas) {
  TempDir dir;
  std::string error;
  EXPECT_FALSE(AtomicWriteFile(dir / "no-such-folder" / "settings.reg", "x", &error));
  EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
  EXPECT_EQ(EntryCount(dir.path()), 0u);

  auto target = dir / "busy";  // a folder in the way: the rename fails after the data is written
  fs::create_directory(target);
  WriteAll(target / "inside", "keep me");
  error.clear();
  EXPECT_FALSE(AtomicWriteFile(target, "new", &error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(ReadAll(target / "inside"), "keep me");
  EXPECT_EQ(EntryCount(dir.path()), 1u);
  EXPECT_FALSE(AtomicWriteFile("", "x"));
}

}  // namespace
}  // namespace norvane
