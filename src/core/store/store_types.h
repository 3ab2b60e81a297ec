// The values the long-term store takes and gives, whichever database keeps it.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/common/counter_info.h"

namespace norvane::store {

// Every failure of the store's database becomes this, with the database's own reason and what was
// being attempted.
class StoreError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A file that can never be a store as it is: trying again changes nothing until the file does.
class PermanentStoreError : public StoreError {
 public:
  using StoreError::StoreError;
};

// The database refused what it was given (a value it cannot hold, a limit of its own): the same
// data fails again however often it is tried, other data does not.
class StoreRefusal : public StoreError {
 public:
  using StoreError::StoreError;
};

using CounterId = int64_t;

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

// Seconds of one counter, for a write of many counters at once.
struct CounterSeconds {
  CounterId counter = 0;
  std::vector<Second> seconds;
};

struct AppendResult {
  size_t added = 0;
  size_t already_stored = 0;  // seconds the store held before: never counted twice
  // Of those, seconds given with other counts than the ones kept, and their counters: a centre
  // notes them, a station tells them: neither keeps the later silently.
  size_t differing = 0;
  std::vector<CounterId> differing_counters;
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
  bool dead_time_capped = false;  // a dead-time correction was held at its limit (see dose_scale.h)
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

// A downloaded record as an import writes it: records of one time and save type are told apart
// by their order (seq).
struct NumberedRecord {
  int64_t time = 0;
  uint8_t save_type = 0;
  int64_t seq = 0;
  uint32_t value = 0;
};

// What one import added to the store.
struct HistoryWritten {
  size_t records = 0, notes = 0;
};

// The image a counter gave at its last download, kept so the next one reads only what is new.
struct LastDownload {
  CounterId counter = 0;
  int64_t time = 0;          // UTC seconds of the download
  uint32_t image_size = 0;   // the model's flash size when it was taken
  std::vector<uint8_t> data; // the image up to its end of data; erased flash after that
};

struct ImportResult {
  size_t records = 0;        // found in the image
  size_t added = 0;          // new to the store
  size_t notes = 0, notes_added = 0;
  size_t undated_rows = 0;   // rows whose stamp could not be read as a time: left out
};

struct CheckReport {
  std::vector<std::string> problems;  // empty: the store is sound
  // What is no damage but asks for a look: a centre's seconds given again with other counts.
  std::vector<std::string> notes;
  bool ok() const { return problems.empty(); }
};

struct StoredNote {
  int64_t time = 0;  // UTC: the time of the record the note belongs to
  std::string text;
  bool operator==(const StoredNote&) const = default;
};

// What the downloaded records of one column hold: the counts they stand for over the seconds they
// cover inside the column, and the lowest and highest CPM of any one record at its own resolution
// (a per-second record's count times 60, a per-minute or per-hour record's CPM).
struct HistoryColumn {
  uint64_t records = 0;  // 0: nothing downloaded there
  double counts = 0;
  double seconds = 0;
  double min_cpm = 0, max_cpm = 0;
  void Add(double record_counts, double record_seconds, double cpm);
};

// A counter's calibration from a time on: the dose rate per CPM and the dead time its counts are
// corrected for. Counts stay as measured; the dose is worked out from them when read.
struct Calibration {
  int64_t from = 0;          // UTC: the first second it holds for, until the next one
  double usv_per_cpm = 0;    // µSv/h per CPM, of the rate after the dead-time correction
  double dead_time_us = 0;   // 0: the counts are taken as they are
  bool operator==(const Calibration&) const = default;
};

// The counter's clock read against the computer's, or set to it.
struct ClockReading {
  int64_t time = 0;    // UTC by the computer's clock
  int64_t offset = 0;  // the counter's clock minus the computer's, seconds
  bool set = false;    // the counter was set to the computer's time then: a drift starts afresh
  bool operator==(const ClockReading&) const = default;
};

struct TimeSpan {
  int64_t first = 0, last = 0;  // inclusive
};

}  // namespace norvane::store
