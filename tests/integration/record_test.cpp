// norvane-cli record as a service would run it: against simulators that are unplugged, come back
// under the same or another name, fall silent or mark their replies.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <thread>

#include "core/common/clock.h"
#include "core/store/counter_store.h"
#include "core/store/store_time.h"
#include "tests/common/postgres_server.h"
#include "tests/common/temp_dir.h"
#include "tests/integration/child_process.h"

namespace norvane {
namespace {

#ifdef NORVANE_CLI_PATH
using namespace std::chrono_literals;
using testing::ChildCli;

// A paced simulated counter as its own process, on a pseudo-terminal reached through `link`.
struct Simulator {
  Simulator(const std::filesystem::path& link, int seed, std::string fault = {}, std::vector<std::string> more = {})
      : process(Arguments(link, seed, std::move(fault), std::move(more))) {
    device = process.ReadLine(5s);
  }
  static std::vector<std::string> Arguments(const std::filesystem::path& link, int seed, std::string fault,
                                            std::vector<std::string> more) {
    // One counter throughout: plugged in again, it answers with its serial number again.
    std::vector<std::string> a{"--model", "ZQT-400", "simulate", "--pace", "--seed", std::to_string(seed),
                               "--serial", "5a00000000000001", "--link", link.string()};
    if (!fault.empty()) a.insert(a.end(), {"--fault", std::move(fault)});
    a.insert(a.end(), more.begin(), more.end());
    return a;
  }
  ChildCli process;
  std::string device;
};

// The seconds `record --echo` reported, by UTC time.
std::map<int64_t, uint32_t> Echoed(const std::vector<std::string>& lines) {
  SystemClock clock;
  std::map<int64_t, uint32_t> seconds;
  for (const std::string& line : lines) {
    const size_t space = line.find(' ');
    std::string error;
    const std::optional<int64_t> t = store::ParseTime(line.substr(0, space), clock, &error);
    EXPECT_TRUE(t) << line << ": " << error;
    if (!t || space == std::string::npos) continue;
    EXPECT_TRUE(seconds.emplace(*t, static_cast<uint32_t>(std::stoul(line.substr(space + 1)))).second)
        << "second reported twice: " << line;
  }
  return seconds;
}

std::map<int64_t, uint32_t> Stored(const std::string& location, size_t* counters = nullptr) {
  const std::unique_ptr<store::CounterStore> db = store::OpenStore(location);
  const auto rows = db->Counters();
  if (counters) *counters = rows.size();
  std::map<int64_t, uint32_t> seconds;
  for (const auto& row : rows)
    for (const store::Second& s : db->ReadSeconds(row.id, 0, INT64_MAX)) seconds[s.time] += s.count;
  return seconds;
}

size_t Occurrences(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// Reads `count` more echoed seconds; false when they do not come within a generous time.
bool ReadSeconds(ChildCli& record, int count) {
  for (int i = 0; i < count; ++i)
    if (record.ReadLine(30s).empty()) return false;
  return true;
}

// Reads echoed seconds until the log says `what` for the `times`-th time; false when it does not
// within a minute.
bool ReadUntilLogged(ChildCli& record, const std::filesystem::path& log, const std::string& what, size_t times = 1) {
  const auto deadline = std::chrono::steady_clock::now() + 60s;
  while (Occurrences(testing::ReadAll(log), what) < times)
    if (std::chrono::steady_clock::now() > deadline || record.ReadLine(30s).empty()) return false;
  return true;
}

// Runs record through three connections to simulators that come up one after another at `links`
// (a link path may repeat), each killed after a few seconds, then checks what the store holds.
void RecordThroughUnplugs(const std::vector<std::filesystem::path>& links, std::vector<std::string> where,
                          const std::vector<std::string>& environment) {
  testing::TempDir dir;
  const std::filesystem::path store = dir / "store.sqlite";
  std::vector<std::string> args{"--settings", (dir / "settings.reg").string(), "--model", "ZQT-400",
                                "--store", store.string()};
  args.insert(args.end(), where.begin(), where.end());
  args.insert(args.end(), {"record", "--echo", "--log", (dir / "record.log").string()});

  auto simulator = std::make_unique<Simulator>(links[0], 11);
  ASSERT_FALSE(simulator->device.empty());
  ChildCli record(args, environment);
  ASSERT_TRUE(record.started());
  std::vector<size_t> segment_ends;
  for (size_t i = 0; i < links.size(); ++i) {
    ASSERT_TRUE(ReadSeconds(record, 4)) << testing::ReadAll(dir / "record.log");
    segment_ends.push_back(record.printed.size());
    // Unplugged: the first time politely (the link goes), then as a crash would (it stays, dangling).
    simulator->process.Signal(i % 2 == 0 ? SIGTERM : SIGKILL);
    simulator->process.Wait();
    simulator.reset();
    if (i + 1 == links.size()) break;
    std::this_thread::sleep_for(2500ms);
    simulator = std::make_unique<Simulator>(links[i + 1], 12 + static_cast<int>(i));
    ASSERT_FALSE(simulator->device.empty());
  }
  record.Signal(SIGTERM);
  EXPECT_EQ(record.Wait(), 0) << record.said;
  const std::string log = testing::ReadAll(dir / "record.log");
  EXPECT_EQ(Occurrences(log, "Counter connected"), links.size()) << log;
  EXPECT_GE(Occurrences(log, "Counter lost"), links.size() - 1) << log;
  for (const auto& link : links) EXPECT_NE(log.find("on " + link.string()), std::string::npos) << log;

  const std::map<int64_t, uint32_t> echoed = Echoed(record.printed);
  size_t counters = 0;
  const std::map<int64_t, uint32_t> stored = Stored(store.string(), &counters);
  // One counter throughout, every reported second stored once with its count, nothing else.
  EXPECT_EQ(counters, 1u);
  EXPECT_EQ(stored, echoed);
  // The time the counter was away is a gap: no second was made up for it.
  std::vector<int64_t> times;
  for (const auto& [t, count] : echoed) times.push_back(t);
  for (size_t i = 0; i + 1 < segment_ends.size(); ++i) {
    const size_t last = segment_ends[i] - 1;
    ASSERT_LT(last + 1, times.size());
    EXPECT_GE(times[last + 1] - times[last], 3) << "no gap after connection " << i + 1;
  }
}

TEST(RecordCommand, FindsTheCounterAgainUnderAnotherNameByScanning) {
  testing::TempDir links;
  const std::filesystem::path a = links / "counter-a", b = links / "counter-b";
  RecordThroughUnplugs({a, b, a}, {}, {"NORVANE_PORTS=" + a.string() + ":" + b.string()});
}

// A station logging straight into a centre's server that crashes: the seconds of the outage wait in
// the station's journal and reach the server when it is back, or, when record is killed meanwhile,
// with the next record. Each reported second is in the server once, under one counter.
TEST(RecordCommand, KeepsEverySecondOnceInPostgreSqlThroughCrashesOfTheServer) {
  testing::PostgresServer pg;
  if (!pg.installed()) GTEST_SKIP() << "PostgreSQL's initdb and pg_ctl are not installed (Debian: postgresql)";
  ASSERT_TRUE(pg.running());
  const std::string url = pg.NewDatabase();
  testing::TempDir dir;
  const std::filesystem::path log = dir / "record.log";
  Simulator simulator(dir / "counter", 31);
  ASSERT_FALSE(simulator.device.empty());
  // Both runs keep their journal in the same data folder, as one station's services do.
  const std::vector<std::string> args{"--settings", (dir / "settings.reg").string(), "--model", "ZQT-400", "--store",
                                      url, "--port", (dir / "counter").string(), "record", "--echo", "--log",
                                      log.string()};
  const std::vector<std::string> environment{"XDG_DATA_HOME=" + (dir / "data").string()};
  ChildCli first(args, environment);
  ASSERT_TRUE(ReadSeconds(first, 3)) << testing::ReadAll(log);
  pg.Crash();
  // The writer finds the server gone at its next fold, says so once and keeps journaling.
  ASSERT_TRUE(ReadUntilLogged(first, log, "cannot be written")) << testing::ReadAll(log);
  ASSERT_TRUE(ReadSeconds(first, 3));
  ASSERT_TRUE(pg.Start());
  ASSERT_TRUE(ReadUntilLogged(first, log, "is written again")) << testing::ReadAll(log);
  EXPECT_EQ(Occurrences(testing::ReadAll(log), "cannot be written"), 1u) << testing::ReadAll(log);
  // Down again, and record killed while it is: its journal waits for the next record.
  pg.Crash();
  ASSERT_TRUE(ReadUntilLogged(first, log, "cannot be written", 2)) << testing::ReadAll(log);
  ASSERT_TRUE(ReadSeconds(first, 2));
  first.Signal(SIGKILL);
  first.Wait();
  ASSERT_TRUE(pg.Start());
  std::vector<std::string> more = args;
  more.insert(more.end(), {"--seconds", "3"});
  ChildCli second(more, environment);
  EXPECT_EQ(second.Wait(), 0) << second.said << testing::ReadAll(log);

  std::map<int64_t, uint32_t> echoed = Echoed(first.printed);
  ASSERT_GE(echoed.size(), 10u);
  // A kill may take the second in flight, echoed but not yet journaled.
  const int64_t in_flight = echoed.rbegin()->first;
  echoed.merge(Echoed(second.printed));
  size_t counters = 0;
  std::map<int64_t, uint32_t> stored = Stored(url, &counters);
  EXPECT_EQ(counters, 1u);
  if (!stored.contains(in_flight)) echoed.erase(in_flight);
  EXPECT_EQ(stored, echoed);
}

// The simulator logs when each reply was on the line; record reports each second as it takes it.
TEST(RecordCommand, TakesAWholeReplyAtOnceAlsoFromOlderCounters) {
  for (const std::string fault : {"", "short-counts"}) {
    SCOPED_TRACE(fault.empty() ? "4-byte replies" : "2-byte replies");
    testing::TempDir dir;
    Simulator simulator(dir / "counter", 21, fault, {"--reply-log", (dir / "replies").string()});
    ASSERT_FALSE(simulator.device.empty());
    ChildCli record({"--settings", (dir / "settings.reg").string(), "--model", "ZQT-400", "--store",
                     (dir / "store.sqlite").string(), "--port", (dir / "counter").string(), "record", "--echo",
                     "--seconds", "8"});
    std::vector<double> taken;  // wall time of each echoed line
    for (std::string line = record.ReadLine(30s); !line.empty(); line = record.ReadLine(30s))
      taken.push_back(std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count());
    EXPECT_EQ(record.Wait(), 0) << record.said;

    // Every poll was answered, so the n-th reply is the n-th second; the stop may leave one last
    // reply untaken.
    std::vector<std::pair<double, uint32_t>> replies;
    std::ifstream log(dir / "replies");
    for (double t; log >> t;) {
      uint32_t count = 0;
      log >> count;
      replies.emplace_back(t, count);
    }
    const std::map<int64_t, uint32_t> echoed = Echoed(record.printed);
    ASSERT_GE(echoed.size(), 6u);
    ASSERT_GE(replies.size(), echoed.size());
    ASSERT_LE(replies.size(), echoed.size() + 1);
    std::vector<double> delays;
    size_t i = 0;
    for (const auto& [second, count] : echoed) {
      EXPECT_EQ(count, replies[i].second) << "second " << i;
      delays.push_back(taken[i] - replies[i].first);
      ++i;
    }
    std::sort(delays.begin(), delays.end());
    const double median = delays[delays.size() / 2];
    // Read as it arrives: an older counter's 2-byte reply too, once its length is learned.
    EXPECT_LT(median, 0.15);
  }
}
#endif

}  // namespace
}  // namespace norvane
