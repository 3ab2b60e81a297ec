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
#include "core/common/dose_conversion.h"
#include "core/history/record_stream.h"
#include "core/store/counter_store.h"
#include "core/store/sqlite_db.h"
#include "core/store/store_types.h"

namespace norvane::store {

inline constexpr int kSchemaVersion = 9;

// The SQLite store: one file, the database a station keeps.
class Store : public CounterStore {
 public:
  using Access = StoreAccess;
  // Opens or creates the store (its folder too) and brings its schema up to date. Throws
  // StoreError with a clear reason, also for a store written by a newer version of the program.
  // A file that can never be a store (a folder, a FIFO or other non-regular file, a file that is
  // not a SQLite database, a SQLite database of another program, a store of a newer version) is
  // refused with PermanentStoreError and is never opened as a database, nor changed.
  // A writer first folds into the store the journals of writers that have ended, unless told
  // to leave them to the writer that opens the store next.
  enum class Journals { kFold, kLeave };
  explicit Store(const std::filesystem::path& path, Access access = Access::kReadWrite,
                 Journals journals = Journals::kFold);
  ~Store() override;

  const std::filesystem::path& path() const { return db_.path(); }
  int SchemaVersion() override;

  // Finds the counter (see CounterInfo) and records where and when it was seen, or adds it.
  // A counter stored before serial numbers were asked for takes the first serial registered for
  // its version reply; another serial with the same reply is another counter.
  CounterId RegisterCounter(const CounterInfo& info, int64_t now) override;
  void HoldAs(std::string holder, int64_t lease) override;
  void RenewHolds(int64_t now) override;
  void ReleaseHolds() override;
  // Gives a counter the name that identifies it from now on.
  void NameCounter(CounterId id, std::string_view name) override;
  std::vector<CounterRow> Counters() override;

  // Adds seconds in one transaction, together with the summaries. Seconds may come in any order;
  // a second the store already holds is left as it is.
  AppendResult AppendSeconds(CounterId counter, std::span<const Second> seconds) override;

  // Every reading of seconds and summaries includes the seconds live writers have journaled
  // but not yet folded into the database.

  // Seconds in [from, to), oldest first, at most `limit`.
  std::vector<Second> ReadSeconds(CounterId counter, int64_t from, int64_t to, size_t limit = SIZE_MAX) override;

  // The range [from, to) in about `points` points of equal length, each from the coarsest stored
  // level that still resolves it (raw seconds when the points are seconds or shorter).
  Series Query(CounterId counter, int64_t from, int64_t to, size_t points) override;
  Aggregate Totals(CounterId counter, int64_t from, int64_t to) override;
  CounterSpan Span(CounterId counter) override;
  std::optional<int64_t> NewestSecond(CounterId counter) override { return EndSecond(counter, true); }
  std::optional<int64_t> OldestSecond(CounterId counter) override { return EndSecond(counter, false); }

  std::vector<HistoryRecord> History(CounterId counter, int64_t from, int64_t to) override;
  // Records of one save type in about `points` points over [from, to): from the records while a
  // point is shorter than an hour, else from the hour or day summaries kept beside them.
  HistorySeries QueryHistory(CounterId counter, uint8_t save_type, int64_t from, int64_t to, size_t points) override;

  std::optional<LastDownload> LastDownloadRow(std::string_view version, uint32_t image_size) override;
  void PutLastDownload(CounterId counter, std::span<const uint8_t> data, int64_t now, uint32_t image_size) override;

  void AddCalibration(CounterId counter, const Calibration& calibration) override;
  std::vector<Calibration> Calibrations(CounterId counter) override;
  void AddClockReading(CounterId counter, const ClockReading& reading) override;
  std::vector<ClockReading> ClockReadings(CounterId counter) override;

  CheckReport Check() override;
  // Bytes of the database and its journal.
  uint64_t SizeOnDisk() override;

  std::string Location() const override { return path().string(); }
  std::vector<StoredNote> Notes(CounterId counter, int64_t from, int64_t to) override;
  Series MinuteColumns(CounterId counter, int64_t from, int64_t step, size_t count) override;
  std::vector<HistoryColumn> HistoryColumns(CounterId counter, int64_t from, int64_t step, size_t count) override;
  std::optional<TimeSpan> HistoryEnds(CounterId counter) override;

  Database& database() { return db_; }
  // Made at random with the store; a journal names the store it belongs to by it.
  const std::string& id() const { return id_; }
  // Folds the journals of ended writers into the store. Done on opening; a writer that finds
  // its own journal left over from a failed try calls it again.
  void FoldEndedJournals();
  // What those folds found lost (see store::FoldEndedJournals), for a writer to tell its user.
  const std::vector<std::string>& LostJournals() const { return lost_journals_; }

 protected:
  std::vector<uint8_t> KeptImage(CounterId counter) override;
  std::optional<uint32_t> StoredRecordValue(CounterId counter, const NumberedRecord& key) override;
  int64_t RecordsBetween(CounterId counter, int64_t first, int64_t last) override;
  HistoryWritten WriteHistory(CounterId counter, std::span<const NumberedRecord> records,
                              std::span<const StoredNote> notes) override;

 private:
  struct Statements;
  struct Unfolded;
  // Reads journaled seconds of `counter` not yet in the database, and begins the read
  // transaction that the database rows of the same reading come from.
  Unfolded ReadUnfolded(CounterId counter);
  // The newest (else the oldest) measured second of `counter`, journaled seconds included.
  std::optional<int64_t> EndSecond(CounterId counter, bool newest);
  // Stored minutes (rows of [from, to)) and stored summaries of one level merged with the
  // journaled seconds; defined in store_statements.h.
  template <typename Visit>
  void ForEachMinute(CounterId counter, int64_t from, int64_t to, Visit visit);
  template <typename Visit>
  void ForEachSummary(CounterId counter, int64_t level, int64_t from, int64_t to, Visit visit);

  Database db_;
  std::unique_ptr<Statements> s_;
  std::string id_;
  std::string holder_;
  int64_t lease_ = 0;
  std::vector<std::string> lost_journals_;
};

}  // namespace norvane::store
