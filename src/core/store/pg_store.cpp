#include "core/store/pg_store.h"

#include <algorithm>
#include <charconv>
#include <chrono>

#include "core/common/text_format.h"
#include "core/store/store_chart_queries.h"
#include "core/store/store_reading.h"

namespace norvane::store {
namespace {

void BuildTenMinuteSummaries(PgConnection& db);

struct Migration {
  const char* sql;
  void (*build)(PgConnection&) = nullptr;  // what SQL alone cannot do, after the statements
};

// Each entry brings a store from the version before it to its own, as the SQLite store's do.
constexpr Migration kMigrations[] = {
    // 1: counters, measured seconds one row per counter-minute, hour and day summaries; seconds
    // and summaries partitioned by month, the partitions made as seconds arrive.
    {R"(
CREATE TABLE counters(
  id BIGSERIAL PRIMARY KEY,
  version TEXT NOT NULL,
  family TEXT NOT NULL DEFAULT '',
  model TEXT NOT NULL DEFAULT '',
  port TEXT NOT NULL DEFAULT '',
  name TEXT UNIQUE,
  first_seen BIGINT NOT NULL,
  last_seen BIGINT NOT NULL,
  serial TEXT NOT NULL DEFAULT '',
  device_path TEXT NOT NULL DEFAULT '');
CREATE INDEX counters_by_version ON counters(version);
CREATE INDEX counters_by_serial ON counters(serial);
CREATE TABLE seconds(
  counter BIGINT NOT NULL REFERENCES counters(id),
  minute BIGINT NOT NULL,
  gaps BIGINT NOT NULL,
  counts BYTEA NOT NULL,
  sum BIGINT NOT NULL,
  measured INTEGER NOT NULL,
  max BIGINT NOT NULL,
  PRIMARY KEY(counter, minute)) PARTITION BY RANGE(minute);
CREATE TABLE summaries(
  counter BIGINT NOT NULL REFERENCES counters(id),
  level INTEGER NOT NULL,
  start BIGINT NOT NULL,
  sum BIGINT NOT NULL,
  measured BIGINT NOT NULL,
  min_second BIGINT NOT NULL,
  max_second BIGINT NOT NULL,
  full_minutes BIGINT NOT NULL,
  min_cpm BIGINT NOT NULL,
  max_cpm BIGINT NOT NULL,
  max_cpm_at BIGINT NOT NULL,
  PRIMARY KEY(counter, level, start)) PARTITION BY RANGE(start);
CREATE TABLE store_identity(id TEXT NOT NULL);
INSERT INTO store_identity VALUES(md5(random()::text || clock_timestamp()::text));
)"},
    // 2: downloaded histories, their notes, hour and day summaries of their records, and each
    // counter's last downloaded image up to its end of data.
    {R"(
CREATE TABLE history(
  counter BIGINT NOT NULL REFERENCES counters(id),
  time BIGINT NOT NULL,
  save_type INTEGER NOT NULL,
  seq BIGINT NOT NULL,
  value BIGINT NOT NULL,
  PRIMARY KEY(counter, time, save_type, seq));
CREATE TABLE notes(
  counter BIGINT NOT NULL REFERENCES counters(id),
  time BIGINT NOT NULL,
  text TEXT NOT NULL,
  PRIMARY KEY(counter, time, text));
CREATE TABLE history_summaries(
  counter BIGINT NOT NULL REFERENCES counters(id),
  save_type INTEGER NOT NULL,
  level INTEGER NOT NULL,
  start BIGINT NOT NULL,
  records BIGINT NOT NULL,
  sum BIGINT NOT NULL,
  min_value BIGINT NOT NULL,
  max_value BIGINT NOT NULL,
  PRIMARY KEY(counter, save_type, level, start));
CREATE TABLE last_downloads(
  counter BIGINT PRIMARY KEY REFERENCES counters(id),
  time BIGINT NOT NULL,
  image_size BIGINT NOT NULL,
  data BYTEA NOT NULL);
)"},
    // 3: ten-minute summaries, built from the minutes stored before.
    {nullptr, BuildTenMinuteSummaries},
    // 4: each counter's calibrations, from the time each holds.
    {R"(
CREATE TABLE calibrations(
  counter BIGINT NOT NULL REFERENCES counters(id),
  valid_from BIGINT NOT NULL,
  usv_per_cpm DOUBLE PRECISION NOT NULL,
  dead_time_us DOUBLE PRECISION NOT NULL,
  PRIMARY KEY(counter, valid_from));
)"},
    // 5: the counter's clock read against the computer's, for its drift.
    {R"(
CREATE TABLE clock_readings(
  counter BIGINT NOT NULL REFERENCES counters(id),
  time BIGINT NOT NULL,
  clock_offset BIGINT NOT NULL,
  was_set BOOLEAN NOT NULL,
  PRIMARY KEY(counter, time));
)"},
    // 6: a centre finds a station's counter by its topic and serial, and notes each second given
    // again with other counts than the ones kept.
    {R"(
CREATE INDEX counters_by_station ON counters(port, serial);
CREATE TABLE differing_seconds(
  counter BIGINT NOT NULL REFERENCES counters(id),
  time BIGINT NOT NULL,
  kept BIGINT NOT NULL,
  given BIGINT NOT NULL,
  PRIMARY KEY(counter, time, given));
)"},
};
static_assert(std::size(kMigrations) == kPgSchemaVersion);

// Keys of the transaction locks writers take: the schema, the partitions, and the seconds.
constexpr int kLockSpace = 0x4e56;
constexpr int kSchemaLock = 1, kPartitionLock = 2, kSecondsLock = 3;

std::string Num(int64_t v) { return std::to_string(v); }
// The shortest text that reads back as the same double.
std::string Real(double v) {
  char text[32];
  return std::string(text, std::to_chars(text, text + sizeof text, v).ptr);
}

int64_t MonthOf(int64_t utc) {
  using namespace std::chrono;
  const year_month_day day{sys_days{floor<days>(sys_seconds{seconds{utc}})}};
  return (int(day.year()) - 1970) * 12 + int(unsigned(day.month())) - 1;
}

int64_t MonthStart(int64_t month) {
  using namespace std::chrono;
  const year_month_day day{year{1970 + int(FloorDiv(month, 12))}, std::chrono::month{unsigned(month - FloorDiv(month, 12) * 12 + 1)},
                           std::chrono::day{1}};
  return sys_seconds{sys_days{day}}.time_since_epoch().count();
}

std::string MonthName(int64_t month) {
  return Format("y%04dm%02d", int(1970 + FloorDiv(month, 12)), int(month - FloorDiv(month, 12) * 12 + 1));
}

Aggregate SummaryOf(const PgResult& r, int row) {
  Aggregate a;
  a.sum = static_cast<uint64_t>(r.Int(row, 1));
  a.measured = static_cast<uint64_t>(r.Int(row, 2));
  a.min_second = static_cast<uint32_t>(r.Int(row, 3));
  a.max_second = static_cast<uint32_t>(r.Int(row, 4));
  a.full_minutes = static_cast<uint64_t>(r.Int(row, 5));
  a.min_cpm = static_cast<uint32_t>(r.Int(row, 6));
  a.max_cpm = static_cast<uint32_t>(r.Int(row, 7));
  a.max_cpm_at = r.Int(row, 8);
  return a;
}

// Reads the minute row (minute, gaps, counts, max as columns 0-3).
MinuteBlock BlockOf(const PgResult& r, int row) {
  MinuteBlock block;
  if (!UnpackMinute(static_cast<uint64_t>(r.Int(row, 1)), static_cast<uint32_t>(r.Int(row, 3)), r.Bytes(row, 2), block))
    throw StoreError("the stored seconds of minute " + Num(r.Int(row, 0)) +
                     " are damaged; 'norvane-cli store check' lists what is wrong");
  return block;
}

// Adds to each summary row, (counter, level, start) → aggregate, what more seconds bring to it.
void AddSummaries(PgConnection& db, const std::map<std::tuple<CounterId, int64_t, int64_t>, Aggregate>& changes) {
  std::vector<int64_t> columns[11];
  for (const auto& [key, a] : changes) {
    const int64_t values[] = {std::get<0>(key), std::get<1>(key), std::get<2>(key), static_cast<int64_t>(a.sum),
                              static_cast<int64_t>(a.measured), a.min_second, a.max_second,
                              static_cast<int64_t>(a.full_minutes), a.min_cpm, a.max_cpm, a.max_cpm_at};
    for (size_t c = 0; c < std::size(values); ++c) columns[c].push_back(values[c]);
  }
  std::vector<PgParam> params;
  for (const auto& column : columns) params.emplace_back(IntArray(column));
  db.Exec(R"(
INSERT INTO summaries AS o(counter, level, start, sum, measured, min_second, max_second, full_minutes, min_cpm, max_cpm,
                         max_cpm_at)
SELECT * FROM unnest($1::bigint[], $2::integer[], $3::bigint[], $4::bigint[], $5::bigint[], $6::bigint[], $7::bigint[],
                   $8::bigint[], $9::bigint[], $10::bigint[], $11::bigint[])
ON CONFLICT(counter, level, start) DO UPDATE SET
  sum = o.sum + excluded.sum,
  measured = o.measured + excluded.measured,
  min_second = least(o.min_second, excluded.min_second),
  max_second = greatest(o.max_second, excluded.max_second),
  min_cpm = CASE WHEN excluded.full_minutes = 0 THEN o.min_cpm WHEN o.full_minutes = 0 THEN excluded.min_cpm
                 ELSE least(o.min_cpm, excluded.min_cpm) END,
  max_cpm_at = CASE WHEN excluded.full_minutes > 0 AND (o.full_minutes = 0 OR excluded.max_cpm > o.max_cpm OR
                    (excluded.max_cpm = o.max_cpm AND excluded.max_cpm_at < o.max_cpm_at))
                    THEN excluded.max_cpm_at ELSE o.max_cpm_at END,
  max_cpm = CASE WHEN excluded.full_minutes > 0 AND (o.full_minutes = 0 OR excluded.max_cpm > o.max_cpm)
                 THEN excluded.max_cpm ELSE o.max_cpm END,
  full_minutes = o.full_minutes + excluded.full_minutes
)",
           params);
}

void BuildTenMinuteSummaries(PgConnection& db) {
  // A counter at a time: a station's years of minutes would not fit in memory at once.
  const PgResult counters = db.Exec("SELECT id FROM counters");
  for (int c = 0; c < counters.Rows(); ++c) {
    const CounterId counter = counters.Int(c, 0);
    const PgResult r = db.Exec("SELECT minute, gaps, counts, max FROM seconds WHERE counter = $1", {Num(counter)});
    std::map<std::tuple<CounterId, int64_t, int64_t>, Aggregate> built;
    for (int i = 0; i < r.Rows(); ++i) {
      const int64_t minute = r.Int(i, 0);
      MinuteBlock block;
      // A damaged row adds nothing; the check names it.
      if (!UnpackMinute(static_cast<uint64_t>(r.Int(i, 1)), static_cast<uint32_t>(r.Int(i, 3)), r.Bytes(i, 2), block))
        continue;
      built[{counter, kTenMinutes, FloorDiv(minute * 60, kTenMinutes) * kTenMinutes}].Merge(
          MinuteAggregate(block, minute, minute * 60, minute * 60 + 60));
    }
    if (!built.empty()) AddSummaries(db, built);
  }
}

constexpr const char* kSummaryColumns =
    "start, sum, measured, min_second, max_second, full_minutes, min_cpm, max_cpm, max_cpm_at";

}  // namespace

PgStore::PgStore(const std::string& url, StoreAccess access) : db_(url) {
  const auto version = [&]() -> int64_t {
    if (db_.Exec("SELECT to_regclass('schema_version') IS NOT NULL").Text(0, 0) != "t") {
      if (db_.Exec("SELECT to_regclass('counters') IS NOT NULL OR to_regclass('seconds') IS NOT NULL").Text(0, 0) == "t")
        throw PermanentStoreError(db_.location() + " is not a store: it holds tables of another program; it is left as it is");
      return 0;
    }
    return db_.Exec("SELECT version FROM schema_version").Int(0, 0);
  };
  int64_t now = version();
  if (now > kPgSchemaVersion)
    throw PermanentStoreError(db_.location() + " was written by a newer version of this program (store version " +
                              Num(now) + ", this one knows up to " + Num(kPgSchemaVersion) + ")");
  if (now == kPgSchemaVersion) return;
  if (access == StoreAccess::kReadOnly)
    throw StoreError(now == 0 ? db_.location() + " holds no store yet"
                              : db_.location() + " needs an update; open it once with write access");
  PgTransaction tx(db_);
  db_.Exec("SELECT pg_advisory_xact_lock($1, $2)", {Num(kLockSpace), Num(kSchemaLock)});
  // Checked again under the lock: another writer may have made the store meanwhile.
  now = version();
  if (now == 0) db_.Exec("CREATE TABLE schema_version(version INTEGER NOT NULL); INSERT INTO schema_version VALUES(0)");
  for (int64_t v = now; v < kPgSchemaVersion; ++v) {
    if (kMigrations[v].sql) db_.Exec(kMigrations[v].sql);
    if (kMigrations[v].build) kMigrations[v].build(db_);
  }
  db_.Exec("UPDATE schema_version SET version = " + Num(kPgSchemaVersion));
  tx.Commit();
}

int PgStore::SchemaVersion() { return static_cast<int>(db_.Exec("SELECT version FROM schema_version").Int(0, 0)); }

CounterId PgStore::RegisterCounter(const CounterInfo& info, int64_t now) {
  return RegisterCounters(std::span(&info, 1), now).front();
}

std::vector<CounterId> PgStore::RegisterCounters(std::span<const CounterInfo> infos, int64_t now) {
  // The same rules as the SQLite store's, one writer at a time.
  PgTransaction tx(db_);
  db_.Exec("LOCK TABLE counters IN SHARE ROW EXCLUSIVE MODE");
  std::vector<CounterId> ids;
  ids.reserve(infos.size());
  for (const CounterInfo& info : infos) ids.push_back(FindOrAdd(info, now));
  tx.Commit();
  return ids;
}

std::vector<CounterId> PgStore::RegisterStations(std::span<const CounterInfo> infos, std::span<const int64_t> seen) {
  PgTransaction tx(db_);
  db_.Exec("LOCK TABLE counters IN SHARE ROW EXCLUSIVE MODE");
  std::vector<CounterId> ids;
  ids.reserve(infos.size());
  for (size_t i = 0; i < infos.size(); ++i) {
    const CounterInfo& info = infos[i];
    const PgResult found =
        db_.Exec("UPDATE counters SET version = $3, family = $4, model = $5, last_seen = greatest(last_seen, $6), "
                 "first_seen = least(first_seen, $6), device_path = $7 "
                 "WHERE id = (SELECT min(id) FROM counters WHERE port = $1 AND serial = $2) RETURNING id",
                 {info.port, info.serial, info.version, info.family, info.model, Num(seen[i]), info.device_path});
    ids.push_back(found.Rows() ? found.Int(0, 0)
                               : db_.Exec("INSERT INTO counters(version, family, model, port, first_seen, last_seen, "
                                          "serial, device_path) VALUES($1, $2, $3, $4, $5, $5, $6, $7) RETURNING id",
                                          {info.version, info.family, info.model, info.port, Num(seen[i]), info.serial,
                                           info.device_path})
                                     .Int(0, 0));
  }
  tx.Commit();
  return ids;
}

CounterId PgStore::FindOrAdd(const CounterInfo& info, int64_t now) {
  const auto first = [&](std::string_view sql, std::initializer_list<PgParam> values) -> std::optional<CounterId> {
    const PgResult r = db_.Exec(sql, values);
    if (r.Rows()) return r.Int(0, 0);
    return std::nullopt;
  };
  std::optional<CounterId> found;
  if (!info.name.empty()) {
    found = first("SELECT id FROM counters WHERE name = $1", {info.name});
  } else if (!info.serial.empty()) {
    found = first("SELECT id FROM counters WHERE serial = $1 ORDER BY id LIMIT 1", {info.serial});
    if (!found)
      found = first("SELECT id FROM counters WHERE version = $1 AND serial = '' AND name IS NULL "
                    "ORDER BY device_path = $2 DESC, id LIMIT 1",
                    {info.version, info.device_path});
  } else {
    if (!info.device_path.empty())
      found = first("SELECT id FROM counters WHERE version = $1 AND device_path = $2 AND name IS NULL "
                    "ORDER BY id LIMIT 1",
                    {info.version, info.device_path});
    if (!found)
      found = first("SELECT id FROM counters WHERE version = $1 AND name IS NULL ORDER BY id LIMIT 1", {info.version});
  }
  if (found) {
    db_.Exec("UPDATE counters SET version = $2, family = $3, model = $4, port = $5, "
             "last_seen = greatest(last_seen, $6), first_seen = least(first_seen, $6), "
             "serial = CASE WHEN $7 = '' THEN serial ELSE $7 END, "
             "device_path = CASE WHEN $8 = '' THEN device_path ELSE $8 END WHERE id = $1",
             {Num(*found), info.version, info.family, info.model, info.port, Num(now), info.serial, info.device_path});
  } else {
    found = db_.Exec("INSERT INTO counters(version, family, model, port, name, first_seen, last_seen, serial, "
                     "device_path) VALUES($1, $2, $3, $4, $5, $6, $6, $7, $8) RETURNING id",
                     {info.version, info.family, info.model, info.port,
                      info.name.empty() ? PgParam() : PgParam(info.name), Num(now), info.serial, info.device_path})
                .Int(0, 0);
  }
  return *found;
}

void PgStore::NameCounter(CounterId id, std::string_view name) {
  db_.Exec("UPDATE counters SET name = $2 WHERE id = $1", {Num(id), std::string(name)});
}

std::vector<CounterRow> PgStore::Counters() {
  const PgResult r = db_.Exec(
      "SELECT id, version, family, model, port, coalesce(name, ''), first_seen, last_seen, serial, device_path "
      "FROM counters ORDER BY id");
  std::vector<CounterRow> rows;
  for (int i = 0; i < r.Rows(); ++i)
    rows.push_back({r.Int(i, 0),
                    {r.Text(i, 1), r.Text(i, 2), r.Text(i, 3), r.Text(i, 4), r.Text(i, 5), r.Text(i, 8), r.Text(i, 9)},
                    r.Int(i, 6), r.Int(i, 7)});
  return rows;
}

void PgStore::MakePartitions(const std::set<int64_t>& minutes) {
  std::set<int64_t> months;
  for (const int64_t minute : minutes) months.insert(MonthOf(minute * 60));
  for (const int64_t month : months) {
    if (partitions_.contains(month)) continue;
    // Its own transaction: making a partition locks the whole table for a moment.
    PgTransaction tx(db_);
    db_.Exec("SELECT pg_advisory_xact_lock($1, $2)", {Num(kLockSpace), Num(kPartitionLock)});
    const int64_t from = MonthStart(month), to = MonthStart(month + 1);
    const std::string name = MonthName(month);
    db_.Exec("CREATE TABLE IF NOT EXISTS seconds_" + name + " PARTITION OF seconds FOR VALUES FROM (" + Num(from / 60) +
             ") TO (" + Num(to / 60) + ")");
    db_.Exec("CREATE TABLE IF NOT EXISTS summaries_" + name + " PARTITION OF summaries FOR VALUES FROM (" + Num(from) +
             ") TO (" + Num(to) + ")");
    tx.Commit();
    partitions_.insert(month);
  }
}

AppendResult PgStore::AppendSeconds(CounterId counter, std::span<const Second> seconds) {
  const CounterSeconds one{counter, {seconds.begin(), seconds.end()}};
  return AppendMany(std::span(&one, 1));
}

AppendResult PgStore::AppendMany(std::span<const CounterSeconds> batch) {
  AppendResult result;
  // (counter, minute) → the seconds for it, oldest first.
  std::map<std::pair<CounterId, int64_t>, std::vector<Second>> incoming;
  std::set<int64_t> minutes;
  for (const CounterSeconds& c : batch)
    for (const Second& s : c.seconds) {
      const int64_t minute = FloorDiv(s.time, 60);
      incoming[{c.counter, minute}].push_back(s);
      minutes.insert(minute);
    }
  if (incoming.empty()) return result;
  MakePartitions(minutes);

  std::vector<int64_t> keys_counter, keys_minute;
  for (const auto& [key, list] : incoming) {
    keys_counter.push_back(key.first);
    keys_minute.push_back(key.second);
  }
  PgTransaction tx(db_);
  // Two writers merge their seconds into the minutes one after the other. One lock for the
  // commit, not one per counter: a server holds only so many locks in one transaction (about
  // 12,800 by default), and a centre has more stations than that.
  db_.Exec("SELECT pg_advisory_xact_lock($1, $2)", {Num(kLockSpace), Num(kSecondsLock)});
  std::map<std::pair<CounterId, int64_t>, MinuteBlock> stored;
  {
    const PgResult r = db_.Exec(
        "SELECT s.minute, s.gaps, s.counts, s.max, s.counter FROM seconds s "
        "JOIN unnest($1::bigint[], $2::bigint[]) AS k(counter, minute) ON s.counter = k.counter AND s.minute = k.minute",
        {IntArray(keys_counter), IntArray(keys_minute)});
    for (int i = 0; i < r.Rows(); ++i) stored[{r.Int(i, 4), r.Int(i, 0)}] = BlockOf(r, i);
  }

  std::vector<int64_t> m_counter, m_minute, m_gaps, m_sum, m_measured, m_max;
  std::vector<int64_t> d_counter, d_time, d_kept, d_given;
  std::vector<std::vector<uint8_t>> m_counts;
  std::map<std::tuple<CounterId, int64_t, int64_t>, Aggregate> changes;
  for (auto& [key, list] : incoming) {
    std::stable_sort(list.begin(), list.end(), [](const Second& a, const Second& b) { return a.time < b.time; });
    MinuteBlock& block = stored[key];
    const Aggregate added = AddToMinute(block, key.second, list, result);
    // The first of a second is kept; one given again with other counts is noted, never resolved
    // silently for either.
    for (const Second& second : list) {
      const uint32_t kept = block.counts[static_cast<size_t>(second.time - key.second * 60)];
      if (second.count == kept) continue;
      d_counter.push_back(key.first);
      d_time.push_back(second.time);
      d_kept.push_back(kept);
      d_given.push_back(second.count);
      if (result.differing_counters.empty() || result.differing_counters.back() != key.first)
        result.differing_counters.push_back(key.first);
    }
    if (added.measured == 0) continue;
    result.added += added.measured;
    const uint32_t max = block.Max();
    m_counter.push_back(key.first);
    m_minute.push_back(key.second);
    m_gaps.push_back(static_cast<int64_t>(GapMaskOf(block)));
    m_counts.push_back(PackCounts(block, max));
    m_sum.push_back(static_cast<int64_t>(block.Sum()));
    m_measured.push_back(block.MeasuredCount());
    m_max.push_back(max);
    for (int64_t level : kSummaryLevels) changes[{key.first, level, FloorDiv(key.second * 60, level) * level}].Merge(added);
  }
  if (!m_counter.empty()) {
    db_.Exec("INSERT INTO seconds(counter, minute, gaps, counts, sum, measured, max) "
             "SELECT * FROM unnest($1::bigint[], $2::bigint[], $3::bigint[], $4::bytea[], $5::bigint[], $6::integer[], "
             "$7::bigint[]) ON CONFLICT(counter, minute) DO UPDATE SET gaps = excluded.gaps, counts = excluded.counts, "
             "sum = excluded.sum, measured = excluded.measured, max = excluded.max",
             {IntArray(m_counter), IntArray(m_minute), IntArray(m_gaps), ByteaArray(m_counts), IntArray(m_sum),
              IntArray(m_measured), IntArray(m_max)});
    AddSummaries(db_, changes);
  }
  if (!d_counter.empty()) {
    result.differing = static_cast<size_t>(
        db_.Exec("INSERT INTO differing_seconds(counter, time, kept, given) SELECT * FROM unnest($1::bigint[], "
                 "$2::bigint[], $3::bigint[], $4::bigint[]) ON CONFLICT DO NOTHING RETURNING 1",
                 {IntArray(d_counter), IntArray(d_time), IntArray(d_kept), IntArray(d_given)})
            .Rows());
  }
  tx.Commit();
  return result;
}

template <typename Visit>
void PgStore::ForEachMinute(CounterId counter, int64_t from, int64_t to, Visit visit) {
  const PgResult r = db_.Exec(
      "SELECT minute, gaps, counts, max FROM seconds WHERE counter = $1 AND minute >= $2 AND minute < $3 ORDER BY minute",
      {Num(counter), Num(FloorDiv(from, 60)), Num(CeilDiv(to, 60))});
  for (int i = 0; i < r.Rows(); ++i)
    if (!visit(r.Int(i, 0), BlockOf(r, i))) return;
}

template <typename Visit>
void PgStore::ForEachSummary(CounterId counter, int64_t level, int64_t from, int64_t to, Visit visit) {
  const PgResult r = db_.Exec(std::string("SELECT ") + kSummaryColumns +
                                  " FROM summaries WHERE counter = $1 AND level = $2 AND start >= $3 AND start < $4 "
                                  "ORDER BY start",
                              {Num(counter), Num(level), Num(from), Num(to)});
  for (int i = 0; i < r.Rows(); ++i) visit(r.Int(i, 0), SummaryOf(r, i));
}

std::vector<Second> PgStore::ReadSeconds(CounterId counter, int64_t from, int64_t to, size_t limit) {
  return SecondsOf([&](int64_t a, int64_t b, auto visit) { ForEachMinute(counter, a, b, visit); }, from, to, limit);
}

Series PgStore::Query(CounterId counter, int64_t from, int64_t to, size_t points) {
  // One snapshot for the rows of every level the series reads.
  PgTransaction snapshot(db_);
  db_.Exec("SET TRANSACTION ISOLATION LEVEL REPEATABLE READ READ ONLY");
  return SeriesOf([&](int64_t a, int64_t b, auto visit) { ForEachMinute(counter, a, b, visit); },
                  [&](int64_t level, int64_t a, int64_t b, auto visit) { ForEachSummary(counter, level, a, b, visit); },
                  from, to, points);
}

Aggregate PgStore::Totals(CounterId counter, int64_t from, int64_t to) {
  PgTransaction snapshot(db_);
  db_.Exec("SET TRANSACTION ISOLATION LEVEL REPEATABLE READ READ ONLY");
  return TotalsOf([&](int64_t a, int64_t b, auto visit) { ForEachMinute(counter, a, b, visit); },
                  [&](int64_t level, int64_t a, int64_t b, auto visit) { ForEachSummary(counter, level, a, b, visit); },
                  from, to);
}

CounterSpan PgStore::Span(CounterId counter) {
  CounterSpan span;
  MeasuredSpan([&](int64_t a, int64_t b, auto visit) { ForEachMinute(counter, a, b, visit); }, span);
  const PgResult history = db_.Exec(
      "SELECT count(*), coalesce(min(time), 0), coalesce(max(time), 0), (SELECT count(*) FROM notes WHERE counter = $1) "
      "FROM history WHERE counter = $1",
      {Num(counter)});
  span.history_records = static_cast<uint64_t>(history.Int(0, 0));
  span.history_first = history.Int(0, 1);
  span.history_last = history.Int(0, 2);
  span.notes = static_cast<uint64_t>(history.Int(0, 3));
  return span;
}

std::optional<int64_t> PgStore::EndSecond(CounterId counter, bool newest) {
  const PgResult r = db_.Exec(std::string("SELECT minute, gaps, counts, max FROM seconds WHERE counter = $1 ORDER BY minute ") +
                                  (newest ? "DESC" : "ASC") + " LIMIT 1",
                              {Num(counter)});
  if (r.Rows() == 0) return std::nullopt;
  return EndOfMinute(r.Int(0, 0), BlockOf(r, 0), newest);
}

std::vector<uint8_t> PgStore::KeptImage(CounterId counter) {
  const PgResult r = db_.Exec("SELECT data FROM last_downloads WHERE counter = $1", {Num(counter)});
  if (r.Rows() == 0) return {};
  return r.Bytes(0, 0);
}

std::optional<uint32_t> PgStore::StoredRecordValue(CounterId counter, const NumberedRecord& key) {
  const PgResult r = db_.Exec("SELECT value FROM history WHERE counter = $1 AND time = $2 AND save_type = $3 AND seq = $4",
                              {Num(counter), Num(key.time), Num(key.save_type), Num(key.seq)});
  if (r.Rows() == 0) return std::nullopt;
  return static_cast<uint32_t>(r.Int(0, 0));
}

int64_t PgStore::RecordsBetween(CounterId counter, int64_t first, int64_t last) {
  return db_.Exec("SELECT count(*) FROM history WHERE counter = $1 AND time >= $2 AND time <= $3",
                  {Num(counter), Num(first), Num(last)})
      .Int(0, 0);
}

HistoryWritten PgStore::WriteHistory(CounterId counter, std::span<const NumberedRecord> records,
                                     std::span<const StoredNote> notes) {
  HistoryWritten written;
  PgTransaction tx(db_);
  std::vector<HistoryRecord> added;
  // In slices, so that a full flash's million records never make one statement of many megabytes.
  constexpr size_t kSlice = 50'000;
  for (size_t first = 0; first < records.size(); first += kSlice) {
    std::vector<int64_t> times, types, seqs, values;
    for (const NumberedRecord& r : records.subspan(first, std::min(kSlice, records.size() - first))) {
      times.push_back(r.time);
      types.push_back(r.save_type);
      seqs.push_back(r.seq);
      values.push_back(r.value);
    }
    // Only the rows that were new come back: they are what the summaries gain.
    const PgResult r = db_.Exec(
        "INSERT INTO history(counter, time, save_type, seq, value) "
        "SELECT $1, * FROM unnest($2::bigint[], $3::integer[], $4::bigint[], $5::bigint[]) "
        "ON CONFLICT DO NOTHING RETURNING time, save_type, value",
        {Num(counter), IntArray(times), IntArray(types), IntArray(seqs), IntArray(values)});
    for (int i = 0; i < r.Rows(); ++i)
      added.push_back({r.Int(i, 0), static_cast<uint8_t>(r.Int(i, 1)), static_cast<uint32_t>(r.Int(i, 2))});
  }
  written.records = added.size();
  std::vector<int64_t> columns[7];
  for (const auto& [key, a] : SummaryChangesOf(added)) {
    const int64_t row[] = {std::get<0>(key), std::get<1>(key), std::get<2>(key), static_cast<int64_t>(a.records),
                           static_cast<int64_t>(a.sum), a.min, a.max};
    for (size_t c = 0; c < std::size(row); ++c) columns[c].push_back(row[c]);
  }
  std::vector<PgParam> params{Num(counter)};
  for (const auto& column : columns) params.emplace_back(IntArray(column));
  db_.Exec(R"(
INSERT INTO history_summaries AS o(counter, save_type, level, start, records, sum, min_value, max_value)
SELECT $1, * FROM unnest($2::integer[], $3::integer[], $4::bigint[], $5::bigint[], $6::bigint[], $7::bigint[],
                         $8::bigint[])
ON CONFLICT(counter, save_type, level, start) DO UPDATE SET
  records = o.records + excluded.records, sum = o.sum + excluded.sum,
  min_value = least(o.min_value, excluded.min_value), max_value = greatest(o.max_value, excluded.max_value)
)",
           params);
  for (const StoredNote& n : notes)
    written.notes += static_cast<size_t>(
        db_.Exec("INSERT INTO notes(counter, time, text) VALUES($1, $2, $3) ON CONFLICT DO NOTHING RETURNING 1",
                 {Num(counter), Num(n.time), n.text})
            .Rows());
  tx.Commit();
  return written;
}

std::vector<HistoryRecord> PgStore::History(CounterId counter, int64_t from, int64_t to) {
  const PgResult r = db_.Exec(
      "SELECT time, save_type, value FROM history WHERE counter = $1 AND time >= $2 AND time < $3 "
      "ORDER BY time, save_type, seq",
      {Num(counter), Num(from), Num(to)});
  std::vector<HistoryRecord> out;
  out.reserve(static_cast<size_t>(r.Rows()));
  for (int i = 0; i < r.Rows(); ++i)
    out.push_back({r.Int(i, 0), static_cast<uint8_t>(r.Int(i, 1)), static_cast<uint32_t>(r.Int(i, 2))});
  return out;
}

HistorySeries PgStore::QueryHistory(CounterId counter, uint8_t save_type, int64_t from, int64_t to, size_t points) {
  HistorySeries series = EmptyHistorySeries(from, to, points);
  if (series.points.empty()) return series;
  const PgResult r = db_.Exec(series.source_level == 1
                                  ? "SELECT time, 1, value, value, value FROM history WHERE counter = $1 AND "
                                    "save_type = $2 AND time >= $4 AND time < $5 AND $3 = 1"
                                  : "SELECT start, records, sum, min_value, max_value FROM history_summaries WHERE "
                                    "counter = $1 AND save_type = $2 AND level = $3 AND start >= $4 AND start < $5",
                              {Num(counter), Num(save_type), Num(series.source_level), Num(from), Num(to)});
  for (int i = 0; i < r.Rows(); ++i) {
    const HistoryAggregate a{static_cast<uint64_t>(r.Int(i, 1)), static_cast<uint64_t>(r.Int(i, 2)),
                             static_cast<uint32_t>(r.Int(i, 3)), static_cast<uint32_t>(r.Int(i, 4))};
    series.points[static_cast<size_t>((r.Int(i, 0) - from) / series.step)].values.Merge(a);
  }
  return series;
}

std::vector<StoredNote> PgStore::Notes(CounterId counter, int64_t from, int64_t to) {
  const PgResult r = db_.Exec(
      "SELECT time, text FROM notes WHERE counter = $1 AND time >= $2 AND time < $3 ORDER BY time, text COLLATE \"C\"",
      {Num(counter), Num(from), Num(to)});
  std::vector<StoredNote> notes;
  for (int i = 0; i < r.Rows(); ++i) notes.push_back({r.Int(i, 0), r.Text(i, 1)});
  return notes;
}

std::vector<HistoryColumn> PgStore::HistoryColumns(CounterId counter, int64_t from, int64_t step, size_t count) {
  std::vector<HistoryColumn> columns(count);
  if (count == 0 || step <= 0) return columns;
  const int64_t to = from + step * static_cast<int64_t>(count);
  if (const int64_t level = HistoryColumnLevel(from, step)) {
    const PgResult r = db_.Exec(
        "SELECT start, records, sum, min_value, max_value, save_type FROM history_summaries WHERE counter = $1 "
        "AND level = $2 AND start >= $3 AND start < $4",
        {Num(counter), Num(level), Num(from), Num(to)});
    for (int i = 0; i < r.Rows(); ++i)
      AddSummaryToColumns(columns, from, step, static_cast<uint8_t>(r.Int(i, 5)),
                          {static_cast<uint64_t>(r.Int(i, 1)), static_cast<uint64_t>(r.Int(i, 2)),
                           static_cast<uint32_t>(r.Int(i, 3)), static_cast<uint32_t>(r.Int(i, 4))},
                          r.Int(i, 0));
    return columns;
  }
  const PgResult r = db_.Exec("SELECT time, save_type, value FROM history WHERE counter = $1 AND time >= $2 AND time < $3",
                              {Num(counter), Num(from - kHour + 1), Num(to)});
  for (int i = 0; i < r.Rows(); ++i)
    AddRecordToColumns(columns, from, step, {r.Int(i, 0), static_cast<uint8_t>(r.Int(i, 1)), static_cast<uint32_t>(r.Int(i, 2))});
  return columns;
}

std::optional<TimeSpan> PgStore::HistoryEnds(CounterId counter) {
  // The longest record at the last time decides where the downloads end.
  const PgResult r = db_.Exec(
      "SELECT min(time), max(time), (SELECT array_agg(DISTINCT save_type) FROM history WHERE counter = $1 AND "
      "time = (SELECT max(time) FROM history WHERE counter = $1))::text FROM history WHERE counter = $1",
      {Num(counter)});
  if (r.IsNull(0, 0)) return std::nullopt;
  int64_t length = 1;
  const std::string types = r.Text(0, 2);  // {1,2}
  for (size_t p = 1; p < types.size();) {
    const size_t end = types.find_first_of(",}", p);
    length = std::max(length, RecordSeconds(static_cast<uint8_t>(std::stoi(types.substr(p, end - p)))));
    p = end + 1;
  }
  return TimeSpan{r.Int(0, 0), r.Int(0, 1) + length - 1};
}

std::optional<LastDownload> PgStore::LastDownloadRow(std::string_view version, uint32_t image_size) {
  const PgResult r = db_.Exec(
      "SELECT l.counter, l.time, l.image_size, l.data FROM last_downloads l JOIN counters c ON c.id = l.counter "
      "WHERE c.version = $1 AND c.name IS NULL AND l.image_size = $2 ORDER BY c.id LIMIT 1",
      {std::string(version), Num(image_size)});
  if (r.Rows() == 0) return std::nullopt;
  return LastDownload{r.Int(0, 0), r.Int(0, 1), static_cast<uint32_t>(r.Int(0, 2)), r.Bytes(0, 3)};
}

void PgStore::PutLastDownload(CounterId counter, std::span<const uint8_t> data, int64_t now, uint32_t image_size) {
  db_.Exec("INSERT INTO last_downloads(counter, time, image_size, data) VALUES($1, $2, $3, $4::bytea) "
           "ON CONFLICT(counter) DO UPDATE SET time = excluded.time, image_size = excluded.image_size, data = excluded.data",
           {Num(counter), Num(now), Num(image_size), ByteaText(data)});
}

Series PgStore::MinuteColumns(CounterId counter, int64_t from, int64_t step, size_t count) {
  if (step % kTenMinutes == 0 && from % kTenMinutes == 0)
    return SummaryColumns([&](int64_t level, int64_t a, int64_t b, auto visit) { ForEachSummary(counter, level, a, b, visit); },
                          kTenMinutes, from, step, count);
  Series series;
  series.step = step;
  series.source_level = 60;
  series.points.resize(count);
  for (size_t i = 0; i < count; ++i) series.points[i].start = from + step * static_cast<int64_t>(i);
  const PgResult r = db_.Exec("SELECT minute, sum, measured FROM seconds WHERE counter = $1 AND minute >= $2 AND minute < $3",
                              {Num(counter), Num(FloorDiv(from, 60)), Num(FloorDiv(from + step * static_cast<int64_t>(count), 60))});
  for (int i = 0; i < r.Rows(); ++i) {
    const int64_t start = r.Int(i, 0) * 60;
    Aggregate a;
    a.sum = static_cast<uint64_t>(r.Int(i, 1));
    a.measured = static_cast<uint64_t>(r.Int(i, 2));
    if (a.measured == 60) {
      a.full_minutes = 1;
      a.min_cpm = a.max_cpm = static_cast<uint32_t>(std::min<uint64_t>(a.sum, UINT32_MAX));
      a.max_cpm_at = start;
    }
    series.points[static_cast<size_t>((start - from) / step)].values.Merge(a);
  }
  return series;
}

CheckReport PgStore::Check() {
  CheckReport report;
  constexpr size_t kMaxProblems = 50;
  const auto problem = [&](std::string text) {
    if (report.problems.size() < kMaxProblems) report.problems.push_back(std::move(text));
  };
  PgTransaction snapshot(db_);
  db_.Exec("SET TRANSACTION ISOLATION LEVEL REPEATABLE READ READ ONLY");
  // Every minute row must decode to the sums beside it; the summaries must equal the minutes. A
  // counter at a time and its minutes a page at a time: a centre's seconds do not fit in memory.
  constexpr int kPage = 10000;
  const PgResult counters = db_.Exec("SELECT id FROM counters ORDER BY id");
  for (int c = 0; c < counters.Rows(); ++c) {
    const CounterId counter = counters.Int(c, 0);
    std::map<std::pair<int64_t, int64_t>, Aggregate> expected;  // (level, start) → from its minutes
    for (int64_t after = INT64_MIN;;) {
      const PgResult minutes = db_.Exec(
          "SELECT minute, gaps, counts, max, sum, measured FROM seconds WHERE counter = $1 AND minute > $2 "
          "ORDER BY minute LIMIT " + Num(kPage),
          {Num(counter), Num(after)});
      for (int i = 0; i < minutes.Rows(); ++i) {
        const int64_t minute = after = minutes.Int(i, 0);
        MinuteBlock block;
        if (!UnpackMinute(static_cast<uint64_t>(minutes.Int(i, 1)), static_cast<uint32_t>(minutes.Int(i, 3)),
                          minutes.Bytes(i, 2), block)) {
          problem(Format("counter %lld, minute %lld: the counts do not fit the mask of measured seconds",
                         static_cast<long long>(counter), static_cast<long long>(minute)));
          continue;
        }
        if (block.measured == 0 || block.Sum() != static_cast<uint64_t>(minutes.Int(i, 4)) ||
            block.MeasuredCount() != minutes.Int(i, 5))
          problem(Format("counter %lld, minute %lld: sum, measured or max differ from the stored seconds",
                         static_cast<long long>(counter), static_cast<long long>(minute)));
        const Aggregate a = MinuteAggregate(block, minute, minute * 60, minute * 60 + 60);
        for (int64_t level : kSummaryLevels) expected[{level, FloorDiv(minute * 60, level) * level}].Merge(a);
      }
      if (minutes.Rows() < kPage) break;
    }
    const PgResult summaries = db_.Exec(std::string("SELECT ") + kSummaryColumns + ", level FROM summaries WHERE counter = $1",
                                        {Num(counter)});
    for (int i = 0; i < summaries.Rows(); ++i) {
      const Aggregate stored = SummaryOf(summaries, i);
      const std::pair<int64_t, int64_t> key{summaries.Int(i, 9), summaries.Int(i, 0)};
      const auto found = expected.find(key);
      const Aggregate want = found == expected.end() ? Aggregate{} : found->second;
      if (found != expected.end()) expected.erase(found);
      if (stored.sum != want.sum || stored.measured != want.measured || stored.full_minutes != want.full_minutes ||
          stored.max_cpm != want.max_cpm || stored.max_cpm_at != want.max_cpm_at)
        problem(Format("counter %lld, %s summary at %lld differs from its seconds", static_cast<long long>(counter),
                       SummaryLevelName(key.first), static_cast<long long>(key.second)));
    }
    for (const auto& [key, want] : expected)
      problem(Format("counter %lld, %s summary at %lld is missing", static_cast<long long>(counter),
                     SummaryLevelName(key.first), static_cast<long long>(key.second)));
  }

  const PgResult differing = db_.Exec("SELECT counter, count(*) FROM differing_seconds GROUP BY counter ORDER BY counter");
  for (int i = 0; i < differing.Rows(); ++i)
    report.notes.push_back(Format("counter %lld: %lld seconds were given again with other counts; the first are kept, the others are "
                   "in the table differing_seconds",
                   static_cast<long long>(differing.Int(i, 0)), static_cast<long long>(differing.Int(i, 1))));

  // The downloaded records: numbered 0, 1, 2... within one time and type, and summed as stored.
  const PgResult numbering = db_.Exec(
      "SELECT counter, time, save_type FROM history GROUP BY counter, time, save_type HAVING count(*) != max(seq) + 1");
  for (int i = 0; i < numbering.Rows(); ++i)
    problem(Format("counter %lld: history records at %lld of type %lld are numbered out of order",
                   static_cast<long long>(numbering.Int(i, 0)), static_cast<long long>(numbering.Int(i, 1)),
                   static_cast<long long>(numbering.Int(i, 2))));
  for (int64_t level : {kHour, kDay}) {
    const std::string l = Num(level);
    const std::string grouped = "SELECT counter, save_type, " + l + " AS level, time - ((time % " + l + ") + " + l +
                                ") % " + l + " AS start, count(*), sum(value), min(value), max(value) FROM history "
                                "GROUP BY counter, save_type, start";
    const std::string stored =
        "SELECT counter, save_type, level, start, records, sum, min_value, max_value FROM history_summaries "
        "WHERE level = " + l;
    const PgResult differ = db_.Exec("SELECT counter, start FROM (" + grouped + " EXCEPT " + stored + ") a UNION " +
                                     "SELECT counter, start FROM (" + stored + " EXCEPT " + grouped + ") b");
    for (int i = 0; i < differ.Rows(); ++i)
      problem(Format("counter %lld, %s history summary at %lld differs from the records",
                     static_cast<long long>(differ.Int(i, 0)), level == kHour ? "hour" : "day",
                     static_cast<long long>(differ.Int(i, 1))));
  }
  return report;
}

uint64_t PgStore::SizeOnDisk() {
  // Tables, their partitions, indexes and out-of-line values.
  return static_cast<uint64_t>(
      db_.Exec("SELECT coalesce(sum(pg_total_relation_size(c.oid)), 0) FROM pg_class c "
               "JOIN pg_namespace n ON n.oid = c.relnamespace WHERE n.nspname = current_schema() AND c.relkind = 'r'")
          .Int(0, 0));
}

void PgStore::AddCalibration(CounterId counter, const Calibration& c) {
  db_.Exec("INSERT INTO calibrations(counter, valid_from, usv_per_cpm, dead_time_us) VALUES($1, $2, $3, $4) "
           "ON CONFLICT(counter, valid_from) DO UPDATE SET usv_per_cpm = excluded.usv_per_cpm, "
           "dead_time_us = excluded.dead_time_us",
           {Num(counter), Num(c.from), Real(c.usv_per_cpm), Real(c.dead_time_us)});
}

std::vector<Calibration> PgStore::Calibrations(CounterId counter) {
  const PgResult r = db_.Exec(
      "SELECT valid_from, usv_per_cpm, dead_time_us FROM calibrations WHERE counter = $1 ORDER BY valid_from",
      {Num(counter)});
  std::vector<Calibration> out;
  for (int row = 0; row < r.Rows(); ++row) out.push_back({r.Int(row, 0), r.Real(row, 1), r.Real(row, 2)});
  return out;
}

void PgStore::AddClockReading(CounterId counter, const ClockReading& reading) {
  db_.Exec("INSERT INTO clock_readings(counter, time, clock_offset, was_set) VALUES($1, $2, $3, $4) "
           "ON CONFLICT(counter, time) DO UPDATE SET clock_offset = excluded.clock_offset, was_set = excluded.was_set",
           {Num(counter), Num(reading.time), Num(reading.offset), std::string(reading.set ? "true" : "false")});
}

std::vector<ClockReading> PgStore::ClockReadings(CounterId counter) {
  const PgResult r =
      db_.Exec("SELECT time, clock_offset, was_set FROM clock_readings WHERE counter = $1 ORDER BY time", {Num(counter)});
  std::vector<ClockReading> out;
  for (int row = 0; row < r.Rows(); ++row) out.push_back({r.Int(row, 0), r.Int(row, 1), r.Text(row, 2) == "t"});
  return out;
}

}  // namespace norvane::store
