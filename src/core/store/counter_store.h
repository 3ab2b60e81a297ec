// What every long-term store offers, whichever database keeps it: a station's SQLite file or a
// centre's PostgreSQL server.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/common/clock.h"
#include "core/common/dose_conversion.h"
#include "core/history/record_stream.h"
#include "core/store/store_types.h"

namespace norvane::store {

enum class StoreAccess { kReadWrite, kReadOnly };

// The calls every caller of a store makes; Store (SQLite) and PgStore (PostgreSQL) implement
// them with the same meaning, so one test suite holds both to it.
// What tells one counter from another among those a program watches: two of one model and
// firmware apart by their serial numbers, or without one by where each is plugged in.
std::string IdentityKey(const CounterInfo& counter);

class CounterStore {
 public:
  virtual ~CounterStore() = default;

  // A file's path or a server's URL without its password: what messages name the store by.
  virtual std::string Location() const = 0;
  virtual int SchemaVersion() = 0;

  // Finds the counter (see CounterInfo) and records where and when it was seen, or adds it.
  virtual CounterId RegisterCounter(const CounterInfo& info, int64_t now) = 0;
  // The live writer (a token of its own) this connection registers counters for. A counter
  // without a serial number is found by where it is plugged in, and by its version reply alone
  // only when no other live writer holds it: two alike counters measuring at once stay two.
  // A writer holds what it registers until `lease` seconds after it last renewed its holds; a
  // reader of the same program passes the writer's token and no lease, to find what it holds.
  virtual void HoldAs(std::string /*holder*/, int64_t /*lease*/) {}
  virtual void RenewHolds(int64_t /*now*/) {}
  virtual void ReleaseHolds() {}
  // RegisterCounter for many counters at once, as a collector meets a network's stations; in one
  // transaction where the database allows it.
  virtual std::vector<CounterId> RegisterCounters(std::span<const CounterInfo> infos, int64_t now);
  // A centre's counters: each is the one that publishes on its topic (`port`) with its serial
  // (none for a counter without one), whatever another topic says of itself; each registered as
  // seen at its own time `seen[i]`. Where the database knows no such rule (a station's SQLite
  // store), RegisterCounter's rules hold.
  virtual std::vector<CounterId> RegisterStations(std::span<const CounterInfo> infos, std::span<const int64_t> seen);
  virtual void NameCounter(CounterId id, std::string_view name) = 0;
  virtual std::vector<CounterRow> Counters() = 0;
  // A counter by its number, its name, or a model or version text that names exactly one counter.
  std::optional<CounterId> FindCounter(std::string_view key);

  // Adds seconds in one transaction, together with the summaries. Seconds may come in any order;
  // a second the store already holds is left as it is.
  virtual AppendResult AppendSeconds(CounterId counter, std::span<const Second> seconds) = 0;
  // Seconds of many counters, as a collector of many stations writes them: in one transaction
  // where the database allows it, else a transaction per counter.
  virtual AppendResult AppendMany(std::span<const CounterSeconds> batch);
  // Seconds in [from, to), oldest first, at most `limit`.
  virtual std::vector<Second> ReadSeconds(CounterId counter, int64_t from, int64_t to, size_t limit = SIZE_MAX) = 0;
  // Seconds after `after`, oldest first, at most `limit`: what a publisher sends after a gap.
  std::vector<Second> SecondsAfter(CounterId counter, int64_t after, size_t limit);
  // The range [from, to) in about `points` points of equal length, each from the coarsest stored
  // level that still resolves it.
  virtual Series Query(CounterId counter, int64_t from, int64_t to, size_t points) = 0;
  virtual Aggregate Totals(CounterId counter, int64_t from, int64_t to) = 0;
  // The dose comes from the calibration in force at each time, `conversion` where none is.
  Stats ComputeStats(CounterId counter, int64_t from, int64_t to, const ConversionTable& conversion);
  virtual CounterSpan Span(CounterId counter) = 0;
  // The newest and the oldest measured second of a counter, read at its ends: Span reads all.
  virtual std::optional<int64_t> NewestSecond(CounterId counter) = 0;
  virtual std::optional<int64_t> OldestSecond(CounterId counter) = 0;

  // Records of a history image at the times the CSV export gives them (the counter's clock is
  // local time as `clock` sees it); those held already are not added again. One set of rules for
  // every database: each only writes what this works out.
  ImportResult ImportHistory(CounterId counter, ImageView image, const Clock& clock);
  virtual std::vector<HistoryRecord> History(CounterId counter, int64_t from, int64_t to) = 0;
  virtual HistorySeries QueryHistory(CounterId counter, uint8_t save_type, int64_t from, int64_t to,
                                     size_t points) = 0;

  // What the long-term chart reads (see store_chart_queries.h for their meaning).
  virtual std::vector<StoredNote> Notes(CounterId counter, int64_t from, int64_t to) = 0;
  virtual Series MinuteColumns(CounterId counter, int64_t from, int64_t step, size_t count) = 0;
  virtual std::vector<HistoryColumn> HistoryColumns(CounterId counter, int64_t from, int64_t step, size_t count) = 0;
  virtual std::optional<TimeSpan> HistoryEnds(CounterId counter) = 0;

  // The row of each counter's last download (see last_download.h for the rules around them).
  virtual std::optional<LastDownload> LastDownloadRow(std::string_view version, uint32_t image_size) = 0;
  virtual void PutLastDownload(CounterId counter, std::span<const uint8_t> data, int64_t now, uint32_t image_size) = 0;

  // A counter's calibrations, oldest first (see Calibration); one from a time already held
  // replaces it. A counter without one is converted with the settings' table.
  virtual void AddCalibration(CounterId counter, const Calibration& calibration) = 0;
  virtual std::vector<Calibration> Calibrations(CounterId counter) = 0;
  // The counter's clock against the computer's, oldest first; one of a time already held replaces it.
  virtual void AddClockReading(CounterId counter, const ClockReading& reading) = 0;
  virtual std::vector<ClockReading> ClockReadings(CounterId counter) = 0;

  virtual CheckReport Check() = 0;
  // Bytes the store takes on disk.
  virtual uint64_t SizeOnDisk() = 0;

 protected:
  // What an import asks of the database. The kept image of the counter's last download, if any.
  virtual std::vector<uint8_t> KeptImage(CounterId counter) = 0;
  // The value of a stored record, and how many records lie in [first, last].
  virtual std::optional<uint32_t> StoredRecordValue(CounterId counter, const NumberedRecord& key) = 0;
  virtual int64_t RecordsBetween(CounterId counter, int64_t first, int64_t last) = 0;
  // Adds the records and notes not held yet, with the history summaries, in one transaction.
  virtual HistoryWritten WriteHistory(CounterId counter, std::span<const NumberedRecord> records,
                                      std::span<const StoredNote> notes) = 0;
};

// Whether `location` names a PostgreSQL server (postgresql://… or postgres://…) rather than a file.
bool IsServerLocation(std::string_view location);

// Whether a writer opening a SQLite store folds in the journals of writers that ended. Only the
// seconds' own writer should leave them to itself, as it tells what it finds lost: a program's
// other parts (its alarm, its publishing) open the store beside it leaving them.
enum class EndedJournals { kFold, kLeave };

// Opens the store at `location`: a PostgreSQL URL, else the path of a SQLite file.
std::unique_ptr<CounterStore> OpenStore(const std::string& location, StoreAccess access = StoreAccess::kReadWrite,
                                        EndedJournals journals = EndedJournals::kFold);

}  // namespace norvane::store
