#include "core/store/seconds_writer.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/resource.h>

#include <csignal>

#include <fstream>
#include <thread>

#include "tests/common/recording_notifier.h"
#include "tests/common/temp_dir.h"

namespace norvane::store {
namespace {

using namespace std::chrono_literals;
using testing::RecordingNotifier;
using testing::TempDir;

constexpr int64_t kT0 = 1'780'000'020;
const CounterInfo kCounter{"ZQT-400 V4.2", "1", "ZQT-400", "/dev/ttyUSB0", ""};
constexpr WriterPauses kQuickRetry{std::chrono::milliseconds(50), std::chrono::milliseconds(200)};

TEST(SecondsWriterTest, CommitsEachSecondWithoutTheCallerWaiting) {
  TempDir dir;
  RecordingNotifier notifier;
  SecondsWriter writer(dir / "s.sqlite", notifier);
  const auto handle = writer.AddCounter(kCounter, kT0);
  for (int i = 0; i < 5; ++i) {
    const auto before = std::chrono::steady_clock::now();
    writer.Append(handle, kT0 + i, static_cast<uint32_t>(i));
    EXPECT_LT(std::chrono::steady_clock::now() - before, 20ms);
    ASSERT_TRUE(writer.Flush(5s));
    // Committed means another connection sees it at once.
    Store reader(dir / "s.sqlite", Store::Access::kReadOnly);
    EXPECT_EQ(reader.ReadSeconds(*writer.StoreId(handle), kT0, kT0 + 60).size(), static_cast<size_t>(i + 1));
  }
  EXPECT_EQ(writer.health().committed, 5u);
  EXPECT_TRUE(notifier.messages().empty());
}

// A small file system that can be filled and made read-only; as root in a container this works,
// elsewhere the test cannot run.
class SmallDisk {
 public:
  explicit SmallDisk(const std::filesystem::path& at) : at_(at) {
    std::filesystem::create_directories(at);
    mounted_ = mount("tmpfs", at.c_str(), "tmpfs", 0, "size=1m") == 0;
  }
  ~SmallDisk() {
    if (mounted_) umount2(at_.c_str(), MNT_DETACH);
  }
  bool mounted() const { return mounted_; }
  bool SetReadOnly(bool read_only) {
    return mount("tmpfs", at_.c_str(), "tmpfs", MS_REMOUNT | (read_only ? MS_RDONLY : 0), "size=1m") == 0;
  }

 private:
  std::filesystem::path at_;
  bool mounted_ = false;
};

TEST(SecondsWriterTest, FullDiskIsReportedOnceThenRecovered) {
  TempDir dir;
  SmallDisk disk(dir / "disk");
  if (!disk.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
  RecordingNotifier notifier;
  const auto path = dir / "disk" / "s.sqlite";
  auto writer = std::make_unique<SecondsWriter>(path, notifier, kQuickRetry);
  const auto handle = writer->AddCounter(kCounter, kT0);
  writer->Append(handle, kT0, 1);
  ASSERT_TRUE(writer->Flush(5s));
  // Fill what is left of the disk.
  const auto filler = dir / "disk" / "filler";
  {
    std::ofstream out(filler, std::ios::binary);
    const std::string block(4096, 'x');
    while (out.write(block.data(), block.size())) {
    }
  }
  // Seconds keep arriving the whole time; the caller never stops.
  int64_t t = kT0 + 1;
  for (; t < kT0 + 3000; ++t) writer->Append(handle, t, static_cast<uint32_t>(t % 5));
  for (int i = 0; i < 100 && !writer->health().failing; ++i) std::this_thread::sleep_for(20ms);
  ASSERT_TRUE(writer->health().failing);
  std::this_thread::sleep_for(300ms);
  for (; t < kT0 + 3010; ++t) writer->Append(handle, t, 1);
  const auto messages = notifier.messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].text.find("cannot be written"), std::string::npos) << messages[0].text;
  EXPECT_TRUE(messages[0].text.find("full") != std::string::npos ||
              messages[0].text.find("No space") != std::string::npos)
      << messages[0].text;

  std::filesystem::remove(filler);
  ASSERT_TRUE(writer->Flush(10s));
  EXPECT_TRUE(notifier.HasStatusContaining("is written again"));
  writer.reset();
  Store s(path);
  EXPECT_EQ(s.ReadSeconds(1, kT0, kT0 + 4000).size(), 3010u);
  EXPECT_TRUE(s.Check().ok());
}

TEST(SecondsWriterTest, ReadOnlyStoreIsReportedOnceThenRecovered) {
  TempDir dir;
  SmallDisk disk(dir / "disk");
  if (!disk.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
  const auto path = dir / "disk" / "s.sqlite";
  {
    Store s(path);
    s.RegisterCounter(kCounter, kT0);
  }
  ASSERT_TRUE(disk.SetReadOnly(true));
  RecordingNotifier notifier;
  {
    SecondsWriter writer(path, notifier, kQuickRetry);
    const auto handle = writer.AddCounter(kCounter, kT0);
    for (int i = 0; i < 5; ++i) {
      writer.Append(handle, kT0 + i, 2);
      std::this_thread::sleep_for(60ms);
    }
    EXPECT_FALSE(writer.Flush(200ms));
    ASSERT_EQ(notifier.messages().size(), 1u);
    EXPECT_NE(notifier.messages()[0].text.find(path.string()), std::string::npos);
    EXPECT_GE(writer.health().failures, 2u);  // tried again, told once
    ASSERT_TRUE(disk.SetReadOnly(false));
    EXPECT_TRUE(writer.Flush(10s));
  }
  Store s(path);
  EXPECT_EQ(s.ReadSeconds(1, kT0, kT0 + 60).size(), 5u);
  EXPECT_TRUE(s.Check().ok());
}

// Another program holding the write lock longer than the busy timeout: told once, then written.
TEST(SecondsWriterTest, LockedStoreIsReportedOnceThenRecovered) {
  TempDir dir;
  const auto path = dir / "s.sqlite";
  { Store s(path); }
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
  RecordingNotifier notifier;
  {
    SecondsWriter writer(path, notifier, kQuickRetry);
    const auto handle = writer.AddCounter(kCounter, kT0);
    writer.Append(handle, kT0, 4);
    for (int i = 0; i < 300 && !writer.health().failing; ++i) std::this_thread::sleep_for(20ms);
    ASSERT_TRUE(writer.health().failing);
    ASSERT_EQ(notifier.messages().size(), 1u);
    EXPECT_NE(notifier.messages()[0].text.find("locked"), std::string::npos) << notifier.messages()[0].text;
    writer.Append(handle, kT0 + 1, 5);
    ASSERT_EQ(sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
    EXPECT_TRUE(writer.Flush(10s));
  }
  sqlite3_close(other);
  Store s(path);
  EXPECT_EQ(s.ReadSeconds(1, kT0, kT0 + 60), (std::vector<Second>{{kT0, 4}, {kT0 + 1, 5}}));
}

// Where no file system can be mounted, a file size limit makes the disk "full" for this process
// alone; it runs in a child so the limit ends with it.
TEST(SecondsWriterTest, FileSizeLimitIsReportedOnceThenRecovered) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  TempDir dir;
  const auto path = dir / "s.sqlite";
  {
    Store s(path);
    s.RegisterCounter(kCounter, kT0);
  }
  const auto run = [&] {
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    const rlimit tight{4096, limit.rlim_max};  // less than one commit needs
    setrlimit(RLIMIT_FSIZE, &tight);
    RecordingNotifier notifier;
    uint64_t failures = 0;
    {
      SecondsWriter writer(path, notifier, kQuickRetry);
      const auto handle = writer.AddCounter(kCounter, kT0);
      for (int i = 0; i < 600; ++i) writer.Append(handle, kT0 + i, 1);
      if (writer.Flush(500ms)) std::exit(10);  // the limit did not bite
      failures = writer.health().failures;
      setrlimit(RLIMIT_FSIZE, &limit);
      if (!writer.Flush(10s)) std::exit(11);
    }
    Store s(path);
    const bool told_once = notifier.messages().size() == 1 && failures >= 1 &&
                           notifier.messages()[0].text.find("cannot be written") != std::string::npos;
    std::exit(!told_once ? 12 : s.ReadSeconds(1, kT0, kT0 + 600).size() != 600 ? 13 : !s.Check().ok() ? 14 : 0);
  };
  EXPECT_EXIT(run(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace norvane::store
