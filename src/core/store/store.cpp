#include "core/store/store.h"

#include <algorithm>
#include <map>
#include <system_error>

#include "core/platform/file_read.h"
#include "core/store/store_statements.h"

namespace norvane::store {
namespace {

// Adds to a summary row what more seconds bring to it.
constexpr const char* kAddSummary = R"(
INSERT INTO summaries(counter, level, start, sum, measured, min_second, max_second, full_minutes, min_cpm, max_cpm,
                      max_cpm_at)
VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11)
ON CONFLICT(counter, level, start) DO UPDATE SET
  sum = sum + excluded.sum,
  measured = measured + excluded.measured,
  min_second = min(min_second, excluded.min_second),
  max_second = max(max_second, excluded.max_second),
  min_cpm = CASE WHEN excluded.full_minutes = 0 THEN min_cpm WHEN full_minutes = 0 THEN excluded.min_cpm
                 ELSE min(min_cpm, excluded.min_cpm) END,
  max_cpm_at = CASE WHEN excluded.full_minutes > 0 AND (full_minutes = 0 OR excluded.max_cpm > max_cpm OR
                    (excluded.max_cpm = max_cpm AND excluded.max_cpm_at < max_cpm_at))
                    THEN excluded.max_cpm_at ELSE max_cpm_at END,
  max_cpm = CASE WHEN excluded.full_minutes > 0 AND (full_minutes = 0 OR excluded.max_cpm > max_cpm)
                 THEN excluded.max_cpm ELSE max_cpm END,
  full_minutes = full_minutes + excluded.full_minutes
)";

void BuildTenMinuteSummaries(Database& db);

struct Migration {
  const char* sql;
  void (*build)(Database&) = nullptr;  // what SQL alone cannot do, after the statements
};

// Each entry brings a store from the version before it to its own; entries are never edited
// once released, so every older store can be brought forward step by step.
constexpr Migration kMigrations[] = {
    // 1: counters, measured seconds one row per counter-minute, hour and day summaries.
    {R"(
CREATE TABLE counters(
  id INTEGER PRIMARY KEY,
  version TEXT NOT NULL,
  family TEXT NOT NULL DEFAULT '',
  model TEXT NOT NULL DEFAULT '',
  port TEXT NOT NULL DEFAULT '',
  name TEXT UNIQUE,
  first_seen INTEGER NOT NULL,
  last_seen INTEGER NOT NULL);
CREATE INDEX counters_by_version ON counters(version);
CREATE TABLE seconds(
  counter INTEGER NOT NULL REFERENCES counters(id),
  minute INTEGER NOT NULL,
  gaps INTEGER NOT NULL,
  counts BLOB NOT NULL,
  sum INTEGER NOT NULL,
  measured INTEGER NOT NULL,
  max INTEGER NOT NULL,
  PRIMARY KEY(counter, minute)) WITHOUT ROWID;
CREATE TABLE summaries(
  counter INTEGER NOT NULL REFERENCES counters(id),
  level INTEGER NOT NULL,
  start INTEGER NOT NULL,
  sum INTEGER NOT NULL,
  measured INTEGER NOT NULL,
  min_second INTEGER NOT NULL,
  max_second INTEGER NOT NULL,
  full_minutes INTEGER NOT NULL,
  min_cpm INTEGER NOT NULL,
  max_cpm INTEGER NOT NULL,
  max_cpm_at INTEGER NOT NULL,
  PRIMARY KEY(counter, level, start)) WITHOUT ROWID;
)"},
    // 2: downloaded histories, their notes, and hour and day summaries of their records.
    {R"(
CREATE TABLE history(
  counter INTEGER NOT NULL REFERENCES counters(id),
  time INTEGER NOT NULL,
  save_type INTEGER NOT NULL,
  seq INTEGER NOT NULL,
  value INTEGER NOT NULL,
  PRIMARY KEY(counter, time, save_type, seq)) WITHOUT ROWID;
CREATE TABLE notes(
  counter INTEGER NOT NULL REFERENCES counters(id),
  time INTEGER NOT NULL,
  text TEXT NOT NULL,
  PRIMARY KEY(counter, time, text)) WITHOUT ROWID;
CREATE TABLE history_summaries(
  counter INTEGER NOT NULL REFERENCES counters(id),
  save_type INTEGER NOT NULL,
  level INTEGER NOT NULL,
  start INTEGER NOT NULL,
  records INTEGER NOT NULL,
  sum INTEGER NOT NULL,
  min_value INTEGER NOT NULL,
  max_value INTEGER NOT NULL,
  PRIMARY KEY(counter, save_type, level, start)) WITHOUT ROWID;
)"},
    // 3: each counter's last downloaded image up to its end of data, for downloading what is new.
    {R"(
CREATE TABLE last_downloads(
  counter INTEGER PRIMARY KEY REFERENCES counters(id),
  time INTEGER NOT NULL,
  image_size INTEGER NOT NULL,
  data BLOB NOT NULL);
)"},
    // 4: counters told apart by serial number and device path; the store's own random name.
    {R"(
ALTER TABLE counters ADD COLUMN serial TEXT NOT NULL DEFAULT '';
ALTER TABLE counters ADD COLUMN device_path TEXT NOT NULL DEFAULT '';
CREATE INDEX counters_by_serial ON counters(serial);
CREATE TABLE store_identity(id TEXT NOT NULL);
INSERT INTO store_identity VALUES(lower(hex(randomblob(16))));
)"},
    // 5: ten-minute summaries, built from the minutes stored before.
    {nullptr, BuildTenMinuteSummaries},
    // 6: each counter's calibrations, from the time each holds.
    {R"(
CREATE TABLE calibrations(
  counter INTEGER NOT NULL REFERENCES counters(id),
  valid_from INTEGER NOT NULL,
  usv_per_cpm REAL NOT NULL,
  dead_time_us REAL NOT NULL,
  PRIMARY KEY(counter, valid_from)) WITHOUT ROWID;
)"},
    // 7: the counter's clock read against the computer's, for its drift.
    {R"(
CREATE TABLE clock_readings(
  counter INTEGER NOT NULL REFERENCES counters(id),
  time INTEGER NOT NULL,
  clock_offset INTEGER NOT NULL,
  was_set INTEGER NOT NULL,
  PRIMARY KEY(counter, time)) WITHOUT ROWID;
)"},
    // 8: which live writer holds a counter, so an alike counter without a serial is not taken for it.
    {R"(
ALTER TABLE counters ADD COLUMN held_by TEXT NOT NULL DEFAULT '';
ALTER TABLE counters ADD COLUMN held_until INTEGER NOT NULL DEFAULT 0;
)"},
    // 9: each public map's queue of intervals still to upload, and what each network made of them.
    {R"(
CREATE TABLE upload_queue(
  network TEXT NOT NULL,
  counter INTEGER NOT NULL REFERENCES counters(id),
  start INTEGER NOT NULL,
  length INTEGER NOT NULL,
  counts INTEGER NOT NULL,
  measured INTEGER NOT NULL,
  PRIMARY KEY(network, counter, start)) WITHOUT ROWID;
CREATE TABLE upload_state(
  network TEXT NOT NULL,
  counter INTEGER NOT NULL REFERENCES counters(id),
  queued_until INTEGER NOT NULL,
  sent INTEGER NOT NULL DEFAULT 0,
  refused INTEGER NOT NULL DEFAULT 0,
  skipped INTEGER NOT NULL DEFAULT 0,
  last_sent INTEGER NOT NULL DEFAULT 0,
  last_refusal TEXT NOT NULL DEFAULT '',
  last_refusal_at INTEGER NOT NULL DEFAULT 0,
  PRIMARY KEY(network, counter)) WITHOUT ROWID;
)"},
};
static_assert(std::size(kMigrations) == kSchemaVersion);

// A locked store is waited for this long before a write gives up and is retried later.
constexpr int kBusyTimeoutMs = 3000;
// SQLite's file header, which says how long the file should be.
constexpr uint64_t kHeaderSize = 100;
// Every store made or written by this program carries it in the header ("NRVD"); a database that
// has some tables of the same name is still another program's.
constexpr int64_t kApplicationId = 0x4E525644;

std::string NotAStore(const std::filesystem::path& path, std::string_view why) {
  return path.string() + " is not a store: " + std::string(why) + "; it is left as it is";
}

// Refuses what SQLite must never be given: opening a FIFO would wait for ever, and a file that is
// not a database would only fail later, again and again.
void RefuseNonStoreFile(const std::filesystem::path& path, const std::filesystem::file_status& status) {
  if (std::filesystem::is_directory(status)) throw PermanentStoreError(NotAStore(path, "it is a folder"));
  if (!std::filesystem::is_regular_file(status))
    throw PermanentStoreError(NotAStore(path, "it is not a regular file (a FIFO, a device or a socket)"));
  std::string error;
  const std::optional<FilePrefix> prefix = ReadFilePrefix(path, kHeaderSize, &error);
  if (!prefix) throw StoreError("cannot read " + path.string() + ": " + error);
  if (prefix->file_size == 0) return;
  static constexpr char kMagic[] = "SQLite format 3";  // with its NUL: 16 bytes
  const std::vector<uint8_t>& header = prefix->bytes;
  if (header.size() < sizeof kMagic || !std::equal(std::begin(kMagic), std::end(kMagic), header.begin()))
    throw PermanentStoreError(NotAStore(path, "it is not a SQLite database"));
  // A file cut short (a copy or a disk that stopped half-way) would only fail as "malformed" at
  // some later read, without its path: its header says how long it is.
  const auto number = [&](size_t at, size_t bytes) {
    uint64_t value = 0;
    for (size_t i = 0; i < bytes; ++i) value = value << 8 | header[at + i];
    return value;
  };
  if (header.size() < kHeaderSize) throw PermanentStoreError(NotAStore(path, "it is damaged: it is cut short"));
  const uint64_t page_size = number(16, 2) == 1 ? 65536 : number(16, 2);
  if (page_size < 512 || (page_size & (page_size - 1)) != 0)
    throw PermanentStoreError(NotAStore(path, "it is damaged: its header is garbled"));
  // The page count is valid only while the header's two change counters agree, and says the
  // file's length only without a log beside it: a checkpoint that met a full disk leaves the
  // file short and the pages in the log.
  const uint64_t pages = number(28, 4);
  std::error_code ec;
  const std::filesystem::path log = path.string() + "-wal";
  const bool logged = std::filesystem::exists(log, ec) && std::filesystem::file_size(log, ec) > 0;
  if (!logged && number(92, 4) == number(24, 4) && pages * page_size > prefix->file_size)
    throw PermanentStoreError(NotAStore(path, "it is damaged: it is cut short"));
}

Database OpenDatabase(const std::filesystem::path& path, Store::Access access) {
  std::error_code ec;
  const std::filesystem::file_status status = std::filesystem::status(path, ec);
  if (std::filesystem::exists(status)) RefuseNonStoreFile(path, status);
  else if (access == Store::Access::kReadOnly) throw StoreError("there is no store at " + path.string());
  if (access == Store::Access::kReadWrite && path.has_parent_path()) {
    std::error_code ignored;  // a folder that cannot be made shows up as the open's own failure
    std::filesystem::create_directories(path.parent_path(), ignored);
  }
  return Database(path, access == Store::Access::kReadOnly ? Database::Mode::kReadOnly : Database::Mode::kReadWrite);
}

// Refuses, before anything is written to it, a database that is not a store or is newer.
void RefuseForeignDatabase(Database& db) {
  // One snapshot: a store another writer makes meanwhile must not look like version 0 with tables.
  ReadTransaction snapshot(db);
  const int64_t version = db.ScalarInt("PRAGMA user_version");
  if (version > kSchemaVersion)
    throw PermanentStoreError(db.path().string() + " was written by a newer version of this program (store version " +
                              std::to_string(version) + ", this one knows up to " + std::to_string(kSchemaVersion) + ")");
  // Every store has these from its first version on; a database of another program is never
  // made a store. One with no tables at all is a store not yet made.
  const int64_t tables = db.ScalarInt("SELECT count(*) FROM sqlite_master");
  const int64_t application = db.ScalarInt("PRAGMA application_id");
  // A store from before the mark is known by its seconds and summaries tables, word for word as
  // this program made them.
  const auto made_here = [&](const char* table) {
    const std::string_view made = kMigrations[0].sql;
    const size_t start = made.find(std::string("CREATE TABLE ") + table + "(");
    const size_t end = made.find(") WITHOUT ROWID", start);
    Statement stored(db.handle(), "SELECT sql FROM sqlite_master WHERE type = 'table' AND name = ?1");
    stored.Bind(1, std::string_view(table));
    return stored.Step() && stored.Text(0) == made.substr(start, end + 15 - start);
  };
  const bool ours = application == kApplicationId ||
                    (application == 0 && version > 0 && made_here("seconds") && made_here("summaries"));
  if ((version == 0 && (tables > 0 || (application != 0 && application != kApplicationId))) || (version > 0 && !ours))
    throw PermanentStoreError(NotAStore(db.path(), "it is a SQLite database of another program"));
}

void Migrate(Database& db, Store::Access access) {
  const int64_t version = db.ScalarInt("PRAGMA user_version");
  if (version == kSchemaVersion) {
    // A store made before the mark gets it with its first write.
    if (access == Store::Access::kReadWrite && db.ScalarInt("PRAGMA application_id") != kApplicationId)
      db.ExecWaitingForLocks("PRAGMA application_id = " + std::to_string(kApplicationId), kBusyTimeoutMs);
    return;
  }
  if (access == Store::Access::kReadOnly) {
    // A store is made in one transaction: a reader can find the file before it commits, and a
    // writer killed before its first commit leaves it so.
    if (version == 0)
      throw StoreError(db.path().string() + " holds nothing yet: it is being made, or its making was cut short");
    throw StoreError(db.path().string() + " needs an update; open it once with write access");
  }
  Transaction tx(db);
  // Checked again inside the transaction: another writer may have made the store meanwhile.
  const int64_t now = db.ScalarInt("PRAGMA user_version");
  db.Exec("PRAGMA application_id = " + std::to_string(kApplicationId));
  for (int64_t v = now; v < kSchemaVersion; ++v) {
    if (kMigrations[v].sql) db.Exec(kMigrations[v].sql);
    if (kMigrations[v].build) kMigrations[v].build(db);
  }
  db.Exec("PRAGMA user_version = " + std::to_string(kSchemaVersion));
  tx.Commit();
}

void BuildTenMinuteSummaries(Database& db) {
  std::map<std::pair<CounterId, int64_t>, Aggregate> built;
  Statement minutes(db.handle(), "SELECT minute, gaps, counts, max, counter FROM seconds");
  while (minutes.Step()) {
    const int64_t minute = minutes.Int(0);
    MinuteBlock block;
    // A damaged row adds nothing; the check names it.
    if (!UnpackMinute(static_cast<uint64_t>(minutes.Int(1)), static_cast<uint32_t>(minutes.Int(3)), minutes.Blob(2),
                      block))
      continue;
    built[{minutes.Int(4), FloorDiv(minute * 60, kTenMinutes) * kTenMinutes}].Merge(
        MinuteAggregate(block, minute, minute * 60, minute * 60 + 60));
  }
  Statement add(db.handle(), kAddSummary);
  for (const auto& [key, a] : built) {
    add.Bind(1, key.first).Bind(2, kTenMinutes).Bind(3, key.second).Bind(4, static_cast<int64_t>(a.sum));
    add.Bind(5, static_cast<int64_t>(a.measured)).Bind(6, int64_t{a.min_second}).Bind(7, int64_t{a.max_second});
    add.Bind(8, static_cast<int64_t>(a.full_minutes)).Bind(9, int64_t{a.min_cpm}).Bind(10, int64_t{a.max_cpm});
    add.Bind(11, a.max_cpm_at);
    add.Run();
  }
}

}  // namespace

void Aggregate::Merge(const Aggregate& other) {
  if (other.measured == 0) return;
  if (measured == 0) {
    *this = other;
    return;
  }
  sum += other.sum;
  measured += other.measured;
  min_second = std::min(min_second, other.min_second);
  max_second = std::max(max_second, other.max_second);
  if (other.full_minutes) {
    if (full_minutes == 0) {
      min_cpm = other.min_cpm;
      max_cpm = other.max_cpm;
      max_cpm_at = other.max_cpm_at;
    } else {
      min_cpm = std::min(min_cpm, other.min_cpm);
      // Of equal peaks the earliest is the one reported, whatever order the data came in.
      if (other.max_cpm > max_cpm || (other.max_cpm == max_cpm && other.max_cpm_at < max_cpm_at)) {
        max_cpm = other.max_cpm;
        max_cpm_at = other.max_cpm_at;
      }
    }
    full_minutes += other.full_minutes;
  }
}

Aggregate MinuteAggregate(const MinuteBlock& block, int64_t minute, int64_t from, int64_t to) {
  Aggregate a;
  const int64_t start = minute * 60;
  for (int s = 0; s < 60; ++s) {
    if (!block.Has(s) || start + s < from || start + s >= to) continue;
    const uint32_t v = block.counts[s];
    a.min_second = a.measured ? std::min(a.min_second, v) : v;
    a.max_second = std::max(a.max_second, v);
    a.sum += v;
    ++a.measured;
  }
  if (a.measured == 60) {
    a.full_minutes = 1;
    a.min_cpm = a.max_cpm = static_cast<uint32_t>(std::min<uint64_t>(a.sum, UINT32_MAX));
    a.max_cpm_at = start;
  }
  return a;
}

Aggregate AddToMinute(MinuteBlock& block, int64_t minute, std::span<const Second> seconds, AppendResult& result) {
  const bool was_full = block.measured == kFullMinute;
  Aggregate added;
  for (const Second& second : seconds) {
    const int s = static_cast<int>(second.time - minute * 60);
    if (block.Has(s)) {
      ++result.already_stored;
      if (block.counts[s] != second.count) ++result.differing;
      continue;
    }
    block.measured |= uint64_t{1} << s;
    block.counts[s] = second.count;
    added.min_second = added.measured ? std::min(added.min_second, second.count) : second.count;
    added.max_second = std::max(added.max_second, second.count);
    added.sum += second.count;
    ++added.measured;
  }
  if (added.measured && !was_full && block.measured == kFullMinute) {
    added.full_minutes = 1;
    added.min_cpm = added.max_cpm = static_cast<uint32_t>(std::min<uint64_t>(block.Sum(), UINT32_MAX));
    added.max_cpm_at = minute * 60;
  }
  return added;
}

MinuteBlock ReadBlock(const Statement& row) {
  MinuteBlock block;
  if (!UnpackMinute(static_cast<uint64_t>(row.Int(1)), static_cast<uint32_t>(row.Int(3)), row.Blob(2), block))
    throw StoreError("the stored seconds of minute " + std::to_string(row.Int(0)) +
                         " are damaged; 'norvane-cli store check' lists what is wrong");
  return block;
}

MinuteBlock StoredMinute(Statement& read, CounterId counter, int64_t minute) {
  MinuteBlock block;
  read.Bind(1, counter).Bind(2, minute);
  try {
    if (read.Step()) block = ReadBlock(read);
  } catch (...) {
    read.Reset();
    throw;
  }
  read.Reset();
  return block;
}

Store::Statements::Statements(sqlite3* db)
    : read_minute(db, "SELECT minute, gaps, counts, max FROM seconds WHERE counter = ?1 AND minute = ?2"),
      write_minute(db,
                   "INSERT OR REPLACE INTO seconds(counter, minute, gaps, counts, sum, measured, max) "
                   "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7)"),
      minutes_between(db,
                      "SELECT minute, gaps, counts, max, sum, measured FROM seconds "
                      "WHERE counter = ?1 AND minute >= ?2 AND minute < ?3 ORDER BY minute"),
      add_summary(db, kAddSummary),
      summaries_between(db,
                        "SELECT start, sum, measured, min_second, max_second, full_minutes, min_cpm, max_cpm, "
                        "max_cpm_at FROM summaries WHERE counter = ?1 AND level = ?2 AND start >= ?3 AND start < ?4 "
                        "ORDER BY start") {}

Store::Store(const std::filesystem::path& path, Access access, Journals journals) : db_(OpenDatabase(path, access)) {
  db_.Exec("PRAGMA busy_timeout = " + std::to_string(kBusyTimeoutMs));
  db_.Exec("PRAGMA foreign_keys = ON");
  RefuseForeignDatabase(db_);
  if (access == Access::kReadWrite) {
    // WAL with NORMAL: a commit is safe from a crash or kill of this process the moment it
    // returns; only a power cut or an OS crash can take back the commits since the last
    // checkpoint (SQLite syncs the log at each checkpoint, about every 1000 pages).
    db_.ExecWaitingForLocks("PRAGMA journal_mode = WAL", kBusyTimeoutMs);
    db_.Exec("PRAGMA synchronous = NORMAL");
  }
  Migrate(db_, access);
  s_ = std::make_unique<Statements>(db_.handle());
  Statement identity(db_.handle(), "SELECT id FROM store_identity");
  if (identity.Step()) id_ = identity.Text(0);
  if (access == Access::kReadWrite && journals == Journals::kFold) FoldEndedJournals();
}

Store::~Store() = default;

int Store::SchemaVersion() { return static_cast<int>(db_.ScalarInt("PRAGMA user_version")); }

CounterId Store::RegisterCounter(const CounterInfo& info, int64_t now) {
  Transaction tx(db_);
  const auto first = [&](std::string_view sql,
                         std::initializer_list<std::string_view> values) -> std::optional<CounterId> {
    Statement find(db_.handle(), sql);
    int index = 1;
    for (const std::string_view value : values) find.Bind(index++, value);
    if (find.Step()) return find.Int(0);
    return std::nullopt;
  };
  std::optional<CounterId> found;
  // A counter found by its version reply alone may be another one of the same kind that another
  // program is recording right now: such a one is never taken for a counter known to be plugged
  // in elsewhere.
  const std::string now_text = std::to_string(now);
  constexpr std::string_view kFree = " AND (?2 = '' OR held_by IN ('', ?3) OR held_until <= ?4)";
  if (!info.name.empty()) {
    found = first("SELECT id FROM counters WHERE name = ?1", {info.name});
  } else if (!info.serial.empty()) {
    found = first("SELECT id FROM counters WHERE serial = ?1 ORDER BY id LIMIT 1", {info.serial});
    // A counter stored before serials were asked for, preferably the one seen on the same path.
    if (!found)
      found = first(std::string("SELECT id FROM counters WHERE version = ?1 AND serial = '' AND name IS NULL") +
                        std::string(kFree) + " ORDER BY device_path = ?2 DESC, id LIMIT 1",
                    {info.version, info.device_path, holder_, now_text});
  } else {
    if (!info.device_path.empty())
      found = first("SELECT id FROM counters WHERE version = ?1 AND device_path = ?2 AND name IS NULL "
                    "ORDER BY id LIMIT 1",
                    {info.version, info.device_path});
    if (!found)
      found = first(std::string("SELECT id FROM counters WHERE version = ?1 AND serial = '' AND name IS NULL") +
                        std::string(kFree) + " ORDER BY id LIMIT 1",
                    {info.version, info.device_path, holder_, now_text});
  }
  if (found) {
    Statement update(db_.handle(),
                     "UPDATE counters SET version = ?2, family = ?3, model = ?4, port = ?5, "
                     "last_seen = max(last_seen, ?6), first_seen = min(first_seen, ?6), "
                     "serial = CASE WHEN ?7 = '' THEN serial ELSE ?7 END, "
                     "device_path = CASE WHEN ?8 = '' THEN device_path ELSE ?8 END WHERE id = ?1");
    update.Bind(1, *found).Bind(2, info.version).Bind(3, info.family).Bind(4, info.model).Bind(5, info.port).Bind(6, now);
    update.Bind(7, info.serial).Bind(8, info.device_path);
    update.Run();
  } else {
    Statement insert(db_.handle(),
                     "INSERT INTO counters(version, family, model, port, name, first_seen, last_seen, serial, "
                     "device_path) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?6, ?7, ?8)");
    insert.Bind(1, info.version).Bind(2, info.family).Bind(3, info.model).Bind(4, info.port).Bind(6, now);
    if (info.name.empty()) insert.BindNull(5);
    else insert.Bind(5, info.name);
    insert.Bind(7, info.serial).Bind(8, info.device_path);
    insert.Run();
    found = db_.ScalarInt("SELECT last_insert_rowid()");
  }
  if (!holder_.empty() && lease_ > 0) {
    Statement hold(db_.handle(), "UPDATE counters SET held_by = ?2, held_until = ?3 WHERE id = ?1");
    hold.Bind(1, *found).Bind(2, holder_).Bind(3, now + lease_);
    hold.Run();
  }
  tx.Commit();
  return *found;
}

void Store::HoldAs(std::string holder, int64_t lease) {
  holder_ = std::move(holder);
  lease_ = lease;
}

void Store::RenewHolds(int64_t now) {
  if (holder_.empty() || lease_ <= 0) return;
  Statement renew(db_.handle(), "UPDATE counters SET held_until = ?2 WHERE held_by = ?1");
  renew.Bind(1, holder_).Bind(2, now + lease_);
  renew.Run();
}

void Store::ReleaseHolds() {
  if (holder_.empty() || lease_ <= 0) return;
  Statement release(db_.handle(), "UPDATE counters SET held_by = '', held_until = 0 WHERE held_by = ?1");
  release.Bind(1, holder_);
  release.Run();
}

void Store::NameCounter(CounterId id, std::string_view name) {
  Statement rename(db_.handle(), "UPDATE counters SET name = ?2 WHERE id = ?1");
  rename.Bind(1, id).Bind(2, name);
  rename.Run();
}

std::vector<CounterRow> Store::Counters() {
  Statement all(db_.handle(),
                "SELECT id, version, family, model, port, ifnull(name, ''), first_seen, last_seen, serial, "
                "device_path FROM counters ORDER BY id");
  std::vector<CounterRow> rows;
  while (all.Step())
    rows.push_back({all.Int(0),
                    {all.Text(1), all.Text(2), all.Text(3), all.Text(4), all.Text(5), all.Text(8), all.Text(9)},
                    all.Int(6), all.Int(7)});
  return rows;
}

AppendResult Store::AppendSeconds(CounterId counter, std::span<const Second> seconds) {
  AppendResult result;
  if (seconds.empty()) return result;
  std::vector<Second> sorted(seconds.begin(), seconds.end());
  std::stable_sort(sorted.begin(), sorted.end(), [](const Second& a, const Second& b) { return a.time < b.time; });

  // Summary changes of the whole batch, written once per hour and day at the end.
  std::map<std::pair<int64_t, int64_t>, Aggregate> changes;
  Transaction tx(db_);
  Statement& write = s_->write_minute;
  for (size_t i = 0; i < sorted.size();) {
    const int64_t minute = FloorDiv(sorted[i].time, 60);
    MinuteBlock block = StoredMinute(s_->read_minute, counter, minute);
    const size_t begin = i;
    while (i < sorted.size() && FloorDiv(sorted[i].time, 60) == minute) ++i;
    const Aggregate added =
        AddToMinute(block, minute, std::span(sorted).subspan(begin, i - begin), result);
    if (added.measured == 0) continue;
    result.added += added.measured;

    const uint32_t max = block.Max();
    const std::vector<uint8_t> packed = PackCounts(block, max);
    write.Bind(1, counter).Bind(2, minute).Bind(3, static_cast<int64_t>(GapMaskOf(block))).BindBlob(4, packed);
    write.Bind(5, static_cast<int64_t>(block.Sum())).Bind(6, int64_t{block.MeasuredCount()}).Bind(7, int64_t{max});
    write.Run();

    for (int64_t level : kSummaryLevels) changes[{level, FloorDiv(minute * 60, level) * level}].Merge(added);
  }

  Statement& add = s_->add_summary;
  for (const auto& [key, a] : changes) {
    add.Bind(1, counter).Bind(2, key.first).Bind(3, key.second).Bind(4, static_cast<int64_t>(a.sum));
    add.Bind(5, static_cast<int64_t>(a.measured)).Bind(6, int64_t{a.min_second}).Bind(7, int64_t{a.max_second});
    add.Bind(8, static_cast<int64_t>(a.full_minutes)).Bind(9, int64_t{a.min_cpm}).Bind(10, int64_t{a.max_cpm});
    add.Bind(11, a.max_cpm_at);
    add.Run();
  }
  tx.Commit();
  return result;
}

void Store::AddCalibration(CounterId counter, const Calibration& c) {
  Statement add(db_.handle(),
                "INSERT OR REPLACE INTO calibrations(counter, valid_from, usv_per_cpm, dead_time_us) VALUES(?1, ?2, ?3, ?4)");
  add.Bind(1, counter).Bind(2, c.from).Bind(3, c.usv_per_cpm).Bind(4, c.dead_time_us);
  add.Run();
}

std::vector<Calibration> Store::Calibrations(CounterId counter) {
  Statement all(db_.handle(),
                "SELECT valid_from, usv_per_cpm, dead_time_us FROM calibrations WHERE counter = ?1 ORDER BY valid_from");
  all.Bind(1, counter);
  std::vector<Calibration> out;
  while (all.Step()) out.push_back({all.Int(0), all.Real(1), all.Real(2)});
  return out;
}

void Store::AddClockReading(CounterId counter, const ClockReading& r) {
  Statement add(db_.handle(),
                "INSERT OR REPLACE INTO clock_readings(counter, time, clock_offset, was_set) VALUES(?1, ?2, ?3, ?4)");
  add.Bind(1, counter).Bind(2, r.time).Bind(3, r.offset).Bind(4, int64_t{r.set});
  add.Run();
}

std::vector<ClockReading> Store::ClockReadings(CounterId counter) {
  Statement all(db_.handle(),
                "SELECT time, clock_offset, was_set FROM clock_readings WHERE counter = ?1 ORDER BY time");
  all.Bind(1, counter);
  std::vector<ClockReading> out;
  while (all.Step()) out.push_back({all.Int(0), all.Int(1), all.Int(2) != 0});
  return out;
}

uint64_t Store::SizeOnDisk() {
  uint64_t total = 0;
  for (const char* suffix : {"", "-wal"}) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(path().string() + suffix, ec);
    if (!ec) total += size;
  }
  return total;
}

}  // namespace norvane::store
