// Reading files whole or in part: regular files only, never waiting on a FIFO or a device.
#include "core/platform/file_read.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/common/temp_dir.h"

namespace norvane {
namespace {

using testing::TempDir;
using testing::WriteAll;

TEST(FileRead, RegularFilesAreReadWholeOrInPart) {
  TempDir dir;
  WriteAll(dir / "f.bin", std::string("ab\0cd", 5));
  std::string error;
  const auto prefix = ReadFilePrefix(dir / "f.bin", 3, &error);
  ASSERT_TRUE(prefix) << error;
  EXPECT_EQ(prefix->file_size, 5u);
  EXPECT_EQ(std::string(prefix->bytes.begin(), prefix->bytes.end()), std::string("ab\0", 3));

  ReadFailure failure = ReadFailure::kRefused;
  EXPECT_EQ(ReadRegularFile(dir / "f.bin", 5, &error, &failure), std::string("ab\0cd", 5));
  EXPECT_EQ(failure, ReadFailure::kNone);
  EXPECT_FALSE(ReadRegularFile(dir / "f.bin", 4, &error, &failure));
  EXPECT_EQ(error, "larger than 4 bytes");
  EXPECT_EQ(failure, ReadFailure::kRefused);

  EXPECT_FALSE(ReadRegularFile(dir / "missing", 5, &error, &failure));
  EXPECT_EQ(failure, ReadFailure::kMissing);
  EXPECT_EQ(error, "No such file or directory");
  EXPECT_FALSE(ReadFilePrefix(dir.path(), 5, &error));
  EXPECT_EQ(error, "Is a directory");
}

TEST(FileRead, FifosAndDevicesAreRefusedAtOnce) {
  TempDir dir;
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  for (const std::filesystem::path& path : {dir / "fifo", std::filesystem::path("/dev/zero")}) {
    SCOPED_TRACE(path.string());
    std::string error;
    ReadFailure failure = ReadFailure::kNone;
    EXPECT_FALSE(ReadRegularFile(path, 1 << 20, &error, &failure));  // with no writer, an open would block
    EXPECT_EQ(error, "not a regular file");
    EXPECT_EQ(failure, ReadFailure::kRefused);
    EXPECT_FALSE(ReadFilePrefix(path, 1 << 20, &error));
    EXPECT_EQ(error, "not a regular file");
  }
}

}  // namespace
}  // namespace norvane
