// The long-term store: counters, every measured second, imported histories and their summaries.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/common/clock.h"
#include "core/history/dose_conversion.h"
#include "core/history/record_stream.h"
#include "core/store/sqlite_db.h"

namespace norvane::store {

using CounterId = int64_t;

// What identifies a counter: a user-given name once set; else its serial number where it answers
// one; else its version reply together with the stable device path it was seen on, or the version
// reply alone where the store knows no such path.
struct CounterInfo {
  std::string version;  // the counter's version reply, as it answered
  std::string family;
  std::string model;    // the model list entry
  std::string port;
  std::string name;     // empty unless the user named it
  std::string serial{};       // lowercase hex of the raw serial reply; empty when it gave none
  std::string device_path{};  // /dev/serial/by-id/... where there is one, else the port; may be empty
};

struct CounterRow {
  CounterId id = 0;
  CounterInfo info;
  int64_t first_seen = 0;  // UTC seconds
  int64_t last_seen = 0;
};

// One measured second: its UTC time (seconds since 1970) and the counts in it.
struct Second {
  int64_t time = 0;
  uint32_t count = 0;
  bool operator==(const Second&) const = default;
};

struct AppendResult {
  size_t added = 0;
  size_t already_stored = 0;  // seconds the store held before: never counted twice
};

// Totals over a stretch of seconds. A minute's CPM counts only for minutes measured whole.
struct Aggregate {
  uint64_t sum = 0;
  uint64_t measured = 0;  // seconds
  uint32_t min_second = 0;
  uint32_t max_second = 0;
  uint64_t full_minutes = 0;
  uint32_t min_cpm = 0;
  uint32_t max_cpm = 0;
  int64_t max_cpm_at = 0;  // start of the busiest whole minute (UTC)

  void Merge(const Aggregate& other);
};

struct SeriesPoint {
  int64_t start = 0;  // UTC
  Aggregate values;   // measured == 0: a gap
  double MeanPerSecond() const { return values.measured ? double(values.sum) / double(values.measured) : 0.0; }
};

struct Series {
  int64_t step = 1;           // seconds per point
  int64_t source_level = 1;   // 1: raw seconds, 60: minutes, 3600: hours, 86400: days
  std::vector<SeriesPoint> points;
};

struct Stats {
  uint64_t measured_seconds = 0;
  double coverage = 0;  // measured seconds over the range's length
  uint64_t counts = 0;
  double mean_cpm = 0, cpm_low = 0, cpm_high = 0;  // with its 95 % confidence interval
  std::optional<uint32_t> max_cpm;  // of the whole minutes in the range
  int64_t max_cpm_at = 0;
  double mean_usv_h = 0;
  std::optional<double> max_usv_h;
  double dose_usv = 0;  // over the measured time
};

struct Gap {
  int64_t from = 0;  // first unmeasured second
  int64_t to = 0;    // first measured second after it
};

struct CounterSpan {
  int64_t first = 0, last = 0;  // first and last measured second
  uint64_t measured = 0;
  uint64_t gap_count = 0;       // gaps of any length between first and last
  std::vector<Gap> long_gaps;   // those of a minute or more, oldest first, at most kMaxListedGaps
  uint64_t history_records = 0;
  int64_t history_first = 0, history_last = 0;  // times of the first and last downloaded record
  uint64_t notes = 0;
};
inline constexpr size_t kMaxListedGaps = 100;

struct HistoryRecord {
  int64_t time = 0;
  uint8_t save_type = 0;
  uint32_t value = 0;
};

// Downloaded records of one save type over a stretch of time: how many, their sum and range.
struct HistoryAggregate {
  uint64_t records = 0;
  uint64_t sum = 0;
  uint32_t min = 0;
  uint32_t max = 0;
  void Merge(const HistoryAggregate& other);
};

struct HistoryPoint {
  int64_t start = 0;
  HistoryAggregate values;  // records == 0: nothing downloaded there
};

struct HistorySeries {
  int64_t step = 1;
  int64_t source_level = 1;  // 1: the records themselves, 3600: hours, 86400: days
  std::vector<HistoryPoint> points;
};

struct ImportResult {
  size_t records = 0;        // found in the image
  size_t added = 0;          // new to the store
  size_t notes = 0, notes_added = 0;
  size_t undated_rows = 0;   // rows whose stamp could not be read as a time: left out
};

struct CheckReport {
  std::vector<std::string> problems;  // empty: the store is sound
  bool ok() const { return problems.empty(); }
};

inline constexpr int kSchemaVersion = 4;

class Store {
 public:
  enum class Access { kReadWrite, kReadOnly };
  // Opens or creates the store (its folder too) and brings its schema up to date. Throws
  // StoreError with a clear reason, also for a store written by a newer version of the program.
  // A file that can never be a store (a folder, a FIFO or other non-regular file, a file that is
  // not a SQLite database, a SQLite database of another program, a store of a newer version) is
  // refused with PermanentStoreError and is never opened as a database, nor changed.
  // A writer first folds into the store the journals of writers that have ended.
  explicit Store(const std::filesystem::path& path, Access access = Access::kReadWrite);
  ~Store();

  const std::filesystem::path& path() const { return db_.path(); }
  int SchemaVersion();

  // Finds the counter (see CounterInfo) and records where and when it was seen, or adds it.
  // A counter stored before serial numbers were asked for takes the first serial registered for
  // its version reply; another serial with the same reply is another counter.
  CounterId RegisterCounter(const CounterInfo& info, int64_t now);
  // Gives a counter the name that identifies it from now on.
  void NameCounter(CounterId id, std::string_view name);
  std::vector<CounterRow> Counters();
  // A counter by its number, its name, or a model or version text that names exactly one counter.
  std::optional<CounterId> FindCounter(std::string_view key);

  // Adds seconds in one transaction, together with the summaries. Seconds may come in any order;
  // a second the store already holds is left as it is.
  AppendResult AppendSeconds(CounterId counter, std::span<const Second> seconds);

  // Every reading of seconds and summaries includes the seconds live writers have journaled
  // but not yet folded into the database.

  // Seconds in [from, to), oldest first, at most `limit`.
  std::vector<Second> ReadSeconds(CounterId counter, int64_t from, int64_t to, size_t limit = SIZE_MAX);
  // Seconds after `after`, oldest first, at most `limit`: what a publisher sends after a gap.
  std::vector<Second> SecondsAfter(CounterId counter, int64_t after, size_t limit);

  // The range [from, to) in about `points` points of equal length, each from the coarsest stored
  // level that still resolves it (raw seconds when the points are seconds or shorter).
  Series Query(CounterId counter, int64_t from, int64_t to, size_t points);
  Aggregate Totals(CounterId counter, int64_t from, int64_t to);
  Stats ComputeStats(CounterId counter, int64_t from, int64_t to, const ConversionTable& conversion);
  CounterSpan Span(CounterId counter);
  // The newest measured second of a counter.
  std::optional<int64_t> NewestSecond(CounterId counter);

  // Records of a history image with the times the CSV export gives them (the counter's clock is
  // local time as `clock` sees it). Records the store holds already are not added again.
  ImportResult ImportHistory(CounterId counter, ImageView image, const Clock& clock);
  std::vector<HistoryRecord> History(CounterId counter, int64_t from, int64_t to);
  // Records of one save type in about `points` points over [from, to): from the records while a
  // point is shorter than an hour, else from the hour or day summaries kept beside them.
  HistorySeries QueryHistory(CounterId counter, uint8_t save_type, int64_t from, int64_t to, size_t points);

  CheckReport Check();
  // Bytes of the database and its journal.
  uint64_t SizeOnDisk();

  Database& database() { return db_; }
  // Made at random with the store; a journal names the store it belongs to by it.
  const std::string& id() const { return id_; }
  // Folds the journals of ended writers into the store. Done on opening; a writer that finds
  // its own journal left over from a failed try calls it again.
  void FoldEndedJournals();

 private:
  struct Statements;
  struct Unfolded;
  // Reads journaled seconds of `counter` not yet in the database, and begins the read
  // transaction that the database rows of the same reading come from.
  Unfolded ReadUnfolded(CounterId counter);
  // Stored minutes (rows of [from, to)) and stored summaries of one level merged with the
  // journaled seconds; defined in store_statements.h.
  template <typename Visit>
  void ForEachMinute(CounterId counter, int64_t from, int64_t to, Visit visit);
  template <typename Visit>
  void ForEachSummary(CounterId counter, int64_t level, int64_t from, int64_t to, Visit visit);

  Database db_;
  std::unique_ptr<Statements> s_;
  std::string id_;
};

}  // namespace norvane::store
