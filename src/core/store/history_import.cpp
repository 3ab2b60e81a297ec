// Importing a history image: its records at the times the history CSV export gives them.
#include <algorithm>
#include <charconv>
#include <map>
#include <optional>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "core/files/history_csv.h"
#include "core/files/local_time.h"
#include "core/store/store.h"
#include "core/store/store_reading.h"
#include "core/store/store_statements.h"

namespace norvane::store {
namespace {

// The CSV builder is the one place that turns stamps and samples into row times, so the import
// reads its rows rather than keeping a second copy of those rules.
constexpr char kSeparator = ',';

std::vector<std::string_view> SplitFields(std::string_view line) {
  std::vector<std::string_view> fields;
  size_t start = 0;
  for (;;) {
    const size_t end = line.find(kSeparator, start);
    fields.push_back(line.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
    if (end == std::string_view::npos) return fields;
    start = end + 1;
  }
}

std::optional<int> Number(std::string_view text) {
  int value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// "2026-03-07 09:05" as a row gives it.
std::optional<LocalTime> RowTime(std::string_view cell) {
  if (cell.size() != 16 || cell[4] != '-' || cell[7] != '-' || cell[10] != ' ' || cell[13] != ':') return std::nullopt;
  const auto year = Number(cell.substr(0, 4)), month = Number(cell.substr(5, 2)), day = Number(cell.substr(8, 2)),
             hour = Number(cell.substr(11, 2)), minute = Number(cell.substr(14, 2));
  if (!year || !month || !day || !hour || !minute) return std::nullopt;
  return LocalTime{*year, *month, *day, *hour, *minute, 0};
}

std::optional<uint8_t> TypeOfName(std::string_view name) {
  for (uint8_t type = kEverySecond; type <= kThresholdMinute; ++type)
    if (SaveTypeName(type) == name) return type;
  return std::nullopt;
}

struct Row {
  std::optional<int64_t> time;  // empty: the row's stamp was no real time
  uint8_t type = 0;
  std::vector<uint32_t> values;
  bool imported = false;  // the same row came from the last download, which the store holds
};

struct Note {
  size_t row;  // into rows
  std::string text;
  bool imported = false;
};

struct Parsed {
  std::vector<Row> rows;
  // A note belongs to the row after it (notes follow the stamp they describe), else to the one
  // before.
  std::vector<Note> notes;
};

// Lines of the CSV that end at or before `imported_end` are flagged as imported before.
Parsed ParseCsv(std::string_view csv, const Clock& clock, size_t imported_end) {
  Parsed parsed;
  size_t pos = 0;
  int line_number = 0;
  while (pos < csv.size()) {
    size_t end = csv.find("\r\n", pos);
    if (end == std::string_view::npos) end = csv.size();
    const std::string_view line = csv.substr(pos, end - pos);
    pos = end + 2;
    const bool imported = pos <= imported_end;
    if (++line_number <= 2 || line.empty()) continue;  // the two header lines
    const std::vector<std::string_view> fields = SplitFields(line);
    const uint8_t type = fields.size() >= 4 ? TypeOfName(fields[1]).value_or(uint8_t{kSaveNone}) : uint8_t{kSaveNone};
    const auto local = fields.empty() ? std::nullopt : RowTime(fields[0]);
    if (type == kSaveNone || (!local && !fields[0].empty())) {
      // A note row: its text, then three separators.
      parsed.notes.push_back(
          {parsed.rows.size(), std::string(line.substr(0, line.size() - std::min<size_t>(3, line.size()))), imported});
      continue;
    }
    Row row;
    row.type = type;
    row.imported = imported;
    if (local) row.time = TimeFromLocal(clock, *local);
    // Per-second rows carry their counts from the fifth cell on; per-minute and per-hour rows
    // carry their value in the fourth.
    const bool per_second = type == kEverySecond || type == kThresholdSecond;
    for (size_t f = per_second ? 4 : 3; f < fields.size(); ++f) {
      if (fields[f].empty()) continue;
      if (const auto v = Number(fields[f])) row.values.push_back(static_cast<uint32_t>(*v));
      if (!per_second) break;
    }
    parsed.rows.push_back(std::move(row));
  }
  return parsed;
}

// A record's time and save type: records that share both are told apart by their order.
struct Key {
  int64_t time;
  uint8_t type;
  bool operator==(const Key&) const = default;
};
struct KeyHash {
  size_t operator()(const Key& k) const { return std::hash<int64_t>()(k.time * 8 + k.type); }
};

// Calls visit(row, key, value) for each record of the dated rows in order, until it returns false.
template <typename Visit>
void ForEachRecord(const Parsed& parsed, Visit visit) {
  for (const Row& row : parsed.rows) {
    if (!row.time) continue;
    const bool per_second = row.type == kEverySecond || row.type == kThresholdSecond;
    for (size_t k = 0; k < row.values.size(); ++k)
      if (!visit(row, Key{*row.time + (per_second ? static_cast<int64_t>(k) : 0), row.type}, row.values[k])) return;
  }
}

// Where the rows of `csv` stop being those of `before`'s CSV: the end of the last line both share,
// short of `before`'s own last line, which a counter still logging may have lengthened since.
size_t SharedRowsEnd(std::string_view csv, std::string_view before) {
  const size_t common = static_cast<size_t>(
      std::mismatch(csv.begin(), csv.begin() + static_cast<std::ptrdiff_t>(std::min(csv.size(), before.size())), before.begin())
          .first - csv.begin());
  // The start of `before`'s last line: the line end before its final one, plus the line end.
  const size_t last_break = before.size() < 4 ? std::string_view::npos : before.rfind("\r\n", before.size() - 3);
  const size_t bound = std::min(common, last_break == std::string_view::npos ? 0 : last_break + 2);
  if (bound < 2) return 0;
  const size_t line_break = csv.rfind("\r\n", bound - 2);
  return line_break == std::string_view::npos ? 0 : line_break + 2;
}

// The rows flagged as imported, as the store would hold them: their last record, numbered as
// this import would number it, and how many records they have over their span of time.
struct SharedRows {
  NumberedRecord last;
  int64_t first_time = 0, last_time = 0, records = 0;
};

std::optional<SharedRows> SharedRowsOf(const Parsed& parsed) {
  std::optional<Key> last;
  SharedRows shared;
  ForEachRecord(parsed, [&](const Row& row, const Key& key, uint32_t value) {
    if (!row.imported) return false;
    shared.first_time = last ? std::min(shared.first_time, key.time) : key.time;
    shared.last_time = last ? std::max(shared.last_time, key.time) : key.time;
    last = key;
    shared.last.value = value;
    ++shared.records;
    return true;
  });
  if (!last) return std::nullopt;
  // The last record's order among those of its time and type, as the import numbers them.
  int64_t seq = -1;
  ForEachRecord(parsed, [&](const Row& row, const Key& key, uint32_t) {
    if (!row.imported) return false;
    seq += key == *last;
    return true;
  });
  shared.last.time = last->time;
  shared.last.save_type = last->type;
  shared.last.seq = seq;
  return shared;
}

}  // namespace

void HistoryAggregate::Merge(const HistoryAggregate& other) {
  if (other.records == 0) return;
  if (records == 0) {
    *this = other;
    return;
  }
  records += other.records;
  sum += other.sum;
  min = std::min(min, other.min);
  max = std::max(max, other.max);
}

HistorySummaryChanges SummaryChangesOf(std::span<const HistoryRecord> added) {
  HistorySummaryChanges changes;
  for (const HistoryRecord& r : added) {
    const HistoryAggregate one{1, r.value, r.value, r.value};
    for (int64_t level : {kHour, kDay}) changes[{r.save_type, level, FloorDiv(r.time, level) * level}].Merge(one);
  }
  return changes;
}

ImportResult CounterStore::ImportHistory(CounterId counter, ImageView image, const Clock& clock) {
  const std::string csv = BuildHistoryCsv(image, WriterOptions{});
  // "Download New" brings the last download again with a little more: the rows both share were
  // imported then, so only the rest is looked up and written. The last shared row's presence
  // and the count of stored records in their range vouch for that; else every row is.
  size_t imported_end = 0;
  if (std::vector<uint8_t> kept = KeptImage(counter); !kept.empty() && kept.size() <= image.size()) {
    kept.resize(image.size(), 0xFF);
    imported_end = SharedRowsEnd(csv, BuildHistoryCsv(ImageView(kept.data(), kept.size()), WriterOptions{}));
  }
  Parsed parsed = ParseCsv(csv, clock, imported_end);
  // The store holds the shared rows when it has their last record and at least as many records
  // over their span. An import is one transaction, so a download whose import failed leaves neither.
  const std::optional<SharedRows> shared = SharedRowsOf(parsed);
  if (shared && (StoredRecordValue(counter, shared->last) != shared->last.value ||
                 RecordsBetween(counter, shared->first_time, shared->last_time) < shared->records)) {
    for (Row& row : parsed.rows) row.imported = false;
    for (Note& note : parsed.notes) note.imported = false;
  }
  ImportResult result;
  // Records of one type at one time (threshold minutes share their stamp's time) are told apart
  // by their order; an overlapping download gives the same order, so nothing is added twice. The
  // orders are counted only for the times of rows to be written: a full flash has a million.
  std::unordered_map<Key, int64_t, KeyHash> seen;
  ForEachRecord(parsed, [&](const Row& row, const Key& key, uint32_t) {
    if (!row.imported) seen.emplace(key, 0);
    return true;
  });
  for (const Row& row : parsed.rows)
    if (!row.time) ++result.undated_rows;
  std::vector<NumberedRecord> records;
  ForEachRecord(parsed, [&](const Row& row, const Key& key, uint32_t value) {
    ++result.records;
    const auto order = seen.find(key);
    if (order == seen.end()) return true;
    const int64_t seq = order->second++;
    if (!row.imported) records.push_back({key.time, key.type, seq, value});
    return true;
  });
  std::vector<StoredNote> notes;
  for (const Note& n : parsed.notes) {
    std::optional<int64_t> time;
    for (size_t r = n.row; r < parsed.rows.size() && !time; ++r) time = parsed.rows[r].time;
    for (size_t r = n.row; r > 0 && !time; --r) time = parsed.rows[r - 1].time;
    if (!time) continue;
    ++result.notes;
    if (!n.imported) notes.push_back({*time, n.text});
  }
  const HistoryWritten written = WriteHistory(counter, records, notes);
  result.added = written.records;
  result.notes_added = written.notes;
  return result;
}

HistoryWritten Store::WriteHistory(CounterId counter, std::span<const NumberedRecord> records,
                                   std::span<const StoredNote> notes) {
  HistoryWritten written;
  Transaction tx(db_);
  Statement add(db_.handle(), "INSERT OR IGNORE INTO history(counter, time, save_type, seq, value) VALUES(?1, ?2, ?3, ?4, ?5)");
  std::vector<HistoryRecord> added;
  for (const NumberedRecord& r : records) {
    add.Bind(1, counter).Bind(2, r.time).Bind(3, int64_t{r.save_type}).Bind(4, r.seq).Bind(5, int64_t{r.value});
    add.Run();
    if (db_.Changes()) added.push_back({r.time, r.save_type, r.value});
  }
  written.records = added.size();
  Statement summary(db_.handle(), R"(
INSERT INTO history_summaries(counter, save_type, level, start, records, sum, min_value, max_value)
VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)
ON CONFLICT(counter, save_type, level, start) DO UPDATE SET
  records = records + excluded.records, sum = sum + excluded.sum,
  min_value = min(min_value, excluded.min_value), max_value = max(max_value, excluded.max_value)
)");
  for (const auto& [key, a] : SummaryChangesOf(added)) {
    summary.Bind(1, counter).Bind(2, int64_t{std::get<0>(key)}).Bind(3, std::get<1>(key)).Bind(4, std::get<2>(key));
    summary.Bind(5, static_cast<int64_t>(a.records)).Bind(6, static_cast<int64_t>(a.sum));
    summary.Bind(7, int64_t{a.min}).Bind(8, int64_t{a.max});
    summary.Run();
  }
  Statement note(db_.handle(), "INSERT OR IGNORE INTO notes(counter, time, text) VALUES(?1, ?2, ?3)");
  for (const StoredNote& n : notes) {
    note.Bind(1, counter).Bind(2, n.time).Bind(3, n.text);
    note.Run();
    written.notes += static_cast<size_t>(db_.Changes());
  }
  tx.Commit();
  return written;
}

std::vector<uint8_t> Store::KeptImage(CounterId counter) {
  Statement kept(db_.handle(), "SELECT data FROM last_downloads WHERE counter = ?1");
  kept.Bind(1, counter);
  if (!kept.Step()) return {};
  const std::span<const uint8_t> data = kept.Blob(0);
  return {data.begin(), data.end()};
}

std::optional<uint32_t> Store::StoredRecordValue(CounterId counter, const NumberedRecord& key) {
  Statement stored(db_.handle(), "SELECT value FROM history WHERE counter = ?1 AND time = ?2 AND save_type = ?3 AND seq = ?4");
  stored.Bind(1, counter).Bind(2, key.time).Bind(3, int64_t{key.save_type}).Bind(4, key.seq);
  if (!stored.Step()) return std::nullopt;
  return static_cast<uint32_t>(stored.Int(0));
}

int64_t Store::RecordsBetween(CounterId counter, int64_t first, int64_t last) {
  Statement count(db_.handle(), "SELECT count(*) FROM history WHERE counter = ?1 AND time >= ?2 AND time <= ?3");
  count.Bind(1, counter).Bind(2, first).Bind(3, last);
  return count.Step() ? count.Int(0) : 0;
}

std::vector<HistoryRecord> Store::History(CounterId counter, int64_t from, int64_t to) {
  Statement rows(db_.handle(),
                 "SELECT time, save_type, value FROM history WHERE counter = ?1 AND time >= ?2 AND time < ?3 "
                 "ORDER BY time, save_type, seq");
  rows.Bind(1, counter).Bind(2, from).Bind(3, to);
  std::vector<HistoryRecord> out;
  while (rows.Step())
    out.push_back({rows.Int(0), static_cast<uint8_t>(rows.Int(1)), static_cast<uint32_t>(rows.Int(2))});
  return out;
}

HistorySeries Store::QueryHistory(CounterId counter, uint8_t save_type, int64_t from, int64_t to, size_t points) {
  HistorySeries series = EmptyHistorySeries(from, to, points);
  if (series.points.empty()) return series;
  Statement rows(db_.handle(), series.source_level == 1
                                   ? "SELECT time, 1, value, value, value FROM history WHERE counter = ?1 AND "
                                     "save_type = ?2 AND time >= ?4 AND time < ?5 AND ?3 = 1"
                                   : "SELECT start, records, sum, min_value, max_value FROM history_summaries WHERE "
                                     "counter = ?1 AND save_type = ?2 AND level = ?3 AND start >= ?4 AND start < ?5");
  rows.Bind(1, counter).Bind(2, int64_t{save_type}).Bind(3, series.source_level).Bind(4, from).Bind(5, to);
  while (rows.Step()) {
    const HistoryAggregate a{static_cast<uint64_t>(rows.Int(1)), static_cast<uint64_t>(rows.Int(2)),
                             static_cast<uint32_t>(rows.Int(3)), static_cast<uint32_t>(rows.Int(4))};
    series.points[static_cast<size_t>((rows.Int(0) - from) / series.step)].values.Merge(a);
  }
  return series;
}

}  // namespace norvane::store
