// Whether a folder can take files, asked before work whose files would otherwise be lost.
#include "core/platform/folder_check.h"

#include <gtest/gtest.h>

#include "tests/common/temp_dir.h"

namespace norvane {
namespace {

using testing::TempDir;

TEST(CheckFolderWritable, AFolderThatTakesFilesIsLeftAsItWas) {
  TempDir dir;
  EXPECT_EQ(CheckFolderWritable(dir.path()), std::nullopt);
  EXPECT_EQ(testing::EntryCount(dir.path()), 0u);
}

TEST(CheckFolderWritable, SaysWhyAFolderTakesNoFiles) {
  TempDir dir;
  const std::optional<std::string> missing = CheckFolderWritable(dir / "unplugged");
  ASSERT_TRUE(missing);
  EXPECT_NE(missing->find((dir / "unplugged").string()), std::string::npos) << *missing;
  EXPECT_NE(missing->find("No such file or directory"), std::string::npos) << *missing;

  testing::WriteAll(dir / "file", "x");
  EXPECT_EQ(CheckFolderWritable(dir / "file"), (dir / "file").string() + " is not a folder");

  // A folder that exists and takes no files, whoever runs the test (permission bits do not stop
  // root, /proc stops everyone).
  const std::optional<std::string> proc = CheckFolderWritable("/proc");
  ASSERT_TRUE(proc);
  EXPECT_TRUE(proc->starts_with("cannot create files in /proc: ")) << *proc;
}

}  // namespace
}  // namespace norvane
