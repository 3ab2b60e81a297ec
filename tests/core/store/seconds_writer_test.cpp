#include "core/store/seconds_writer.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <fstream>
#include <thread>

#include "core/alarm/alarm_sink.h"
#include "core/store/seconds_journal.h"
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

// Waits for `done` until the deadline; true when it came.
template <typename Done>
bool WaitFor(Done done, std::chrono::milliseconds limit = 10s) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

// A writer in a child process: `work` runs there and the child ends with its exit code (or is
// killed by the test); the test talks to it through one byte on a pipe.
class Child {
 public:
  template <typename Work>
  explicit Child(Work work) {
    int fds[2];
    if (pipe(fds) != 0) throw std::runtime_error("pipe");
    pid_ = fork();
    if (pid_ == 0) {
      close(fds[0]);
      _exit(work(fds[1]));
    }
    close(fds[1]);
    read_ = fds[0];
  }
  ~Child() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    close(read_);
  }
  // The byte the child sends, or 0 when none came in time.
  char Receive() {
    pollfd p{read_, POLLIN, 0};
    char byte = 0;
    if (poll(&p, 1, 20000) == 1 && read(read_, &byte, 1) != 1) byte = 0;
    return byte;
  }
  int Kill() { return End(SIGKILL); }
  int Wait() { return End(0); }

 private:
  int End(int signal) {
    if (signal) kill(pid_, signal);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
  }
  pid_t pid_ = -1;
  int read_ = -1;
};

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

// A writer in a child process that folds the first `folded` of `sent` into the database and
// journals the rest, its journal kept in `memory` (or beside the store); returned once it has.
std::unique_ptr<Child> WriterToKill(const std::filesystem::path& path, const std::optional<std::filesystem::path>& memory,
                                    const std::vector<Second>& sent, size_t folded) {
  auto child = std::make_unique<Child>([&](int to_parent) {
    RecordingNotifier notifier;
    SecondsWriter writer(path, notifier, kQuickRetry, std::chrono::hours(1), memory);
    const auto handle = writer.AddCounter(kCounter, kT0);
    for (size_t i = 0; i < sent.size(); ++i) {
      writer.Append(handle, sent[i].time, sent[i].count);
      if (i + 1 == folded && !writer.Flush(10s)) return 1;
    }
    const char ready = WaitFor([&] { return writer.health().committed == sent.size(); }) ? 'x' : 'f';
    if (write(to_parent, &ready, 1) != 1) return 2;
    for (;;) pause();
  });
  return child->Receive() == 'x' ? std::move(child) : nullptr;
}

size_t FilesIn(const std::filesystem::path& folder) {
  return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(folder), {}));
}

// A killed writer loses no second it had journaled, in memory or beside the store, and readers
// in other processes see each second as soon as it is journaled, long before its fold.
TEST(SecondsWriterTest, KilledWriterLosesNoJournaledSecondAndReadersSeeThemAtOnce) {
  std::vector<Second> sent;
  for (int i = 0; i < 200; ++i) sent.push_back({kT0 + i, static_cast<uint32_t>(i % 4)});
  for (const bool in_memory : {true, false}) {
    SCOPED_TRACE(in_memory ? "journal in memory" : "journal beside the store");
    TempDir dir;
    const auto path = dir / "s.sqlite";
    const auto memory = dir / "memory";
    std::filesystem::create_directories(memory);
    auto child = WriterToKill(path, in_memory ? std::optional(memory) : std::nullopt, sent, 90);
    ASSERT_TRUE(child);
    {
      Store reader(path, Store::Access::kReadOnly);
      EXPECT_EQ(reader.ReadSeconds(1, kT0, kT0 + 300), sent);
    }
    EXPECT_EQ(child->Kill(), -SIGKILL);
    ASSERT_EQ(JournalsOf(path).size(), 1u);
    EXPECT_EQ(FilesIn(memory), in_memory ? 1u : 0u);
    Store s(path);  // folds the journal its writer left
    EXPECT_TRUE(JournalsOf(path).empty());
    EXPECT_EQ(FilesIn(memory), 0u);
    EXPECT_TRUE(s.LostJournals().empty());
    EXPECT_EQ(s.ReadSeconds(1, kT0, kT0 + 300), sent);
    EXPECT_TRUE(s.Check().ok());
  }
}

// A journal whose file in memory is gone (the machine restarted, or it was removed) takes only
// the seconds it held: readers read the rest, and the next writer folds it away, says once what
// was lost (whoever else opened the store first) and records on.
TEST(SecondsWriterTest, JournalGoneFromMemoryLeavesTheStoreUsableAndIsTold) {
  TempDir dir;
  const auto path = dir / "s.sqlite";
  const auto memory = dir / "memory";
  std::filesystem::create_directories(memory);
  std::vector<Second> sent;
  for (int i = 0; i < 20; ++i) sent.push_back({kT0 + i, 3});
  auto child = WriterToKill(path, memory, sent, 10);
  ASSERT_TRUE(child);
  EXPECT_EQ(child->Kill(), -SIGKILL);
  ASSERT_EQ(FilesIn(memory), 1u);
  std::filesystem::remove(std::filesystem::directory_iterator(memory)->path());
  const std::vector<Second> folded(sent.begin(), sent.begin() + 10);
  {
    Store reader(path, Store::Access::kReadOnly);
    EXPECT_EQ(reader.ReadSeconds(1, kT0, kT0 + 60), folded);
  }
  RecordingNotifier notifier;
  {
    // The alarm opens the store as the writer starts; the lost journal is still the writer's to tell.
    alarm::AlarmSink alarm({}, path, notifier);
    alarm.OnSecond(kCounter, {kT0 + 30, 7, 420, 0.1});
    SecondsWriter writer(path, notifier, kQuickRetry, std::nullopt, memory);
    writer.Append(writer.AddCounter(kCounter, kT0), kT0 + 30, 7);
    ASSERT_TRUE(writer.Flush(10s));
  }
  const auto lost = notifier.status();
  EXPECT_EQ(std::count_if(lost.begin(), lost.end(),
                          [](const std::string& s) {
                            return s.find("are lost: the file was removed while the machine ran") != std::string::npos;
                          }),
            1)
      << ::testing::PrintToString(lost);
  EXPECT_TRUE(notifier.messages().empty());
  EXPECT_TRUE(JournalsOf(path).empty());
  EXPECT_EQ(FilesIn(memory), 0u);
  Store s(path);
  std::vector<Second> kept = folded;
  kept.push_back({kT0 + 30, 7});
  EXPECT_EQ(s.ReadSeconds(1, kT0, kT0 + 60), kept);
  EXPECT_TRUE(s.Check().ok());
}

// Two counters of one model and firmware, each recorded by its own process into one store.
TEST(SecondsWriterTest, AlikeCountersInTwoProcessesStayTwoCounters) {
  TempDir dir;
  const auto path = dir / "s.sqlite";
  CounterInfo a = kCounter, b = kCounter;
  a.serial = "5a4e0001";
  b.serial = "5a4e0002";
  b.port = "/dev/ttyUSB1";
  const auto record = [&](const CounterInfo& info, uint32_t count) {
    RecordingNotifier notifier;
    SecondsWriter writer(path, notifier, kQuickRetry, 20ms);
    const auto handle = writer.AddCounter(info, kT0);
    for (int i = 0; i < 300; ++i) {
      writer.Append(handle, kT0 + i, count);
      if (i % 50 == 0) std::this_thread::sleep_for(10ms);  // folds of the two interleave
    }
    // Nothing to tell either: making the store together is no fault.
    return writer.Flush(20s) && notifier.messages().empty();
  };
  Child other([&](int) { return record(b, 2) ? 0 : 1; });
  EXPECT_TRUE(record(a, 1));
  EXPECT_EQ(other.Wait(), 0);
  Store s(path);
  const auto counters = s.Counters();
  ASSERT_EQ(counters.size(), 2u);
  for (const auto& [info, count] : {std::pair{a, 1u}, std::pair{b, 2u}}) {
    const auto row = std::find_if(counters.begin(), counters.end(), [&](const CounterRow& r) { return r.info.serial == info.serial; });
    ASSERT_NE(row, counters.end()) << info.serial;
    const Aggregate total = s.Totals(row->id, kT0, kT0 + 300);
    EXPECT_EQ(total.measured, 300u) << info.serial;
    EXPECT_EQ(total.sum, 300u * count) << info.serial;
  }
}

// A store deleted, then replaced, under a running writer: told once each, and the seconds the
// store did not hold yet are written to the file at the path.
TEST(SecondsWriterTest, DeletedOrReplacedStoreIsToldAndWrittenAgain) {
  TempDir dir;
  const auto path = dir / "s.sqlite";
  RecordingNotifier notifier;
  SecondsWriter writer(path, notifier, kQuickRetry, std::chrono::hours(1));
  const auto handle = writer.AddCounter(kCounter, kT0);
  const auto append = [&](int from, int to) {
    for (int i = from; i < to; ++i) writer.Append(handle, kT0 + i, static_cast<uint32_t>(i));
  };
  append(0, 10);
  ASSERT_TRUE(writer.Flush(10s));
  append(10, 15);
  ASSERT_TRUE(WaitFor([&] { return writer.health().committed == 15; }));
  std::filesystem::remove(path);
  append(15, 20);
  ASSERT_TRUE(writer.Flush(10s));
  ASSERT_EQ(notifier.messages().size(), 1u);
  EXPECT_EQ(notifier.messages()[0].text, "The long-term store " + path.string() +
                                             " was deleted while recording; the seconds are kept and written to " +
                                             path.string() + " again.");
  {
    Store s(path, Store::Access::kReadOnly);
    const auto seconds = s.ReadSeconds(*writer.StoreId(handle), kT0, kT0 + 60);
    ASSERT_EQ(seconds.size(), 10u);
    EXPECT_EQ(seconds.front().time, kT0 + 10);
    EXPECT_TRUE(s.Check().ok());
  }
  { Store replacement(dir / "other.sqlite"); }
  std::filesystem::rename(dir / "other.sqlite", path);
  append(20, 25);
  ASSERT_TRUE(writer.Flush(10s));
  ASSERT_EQ(notifier.messages().size(), 2u);
  EXPECT_NE(notifier.messages()[1].text.find("was replaced while recording"), std::string::npos);
  Store s(path, Store::Access::kReadOnly);
  EXPECT_EQ(s.ReadSeconds(*writer.StoreId(handle), kT0, kT0 + 60).size(), 5u);
}

// A file that can never be a store is told once and not tried again while it is there.
TEST(SecondsWriterTest, FileThatCanNeverBeAStoreIsToldOnceAndNotRetried) {
  TempDir dir;
  const auto path = dir / "s.sqlite";
  std::filesystem::create_directories(path);
  RecordingNotifier notifier;
  SecondsWriter writer(path, notifier, kQuickRetry);
  const auto handle = writer.AddCounter(kCounter, kT0);
  for (int i = 0; i < 3; ++i) writer.Append(handle, kT0 + i, 1);
  EXPECT_FALSE(writer.Flush(800ms));  // time for several tries at the quick pauses
  EXPECT_TRUE(writer.health().refused);
  EXPECT_EQ(writer.health().failures, 1u);
  ASSERT_EQ(notifier.messages().size(), 1u);
  EXPECT_NE(notifier.messages()[0].text.find("it is a folder"), std::string::npos) << notifier.messages()[0].text;
  std::filesystem::remove(path);
  ASSERT_TRUE(writer.Flush(10s));
  EXPECT_TRUE(notifier.HasStatusContaining("is written again"));
  Store s(path);
  EXPECT_EQ(s.ReadSeconds(1, kT0, kT0 + 60).size(), 3u);
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
  // The journal beside the store, where each second finds the disk full.
  auto writer = std::make_unique<SecondsWriter>(path, notifier, kQuickRetry, std::nullopt, std::nullopt);
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
