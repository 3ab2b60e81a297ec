#include "core/store/store.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <sys/stat.h>

#include <fstream>
#include <map>
#include <random>

#include "core/store/minute_block.h"
#include "core/store/seconds_journal.h"
#include "core/store/seconds_writer.h"
#include "tests/common/temp_dir.h"
#include "tests/core/store/any_store.h"

namespace norvane::store {
namespace {

using testing::TempDir;

constexpr int64_t kT0 = 1'773'000'000 / 86400 * 86400;  // a UTC midnight in 2026

class StoreTest : public ::testing::Test {
 protected:
  std::filesystem::path Path() const { return dir_ / "data" / "store.sqlite"; }
  TempDir dir_;
};

CounterId AddCounter(CounterStore& s, const std::string& version = "ZQT-400 V4.2") {
  return s.RegisterCounter({version, "1", "ZQT-400", "/dev/ttyUSB0", ""}, kT0);
}

// What every store does alike, whichever database keeps it.
using EveryStoreTest = AnyStoreTest;
INSTANTIATE_TEST_SUITE_P(Stores, EveryStoreTest, ::testing::Values(Backend::kSqlite, Backend::kPostgres), BackendName);

// Exec on a second, raw connection, the way a damaged or older file would come about.
void RawExec(const std::filesystem::path& path, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  char* error = nullptr;
  const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
  EXPECT_EQ(rc, SQLITE_OK) << (error ? error : "");
  sqlite3_free(error);
  sqlite3_close(db);
}

TEST_F(StoreTest, CreatesItsFolderAndSchemaWithWalAndForeignKeys) {
  Store s(Path());
  EXPECT_TRUE(std::filesystem::exists(Path()));
  EXPECT_EQ(s.SchemaVersion(), kSchemaVersion);
  EXPECT_EQ(s.database().ScalarInt("PRAGMA foreign_keys"), 1);
  EXPECT_EQ(s.database().ScalarInt("PRAGMA synchronous"), 1);  // NORMAL
  EXPECT_GT(s.database().ScalarInt("PRAGMA busy_timeout"), 0);
  Statement mode(s.database().handle(), "PRAGMA journal_mode");
  ASSERT_TRUE(mode.Step());
  EXPECT_EQ(mode.Text(0), "wal");
  // Seconds of a counter the store does not hold are refused, not stored as orphans.
  const Second one{kT0, 3};
  EXPECT_THROW(s.AppendSeconds(99, std::span(&one, 1)), StoreError);
}

TEST_F(StoreTest, OlderStoreIsBroughtForwardKeepingItsData) {
  {
    Store s(Path());
    const CounterId c = AddCounter(s);
    const std::vector<Second> seconds{{kT0, 4}, {kT0 + 1, 5}};
    s.AppendSeconds(c, seconds);
  }
  // A store as the first release left it: no history tables, no serials, version 1.
  RawExec(Path(),
          "DROP TABLE history; DROP TABLE notes; DROP TABLE history_summaries; DROP TABLE last_downloads; "
          "DROP INDEX counters_by_serial; ALTER TABLE counters DROP COLUMN serial; "
          "ALTER TABLE counters DROP COLUMN device_path; DROP TABLE store_identity; DROP TABLE calibrations; "
          "DROP TABLE clock_readings; ALTER TABLE counters DROP COLUMN held_by; "
          "ALTER TABLE counters DROP COLUMN held_until; DROP TABLE upload_queue; DROP TABLE upload_state; "
          "PRAGMA user_version = 1; PRAGMA application_id = 0;");
  Store s(Path());
  EXPECT_EQ(s.SchemaVersion(), kSchemaVersion);
  EXPECT_EQ(s.ReadSeconds(1, kT0, kT0 + 60), (std::vector<Second>{{kT0, 4}, {kT0 + 1, 5}}));
  EXPECT_EQ(s.database().ScalarInt("SELECT count(*) FROM history"), 0);
  EXPECT_FALSE(s.id().empty());
  s.AddCalibration(1, {kT0, 0.01, 0});
  EXPECT_EQ(s.Calibrations(1).size(), 1u);
  // The counter it knew takes the first serial its version reply comes with, and keeps its
  // seconds; a second serial with the same reply is a counter of its own.
  CounterInfo serial_a{"ZQT-400 V4.2", "1", "ZQT-400", "/dev/ttyUSB0", "", "00a1", "/dev/serial/by-id/usb-a"};
  CounterInfo serial_b{"ZQT-400 V4.2", "1", "ZQT-400", "/dev/ttyUSB1", "", "00b2", "/dev/serial/by-id/usb-b"};
  EXPECT_EQ(s.RegisterCounter(serial_a, kT0 + 10), 1);
  EXPECT_EQ(s.RegisterCounter(serial_b, kT0 + 10), 2);
  serial_a.port = "/dev/ttyUSB1";  // unplugged and plugged in again elsewhere
  EXPECT_EQ(s.RegisterCounter(serial_a, kT0 + 20), 1);
  // Without a serial, the stable device path tells the two apart.
  EXPECT_EQ(s.RegisterCounter({"ZQT-400 V4.2", "1", "ZQT-400", "/dev/ttyUSB7", "", "", "/dev/serial/by-id/usb-b"}, kT0),
            2);
  EXPECT_EQ(s.Counters()[0].info.serial, "00a1");
  EXPECT_EQ(s.ReadSeconds(1, kT0, kT0 + 60).size(), 2u);
}

TEST_F(StoreTest, NewerOrMissingStoreIsRefusedClearly) {
  { Store s(Path()); }
  RawExec(Path(), "PRAGMA user_version = 99;");
  try {
    Store s(Path());
    FAIL() << "a store from a newer version was opened";
  } catch (const PermanentStoreError& e) {
    EXPECT_NE(std::string(e.what()).find("newer version"), std::string::npos) << e.what();
  }
  EXPECT_THROW(Store(dir_ / "absent.sqlite", Store::Access::kReadOnly), StoreError);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "absent.sqlite"));
}

// Files that can never be a store are refused at once, as such, and left exactly as they were; a
// FIFO is never opened (that would wait for a writer for ever).
TEST_F(StoreTest, FilesThatCanNeverBeAStoreAreRefusedAndLeftAlone) {
  const auto random_bytes = dir_ / "random.sqlite";
  std::string noise(5000, '\0');
  std::mt19937 random(3);
  for (char& c : noise) c = static_cast<char>(random());
  testing::WriteAll(random_bytes, noise);
  const auto foreign = dir_ / "other-program.sqlite";
  RawExec(foreign, "CREATE TABLE accounts(id INTEGER PRIMARY KEY, owner TEXT); INSERT INTO accounts VALUES(1, 'x');");
  const auto fifo = dir_ / "fifo.sqlite";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const auto folder = dir_ / "folder.sqlite";
  std::filesystem::create_directories(folder);
  // Another program's database that happens to have tables of the same names.
  const auto look_alike = dir_ / "look-alike.sqlite";
  RawExec(look_alike, "CREATE TABLE counters(id INTEGER PRIMARY KEY, what TEXT); CREATE TABLE seconds(t INTEGER); "
                      "PRAGMA user_version = 3;");
  // A store cut short, as a copy or a disk that stopped half-way leaves it.
  const auto cut = dir_ / "cut.sqlite";
  {
    Store s(cut);
    std::vector<Second> day;
    for (int64_t t = kT0; t < kT0 + 86400; ++t) day.push_back({t, static_cast<uint32_t>(t % 7)});
    s.AppendSeconds(AddCounter(s), day);
  }
  std::filesystem::resize_file(cut, std::filesystem::file_size(cut) / 2);
  const std::pair<std::filesystem::path, std::string> cases[] = {
      {random_bytes, "not a SQLite database"}, {foreign, "another program"}, {look_alike, "another program"},
      {cut, cut.string() + " is not a store: it is damaged"},  {fifo, "not a regular file"}, {folder, "a folder"}};
  for (const auto& [path, reason] : cases) {
    const std::string before = std::filesystem::is_regular_file(path) ? testing::ReadAll(path) : "";
    for (const auto access : {Store::Access::kReadWrite, Store::Access::kReadOnly}) {
      try {
        Store s(path, access);
        ADD_FAILURE() << path << " was opened as a store";
      } catch (const PermanentStoreError& e) {
        EXPECT_NE(std::string(e.what()).find(reason), std::string::npos) << e.what();
      }
    }
    const std::optional<std::string> refusal = SecondsWriter::CheckPath(path);
    ASSERT_TRUE(refusal.has_value()) << path;
    EXPECT_NE(refusal->find(reason), std::string::npos) << *refusal;
    if (!before.empty()) {
      EXPECT_EQ(testing::ReadAll(path), before) << path;
      EXPECT_FALSE(std::filesystem::exists(path.string() + "-wal") || std::filesystem::exists(path.string() + "-shm"))
          << path;
    }
  }
  // A database with nothing in it yet may become a store.
  const auto empty = dir_ / "empty.sqlite";
  RawExec(empty, "PRAGMA user_version = 0;");
  EXPECT_EQ(SecondsWriter::CheckPath(empty), std::nullopt);
  EXPECT_EQ(Store(empty).SchemaVersion(), kSchemaVersion);
}

// Seconds a live writer has journaled but not folded read back exactly as they will once folded:
// seconds, series at every level, totals, spans and the newest and oldest second, with the
// journal's cut line skipped and a journal of a replaced store ignored.
TEST_F(StoreTest, JournaledSecondsReadAsTheyWillOnceFolded) {
  Store s(Path());
  const CounterId c = AddCounter(s);
  const CounterId other = AddCounter(s, "ZQT-200 V1.0");
  std::vector<Second> stored;
  for (int64_t t = kT0 + 3500; t < kT0 + 3630; t += (t % 7 == 0 ? 3 : 1)) stored.push_back({t, uint32_t(t % 5)});
  s.AppendSeconds(c, stored);
  std::string journal = JournalHeader(s.id());
  // Overlaps the stored seconds (repeats with other counts are not taken), completes minutes,
  // crosses an hour, and holds another counter's seconds.
  for (int64_t t = kT0 + 3590; t < kT0 + 3800; ++t) journal += JournalLine({c, {t, uint32_t(t % 9)}});
  journal += JournalLine({other, {kT0 + 3700, 99}});
  journal += JournalLine({c, {kT0 + 9000, 5}}).substr(0, 12);  // cut by a kill
  testing::WriteAll(NewJournalPath(Path()), journal);
  std::string foreign = JournalHeader("0123456789abcdef0123456789abcdef") + JournalLine({c, {kT0 + 5000, 77}});
  testing::WriteAll(NewJournalPath(Path()), foreign);

  Store reader(Path(), Store::Access::kReadOnly);
  const auto everything = [&] {
    std::vector<std::string> out;
    const auto add = [&](const Aggregate& a) {
      out.push_back(std::to_string(a.sum) + "/" + std::to_string(a.measured) + "/" + std::to_string(a.min_second) +
                    "/" + std::to_string(a.max_second) + "/" + std::to_string(a.full_minutes) + "/" +
                    std::to_string(a.min_cpm) + "/" + std::to_string(a.max_cpm) + "/" + std::to_string(a.max_cpm_at));
    };
    for (const Second& second : reader.ReadSeconds(c, kT0, kT0 + 86400))
      out.push_back(std::to_string(second.time) + ":" + std::to_string(second.count));
    for (size_t points : {size_t{600}, size_t{100}, size_t{24}, size_t{2}})
      for (const SeriesPoint& p : reader.Query(c, kT0 + 3000, kT0 + 3000 + 300 * int64_t(points), points).points)
        add(p.values);
    for (size_t points : {size_t{24}, size_t{1}})
      for (const SeriesPoint& p : reader.Query(c, kT0, kT0 + 86400 * int64_t(points), points).points) add(p.values);
    add(reader.Totals(c, kT0 + 3555, kT0 + 86400 * 2));
    add(reader.Totals(c, kT0, kT0 + 3700));
    add(reader.Totals(other, kT0, kT0 + 86400));
    const CounterSpan span = reader.Span(c);
    out.push_back(std::to_string(span.first) + "-" + std::to_string(span.last) + "/" + std::to_string(span.measured) +
                  "/" + std::to_string(span.gap_count));
    out.push_back(std::to_string(reader.NewestSecond(c).value_or(0)));
    out.push_back(std::to_string(reader.OldestSecond(other).value_or(0)));
    return out;
  };
  const std::vector<std::string> journaled = everything();
  EXPECT_EQ(reader.NewestSecond(c), kT0 + 3799);
  EXPECT_EQ(reader.OldestSecond(other), kT0 + 3700);  // a counter with nothing folded yet
  EXPECT_EQ(reader.SecondsAfter(c, kT0 + 3797, 10), (std::vector<Second>{{kT0 + 3798, 0}, {kT0 + 3799, 1}}));
  EXPECT_TRUE(reader.ReadSeconds(c, kT0 + 4000, kT0 + 86400).empty());

  Store folding(Path());  // a writer's opening folds both journals: they have no writer any more
  EXPECT_TRUE(JournalsOf(Path()).empty());
  EXPECT_EQ(everything(), journaled);
  EXPECT_EQ(reader.ReadSeconds(c, kT0 + 3592, kT0 + 3593), (std::vector<Second>{{kT0 + 3592, 3592 % 5}}));
  EXPECT_TRUE(folding.Check().ok());
}

TEST_P(EveryStoreTest, CounterIsKnownAgainByVersionReplyOrByItsName) {
  const std::unique_ptr<CounterStore> opened = Open();
  CounterStore& s = *opened;
  const CounterId a = s.RegisterCounter({"ZQT-400 V4.2", "1", "ZQT-400", "/dev/ttyUSB0", ""}, kT0);
  const CounterId again = s.RegisterCounter({"ZQT-400 V4.2", "1", "ZQT-400", "/dev/ttyACM1", ""}, kT0 + 500);
  const CounterId other = s.RegisterCounter({"ZQT-200 V1.0", "2", "ZQT-200", "/dev/ttyUSB0", ""}, kT0 + 600);
  EXPECT_EQ(a, again);
  EXPECT_NE(a, other);
  s.NameCounter(a, "kitchen");
  // Once named, a counter with the same reply is no longer taken for it unless the name is given.
  const CounterId twin = s.RegisterCounter({"ZQT-400 V4.2", "1", "ZQT-400", "/dev/ttyUSB3", ""}, kT0 + 700);
  EXPECT_NE(twin, a);
  EXPECT_EQ(s.RegisterCounter({"ZQT-400 V4.2", "1", "ZQT-400", "/dev/ttyUSB9", "kitchen"}, kT0 + 800), a);
  const auto rows = s.Counters();
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].info.port, "/dev/ttyUSB9");
  EXPECT_EQ(rows[0].first_seen, kT0);
  EXPECT_EQ(rows[0].last_seen, kT0 + 800);
  EXPECT_EQ(s.FindCounter("kitchen"), a);
  EXPECT_EQ(s.FindCounter("ZQT-200"), other);
  EXPECT_EQ(s.FindCounter("ZQT-400"), std::nullopt);  // two counters answer to it
}

// Two alike counters without serial numbers recorded at once by two programs stay two counters,
// while each is still found again by its own writer after a re-plug under another name.
TEST_F(StoreTest, AlikeCountersWithoutSerialAreNeverTakenForOneAnotherWhileBothAreRecorded) {
  Store a(Path()), b(Path());
  a.HoldAs("writer-a", 900);
  b.HoldAs("writer-b", 900);
  const CounterInfo on_a{"ZQT-400 V4.2", "1", "ZQT-400", "/dev/ttyUSB0", "", "", "/dev/serial/by-id/usb-a"};
  CounterInfo on_b = on_a;
  on_b.port = "/dev/ttyUSB1";
  on_b.device_path = "/dev/serial/by-id/usb-b";
  // A counter that answers a serial number is never one that answers none.
  CounterInfo with_serial = on_a;
  with_serial.serial = "00a1";
  with_serial.device_path = "/dev/serial/by-id/usb-s";
  const CounterId serial = a.RegisterCounter(with_serial, kT0);
  const CounterId first = a.RegisterCounter(on_a, kT0);
  const CounterId second = b.RegisterCounter(on_b, kT0 + 1);
  EXPECT_NE(first, serial);
  EXPECT_NE(first, second);
  // A reader of writer b's program (its alarm, its publisher) finds what b holds.
  Store reader(Path());
  reader.HoldAs("writer-b", 0);
  EXPECT_EQ(reader.RegisterCounter(on_b, kT0 + 2), second);
  CounterInfo moved = on_b;
  moved.device_path = "/dev/serial/by-id/usb-c";
  EXPECT_EQ(b.RegisterCounter(moved, kT0 + 3), second);
  // Once b has stopped, its counter is known again by its version reply alone.
  b.ReleaseHolds();
  Store c(Path());
  c.HoldAs("writer-c", 900);
  moved.device_path = "/dev/serial/by-id/usb-d";
  EXPECT_EQ(c.RegisterCounter(moved, kT0 + 4), second);
  // A writer that was killed lets go when its lease runs out.
  moved.device_path = "/dev/serial/by-id/usb-e";
  const CounterId third = b.RegisterCounter(moved, kT0 + 5);
  EXPECT_NE(third, first);
  EXPECT_NE(third, serial);
  moved.device_path = "/dev/serial/by-id/usb-f";
  EXPECT_EQ(b.RegisterCounter(moved, kT0 + 901), first);
}

TEST_F(StoreTest, MinuteBlockKeepsEveryWidthAndRejectsDamage) {
  for (uint32_t top : {0u, 15u, 16u, 255u, 256u, 65535u, 65536u, 4'000'000'000u}) {
    MinuteBlock block;
    for (int s = 0; s < 60; s += 3) {
      block.measured |= uint64_t{1} << s;
      block.counts[s] = s == 57 ? top : static_cast<uint32_t>(s) % (top + 1);
    }
    const std::vector<uint8_t> packed = PackCounts(block, block.Max());
    MinuteBlock back;
    ASSERT_TRUE(UnpackMinute(GapMaskOf(block), block.Max(), packed, back)) << top;
    EXPECT_EQ(back.measured, block.measured);
    EXPECT_EQ(back.counts, block.counts) << top;
    std::vector<uint8_t> short_blob(packed.begin(), packed.end() - 1);
    EXPECT_FALSE(UnpackMinute(GapMaskOf(block), block.Max(), short_blob, back));
  }
  MinuteBlock full;
  full.measured = kFullMinute;
  EXPECT_EQ(GapMaskOf(full), 0u);  // stored in no bytes
  EXPECT_EQ(PackCounts(full, 3).size(), 30u);
}

// A centre commits the seconds of more stations at once than a server takes locks in one
// transaction (about 12,800 by default).
TEST_P(EveryStoreTest, OneCommitTakesTheSecondsOfFifteenThousandCounters) {
  if (GetParam() == Backend::kSqlite) GTEST_SKIP() << "a station's file has one writer and takes no such locks";
  constexpr int kCounters = 15000;
  const std::unique_ptr<CounterStore> s = Open();
  Raw("WITH RECURSIVE g(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM g WHERE n < " + std::to_string(kCounters) +
      ") INSERT INTO counters(version, first_seen, last_seen) SELECT 'v' || n, 0, 0 FROM g");
  std::vector<CounterSeconds> batch;
  for (CounterId id = 1; id <= kCounters; ++id) batch.push_back({id, {{kT0, 1}}});
  EXPECT_EQ(s->AppendMany(batch).added, size_t{kCounters});
}

TEST_P(EveryStoreTest, GapsStayGapsAndNothingIsCountedTwice) {
  const std::unique_ptr<CounterStore> opened = Open();
  CounterStore& s = *opened;
  const CounterId c = AddCounter(s);
  // Two stretches across a minute boundary with a gap between, given out of order.
  std::vector<Second> first{{kT0 + 50, 1}, {kT0 + 58, 0}, {kT0 + 59, 2}, {kT0 + 60, 3}, {kT0 + 61, 0}};
  std::vector<Second> late{{kT0 + 3600 + 5, 7}, {kT0 + 3600 + 4, 6}};
  EXPECT_EQ(s.AppendSeconds(c, first).added, 5u);
  EXPECT_EQ(s.AppendSeconds(c, late).added, 2u);
  // The same seconds again, some with other counts, plus one new: only the new one is taken.
  std::vector<Second> again{{kT0 + 59, 9}, {kT0 + 60, 9}, {kT0 + 62, 4}, {kT0 + 62, 8}};
  const AppendResult r = s.AppendSeconds(c, again);
  EXPECT_EQ(r.added, 1u);
  EXPECT_EQ(r.already_stored, 3u);
  EXPECT_EQ(r.differing, 3u);  // none the same count as the stored one: another writer's

  const std::vector<Second> expected{{kT0 + 50, 1}, {kT0 + 58, 0}, {kT0 + 59, 2}, {kT0 + 60, 3},
                                     {kT0 + 61, 0}, {kT0 + 62, 4}, {kT0 + 3604, 6}, {kT0 + 3605, 7}};
  EXPECT_EQ(s.ReadSeconds(c, kT0, kT0 + 86400), expected);
  const Aggregate total = s.Totals(c, kT0, kT0 + 86400);
  EXPECT_EQ(total.sum, 23u);
  EXPECT_EQ(total.measured, 8u);
  EXPECT_EQ(total.full_minutes, 0u);

  // A publisher catching up reads from where it stopped, a bounded batch at a time.
  EXPECT_EQ(s.SecondsAfter(c, kT0 + 59, 3), (std::vector<Second>{{kT0 + 60, 3}, {kT0 + 61, 0}, {kT0 + 62, 4}}));
  EXPECT_EQ(s.SecondsAfter(c, kT0 + 3604, 10), (std::vector<Second>{{kT0 + 3605, 7}}));
  EXPECT_TRUE(s.SecondsAfter(c, kT0 + 3605, 10).empty());

  const CounterSpan span = s.Span(c);
  EXPECT_EQ(span.first, kT0 + 50);
  EXPECT_EQ(span.last, kT0 + 3605);
  EXPECT_EQ(s.OldestSecond(c), span.first);
  EXPECT_EQ(s.NewestSecond(c), span.last);
  EXPECT_EQ(span.measured, 8u);
  EXPECT_EQ(span.gap_count, 2u);  // 51-57 and 63-3603
  ASSERT_EQ(span.long_gaps.size(), 1u);
  EXPECT_EQ(span.long_gaps[0].from, kT0 + 63);
  EXPECT_EQ(span.long_gaps[0].to, kT0 + 3604);
  EXPECT_TRUE(s.Check().ok());
}

// Sums over random data with random gaps, appended in random batches and orders (repeats
// included), must equal a plain recomputation from the seconds at every level and any range.
TEST_P(EveryStoreTest, SummariesAndQueriesMatchARecomputationOverRandomData) {
  const std::unique_ptr<CounterStore> opened = Open();
  CounterStore& s = *opened;
  const CounterId c = AddCounter(s);
  std::mt19937 random(20260307);
  std::map<int64_t, uint32_t> truth;
  std::vector<Second> all;
  const int64_t span = 3 * 86400;
  for (int64_t t = kT0 - 7200; t < kT0 - 7200 + span; ++t) {
    if (random() % 1000 < 30) t += random() % 4000;  // gaps of any length
    const uint32_t count = random() % 50 == 0 ? 300 + random() % 70000 : random() % 6;
    truth[t] = count;
    all.push_back({t, count});
  }
  std::shuffle(all.begin(), all.end(), random);
  for (size_t i = 0; i < all.size();) {
    const size_t n = std::min<size_t>(all.size() - i, 1 + random() % 40000);
    std::vector<Second> batch(all.begin() + static_cast<std::ptrdiff_t>(i), all.begin() + static_cast<std::ptrdiff_t>(i + n));
    // A share of seconds sent twice with a different count: the first stored stays.
    for (size_t k = 0; k < n / 10; ++k) batch.push_back({batch[k].time, batch[k].count + 1});
    s.AppendSeconds(c, batch);
    i += n;
  }
  EXPECT_TRUE(s.Check().ok());

  const auto naive = [&](int64_t from, int64_t to) {
    Aggregate a;
    std::map<int64_t, uint64_t> minute_sums;
    std::map<int64_t, int> minute_counts;
    for (auto it = truth.lower_bound(from); it != truth.end() && it->first < to; ++it) {
      Aggregate one;
      one.sum = it->second;
      one.measured = 1;
      one.min_second = one.max_second = it->second;
      a.Merge(one);
      const int64_t m = it->first - ((it->first % 60) + 60) % 60;
      minute_sums[m] += it->second;
      ++minute_counts[m];
    }
    for (const auto& [m, n] : minute_counts) {
      if (n != 60 || m < from || m + 60 > to) continue;
      ++a.full_minutes;
      const uint32_t cpm = static_cast<uint32_t>(minute_sums[m]);
      if (a.full_minutes == 1 || cpm < a.min_cpm) a.min_cpm = cpm;
      if (a.full_minutes == 1 || cpm > a.max_cpm) {
        a.max_cpm = cpm;
        a.max_cpm_at = m;
      }
    }
    return a;
  };
  for (int trial = 0; trial < 60; ++trial) {
    const int64_t from = kT0 - 7300 + static_cast<int64_t>(random() % (span + 200));
    const int64_t to = from + 1 + static_cast<int64_t>(random() % (trial < 30 ? 5000 : span));
    const Aggregate got = s.Totals(c, from, to), want = naive(from, to);
    ASSERT_EQ(got.sum, want.sum) << from << " " << to;
    ASSERT_EQ(got.measured, want.measured);
    ASSERT_EQ(got.max_second, want.max_second);
    ASSERT_EQ(got.min_second, want.min_second);
    ASSERT_EQ(got.full_minutes, want.full_minutes);
    ASSERT_EQ(got.max_cpm, want.max_cpm);
    ASSERT_EQ(got.min_cpm, want.min_cpm);
    ASSERT_EQ(got.max_cpm_at, want.max_cpm_at);

    // A series point holds the seconds, minutes (clipped to the range) or summaries that start
    // in it; together they are the data from the first whole row on.
    const size_t points = 1 + random() % 3000;
    const Series series = s.Query(c, from, to, points);
    ASSERT_LE(series.points.size(), points);
    uint64_t series_sum = 0, series_measured = 0;
    for (const SeriesPoint& p : series.points) {
      series_sum += p.values.sum;
      series_measured += p.values.measured;
      if (series.source_level == 1) {
        ASSERT_EQ(p.values.sum, naive(p.start, std::min(to, p.start + series.step)).sum);
      }
    }
    const int64_t level = series.source_level;
    const auto ceil_to = [&](int64_t t) { return t + ((level - t % level) % level + level) % level; };
    const Aggregate covered = naive(ceil_to(from), level <= 60 ? to : ceil_to(to));
    ASSERT_EQ(series_sum, covered.sum) << level;
    ASSERT_EQ(series_measured, covered.measured) << level;
  }
}

TEST_P(EveryStoreTest, SeriesPicksTheCoarsestLevelThatResolvesThePoints) {
  const std::unique_ptr<CounterStore> opened = Open();
  CounterStore& s = *opened;
  const CounterId c = AddCounter(s);
  std::vector<Second> day;
  for (int64_t t = kT0; t < kT0 + 86400; ++t)
    if (t < kT0 + 3600 || t >= kT0 + 7200) day.push_back({t, static_cast<uint32_t>(t % 7)});
  s.AppendSeconds(c, day);

  const Series raw = s.Query(c, kT0, kT0 + 86400, 86400);
  EXPECT_EQ(raw.source_level, 1);
  ASSERT_EQ(raw.points.size(), 86400u);
  EXPECT_EQ(raw.points[3599].values.sum, static_cast<uint64_t>((kT0 + 3599) % 7));
  EXPECT_EQ(raw.points[3600].values.measured, 0u);  // the gap hour is a gap, not zeros

  const Series minutes = s.Query(c, kT0, kT0 + 86400, 1440);
  EXPECT_EQ(minutes.source_level, 60);
  EXPECT_EQ(minutes.points[0].values.measured, 60u);
  EXPECT_EQ(minutes.points[70].values.measured, 0u);

  const Series hours = s.Query(c, kT0, kT0 + 86400, 24);
  EXPECT_EQ(hours.source_level, 3600);
  uint64_t first_hour = 0;
  for (int64_t t = kT0; t < kT0 + 3600; ++t) first_hour += static_cast<uint64_t>(t % 7);
  EXPECT_EQ(hours.points[0].values.sum, first_hour);
  EXPECT_EQ(hours.points[1].values.measured, 0u);
  EXPECT_EQ(hours.points[2].values.measured, 3600u);
}

// The chart's columns of whole ten minutes come from the ten-minute summaries: they must hold what
// the minutes hold (peaks and partly measured minutes included), also in a store made before there
// were any, which gains them when it is opened for writing.
TEST_P(EveryStoreTest, TenMinuteColumnsHoldWhatTheMinutesHoldAlsoInAnOlderStore) {
  constexpr int64_t kStep = 1200;
  constexpr size_t kColumns = 72;  // a day
  const auto columns_of_minutes = [&](CounterStore& s) {
    const Series minutes = s.Query(1, kT0, kT0 + kStep * int64_t{kColumns}, kColumns * kStep / 60);
    EXPECT_EQ(minutes.source_level, 60);
    std::vector<Aggregate> want(kColumns);
    for (const SeriesPoint& p : minutes.points) want[static_cast<size_t>((p.start - kT0) / kStep)].Merge(p.values);
    return want;
  };
  const auto expect_same = [&](CounterStore& s, const std::vector<Aggregate>& want) {
    const Series got = s.MinuteColumns(1, kT0, kStep, kColumns);
    EXPECT_EQ(got.source_level, 600);
    ASSERT_EQ(got.points.size(), kColumns);
    for (size_t i = 0; i < kColumns; ++i) {
      const Aggregate& a = got.points[i].values;
      EXPECT_EQ(a.sum, want[i].sum) << i;
      EXPECT_EQ(a.measured, want[i].measured) << i;
      EXPECT_EQ(a.full_minutes, want[i].full_minutes) << i;
      EXPECT_EQ(a.max_cpm, want[i].max_cpm) << i;
      EXPECT_EQ(a.max_cpm_at, want[i].max_cpm_at) << i;
      EXPECT_EQ(a.min_cpm, want[i].min_cpm) << i;
    }
  };
  std::vector<Aggregate> want;
  {
    const std::unique_ptr<CounterStore> s = Open();
    AddCounter(*s);
    std::mt19937 rng(5);
    std::vector<Second> day;
    for (int64_t t = kT0; t < kT0 + 86400; ++t) {
      const bool gap = (t >= kT0 + 5000 && t < kT0 + 9000) || t % 997 == 0;
      const bool peak = t >= kT0 + 40'020 && t < kT0 + 40'080;
      if (!gap) day.push_back({t, peak ? 300u : static_cast<uint32_t>(rng() % 4)});
    }
    s->AppendSeconds(1, day);
    want = columns_of_minutes(*s);
    expect_same(*s, want);
  }
  // Back to the version before the ten-minute level, without the tables that came after it.
  Raw("DROP TABLE clock_readings; DROP TABLE calibrations; DELETE FROM summaries WHERE level = 600; " +
      std::string(GetParam() == Backend::kSqlite ? "ALTER TABLE counters DROP COLUMN held_by; "
                                                   "ALTER TABLE counters DROP COLUMN held_until; DROP TABLE upload_queue; "
                                                   "DROP TABLE upload_state; PRAGMA user_version = 4;"
                                                 : "DROP TABLE differing_seconds; DROP INDEX counters_by_station; "
                                                   "UPDATE schema_version SET version = 2;"));
  const std::unique_ptr<CounterStore> s = Open();
  EXPECT_TRUE(s->Check().ok());
  expect_same(*s, want);
}

TEST_P(EveryStoreTest, CheckFindsDamagedSummariesAndRows) {
  {
    const std::unique_ptr<CounterStore> s = Open();
    const CounterId c = AddCounter(*s);
    std::vector<Second> seconds;
    for (int64_t t = kT0; t < kT0 + 600; ++t) seconds.push_back({t, 2});
    s->AppendSeconds(c, seconds);
    EXPECT_TRUE(s->Check().ok());
  }
  Raw("UPDATE summaries SET sum = sum + 1 WHERE level = 3600;");
  {
    const CheckReport report = Open()->Check();
    ASSERT_EQ(report.problems.size(), 1u);
    EXPECT_NE(report.problems[0].find("hour summary"), std::string::npos) << report.problems[0];
  }
  Raw("UPDATE summaries SET sum = sum - 1 WHERE level = 3600; "
      "UPDATE seconds SET gaps = 3 WHERE minute = (SELECT min(minute) FROM seconds); "
      "DELETE FROM summaries WHERE level = 86400;");
  const std::unique_ptr<CounterStore> s = Open();
  const CheckReport report = s->Check();
  bool mask = false, missing = false;
  for (const std::string& p : report.problems) {
    mask = mask || p.find("do not fit the mask") != std::string::npos;
    missing = missing || p.find("day summary") != std::string::npos;
  }
  EXPECT_TRUE(mask && missing) << report.problems.size();
  // Reading the damaged minute says so instead of returning wrong counts.
  EXPECT_THROW(s->ReadSeconds(1, kT0, kT0 + 60), StoreError);
}

}  // namespace
}  // namespace norvane::store
