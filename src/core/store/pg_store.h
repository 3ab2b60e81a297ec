// The PostgreSQL store: a centre's database of many stations and their downloaded histories, the
// same ideas as the SQLite store (one row per counter-minute, ten-minute, hour and day summaries
// written in the same transaction), its seconds and summaries partitioned by month.
#pragma once

#include <map>
#include <mutex>
#include <set>
#include <string>

#include "core/store/counter_store.h"
#include "core/store/minute_block.h"
#include "core/store/pg_db.h"

namespace norvane::store {

inline constexpr int kPgSchemaVersion = 6;

class PgStore : public CounterStore {
 public:
  // Connects to `url` and, for a writer, brings the schema up to date. Throws StoreError when the
  // server cannot be reached, PermanentStoreError for a database of another program or of a
  // newer version of this one.
  PgStore(const std::string& url, StoreAccess access = StoreAccess::kReadWrite);

  std::string Location() const override { return db_.location(); }
  int SchemaVersion() override;
  CounterId RegisterCounter(const CounterInfo& info, int64_t now) override;
  std::vector<CounterId> RegisterCounters(std::span<const CounterInfo> infos, int64_t now) override;
  std::vector<CounterId> RegisterStations(std::span<const CounterInfo> infos, std::span<const int64_t> seen) override;
  void NameCounter(CounterId id, std::string_view name) override;
  std::vector<CounterRow> Counters() override;

  AppendResult AppendSeconds(CounterId counter, std::span<const Second> seconds) override;
  AppendResult AppendMany(std::span<const CounterSeconds> batch) override;
  std::vector<Second> ReadSeconds(CounterId counter, int64_t from, int64_t to, size_t limit = SIZE_MAX) override;
  Series Query(CounterId counter, int64_t from, int64_t to, size_t points) override;
  Aggregate Totals(CounterId counter, int64_t from, int64_t to) override;
  CounterSpan Span(CounterId counter) override;
  std::optional<int64_t> NewestSecond(CounterId counter) override { return EndSecond(counter, true); }
  std::optional<int64_t> OldestSecond(CounterId counter) override { return EndSecond(counter, false); }

  std::vector<HistoryRecord> History(CounterId counter, int64_t from, int64_t to) override;
  HistorySeries QueryHistory(CounterId counter, uint8_t save_type, int64_t from, int64_t to, size_t points) override;
  std::vector<StoredNote> Notes(CounterId counter, int64_t from, int64_t to) override;
  Series MinuteColumns(CounterId counter, int64_t from, int64_t step, size_t count) override;
  std::vector<HistoryColumn> HistoryColumns(CounterId counter, int64_t from, int64_t step, size_t count) override;
  std::optional<TimeSpan> HistoryEnds(CounterId counter) override;
  std::optional<LastDownload> LastDownloadRow(std::string_view version, uint32_t image_size) override;
  void PutLastDownload(CounterId counter, std::span<const uint8_t> data, int64_t now, uint32_t image_size) override;

  void AddCalibration(CounterId counter, const Calibration& calibration) override;
  std::vector<Calibration> Calibrations(CounterId counter) override;
  void AddClockReading(CounterId counter, const ClockReading& reading) override;
  std::vector<ClockReading> ClockReadings(CounterId counter) override;

  CheckReport Check() override;
  uint64_t SizeOnDisk() override;

 protected:
  std::vector<uint8_t> KeptImage(CounterId counter) override;
  std::optional<uint32_t> StoredRecordValue(CounterId counter, const NumberedRecord& key) override;
  int64_t RecordsBetween(CounterId counter, int64_t first, int64_t last) override;
  HistoryWritten WriteHistory(CounterId counter, std::span<const NumberedRecord> records,
                              std::span<const StoredNote> notes) override;

 private:
  template <typename Visit>
  void ForEachMinute(CounterId counter, int64_t from, int64_t to, Visit visit);
  template <typename Visit>
  void ForEachSummary(CounterId counter, int64_t level, int64_t from, int64_t to, Visit visit);
  // The newest (else the oldest) measured second of `counter`.
  std::optional<int64_t> EndSecond(CounterId counter, bool newest);
  // RegisterCounter's work inside a transaction that holds the counters' lock.
  CounterId FindOrAdd(const CounterInfo& info, int64_t now);
  // Makes the month partitions the seconds of `minutes` fall into.
  void MakePartitions(const std::set<int64_t>& minutes);

  PgConnection db_;
  std::set<int64_t> partitions_;  // months (since 1970) known to have their partitions
};

}  // namespace norvane::store
