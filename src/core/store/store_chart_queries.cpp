#include "core/store/store_chart_queries.h"

#include <algorithm>

#include "core/store/store_statements.h"

namespace norvane::store {

std::vector<StoredNote> NotesBetween(Store& store, CounterId counter, int64_t from, int64_t to) {
  Statement rows(store.database().handle(),
                 "SELECT time, text FROM notes WHERE counter = ?1 AND time >= ?2 AND time < ?3 ORDER BY time, text");
  rows.Bind(1, counter).Bind(2, from).Bind(3, to);
  std::vector<StoredNote> notes;
  while (rows.Step()) notes.push_back({rows.Int(0), rows.Text(1)});
  return notes;
}

std::optional<int64_t> LastSecond(Store& store, CounterId counter) { return store.NewestSecond(counter); }

Series MinuteColumns(Store& store, CounterId counter, int64_t from, int64_t step, size_t count) {
  Series series;
  series.step = step;
  series.source_level = 60;
  series.points.resize(count);
  for (size_t i = 0; i < count; ++i) series.points[i].start = from + step * static_cast<int64_t>(i);
  Statement rows(store.database().handle(),
                 "SELECT minute, sum, measured FROM seconds WHERE counter = ?1 AND minute >= ?2 AND minute < ?3");
  rows.Bind(1, counter).Bind(2, FloorDiv(from, 60)).Bind(3, FloorDiv(from + step * static_cast<int64_t>(count), 60));
  while (rows.Step()) {
    const int64_t start = rows.Int(0) * 60;
    Aggregate a;
    a.sum = static_cast<uint64_t>(rows.Int(1));
    a.measured = static_cast<uint64_t>(rows.Int(2));
    if (a.measured == 60) {
      a.full_minutes = 1;
      a.min_cpm = a.max_cpm = static_cast<uint32_t>(std::min<uint64_t>(a.sum, UINT32_MAX));
      a.max_cpm_at = start;
    }
    series.points[static_cast<size_t>((start - from) / step)].values.Merge(a);
  }
  // A writer journals the newest seconds and folds them into the table every few minutes: the
  // columns from the one holding the table's newest minute on are read again with the journals.
  const std::optional<int64_t> newest = store.NewestSecond(counter);
  if (!newest || *newest < from || count == 0) return series;
  Statement last(store.database().handle(), "SELECT max(minute) FROM seconds WHERE counter = ?1");
  last.Bind(1, counter);
  const int64_t table_end = last.Step() && !last.IsNull(0) ? last.Int(0) * 60 : from;
  if (table_end >= from + step * static_cast<int64_t>(count)) return series;
  const auto first = static_cast<size_t>(std::clamp<int64_t>((table_end - from) / step, 0, int64_t(count) - 1));
  const auto end = static_cast<size_t>(std::clamp<int64_t>((*newest - from) / step + 1, int64_t(first), int64_t(count)));
  if (first == end) return series;
  const int64_t tail = from + step * static_cast<int64_t>(first);
  const Series fresh = store.Query(counter, tail, from + step * static_cast<int64_t>(end), end - first);
  for (size_t i = first; i < end; ++i) series.points[i].values = fresh.points[i - first].values;
  return series;
}

int64_t RecordSeconds(uint8_t save_type) {
  switch (save_type) {
    case kEveryMinute:
    case kThresholdMinute: return 60;
    case kEveryHour: return kHour;
    default: return 1;
  }
}

void HistoryColumn::Add(double record_counts, double record_seconds, double cpm) {
  min_cpm = records ? std::min(min_cpm, cpm) : cpm;
  max_cpm = records ? std::max(max_cpm, cpm) : cpm;
  ++records;
  counts += record_counts;
  seconds += record_seconds;
}

namespace {

// A record's value as a CPM and as the counts over its length.
double CpmOf(uint8_t save_type, double value) { return RecordSeconds(save_type) == 1 ? 60.0 * value : value; }
double CountsOf(uint8_t save_type, double value) {
  return RecordSeconds(save_type) == 1 ? value : value * double(RecordSeconds(save_type)) / 60.0;
}

}  // namespace

int64_t HistoryColumnLevel(int64_t from, int64_t step) {
  return step % kDay == 0 && from % kDay == 0 ? kDay : step % kHour == 0 && from % kHour == 0 ? kHour : 0;
}

void AddSummaryToColumns(std::vector<HistoryColumn>& columns, int64_t from, int64_t step, uint8_t save_type,
                         const HistoryAggregate& summary, int64_t start) {
  HistoryColumn& c = columns[static_cast<size_t>((start - from) / step)];
  const auto records = static_cast<double>(summary.records), sum = static_cast<double>(summary.sum);
  const double low = CpmOf(save_type, double(summary.min)), high = CpmOf(save_type, double(summary.max));
  c.min_cpm = c.records ? std::min(c.min_cpm, low) : low;
  c.max_cpm = c.records ? std::max(c.max_cpm, high) : high;
  c.records += summary.records;
  c.counts += CountsOf(save_type, sum);
  c.seconds += records * double(RecordSeconds(save_type));
}

void AddRecordToColumns(std::vector<HistoryColumn>& columns, int64_t from, int64_t step, const HistoryRecord& record) {
  const int64_t to = from + step * static_cast<int64_t>(columns.size());
  const double value = double(record.value);
  const int64_t length = RecordSeconds(record.save_type), end = std::min(record.time + length, to);
  const double cpm = CpmOf(record.save_type, value), counts = CountsOf(record.save_type, value);
  for (int64_t t = std::max(record.time, from); t < end;) {
    const auto i = static_cast<size_t>((t - from) / step);
    const int64_t column_end = std::min(from + step * static_cast<int64_t>(i + 1), end);
    const double part = double(column_end - t) / double(length);
    columns[i].Add(counts * part, double(column_end - t), cpm);
    t = column_end;
  }
}

std::vector<HistoryColumn> HistoryColumns(Store& store, CounterId counter, int64_t from, int64_t step, size_t count) {
  std::vector<HistoryColumn> columns(count);
  if (count == 0 || step <= 0) return columns;
  const int64_t to = from + step * static_cast<int64_t>(count);
  sqlite3* db = store.database().handle();
  if (const int64_t level = HistoryColumnLevel(from, step)) {
    Statement rows(db, "SELECT start, records, sum, min_value, max_value FROM history_summaries WHERE counter = ?1 "
                       "AND save_type = ?2 AND level = ?3 AND start >= ?4 AND start < ?5");
    for (uint8_t type : kSaveTypes) {
      rows.Bind(1, counter).Bind(2, int64_t{type}).Bind(3, level).Bind(4, from).Bind(5, to);
      while (rows.Step())
        AddSummaryToColumns(columns, from, step, type,
                            {static_cast<uint64_t>(rows.Int(1)), static_cast<uint64_t>(rows.Int(2)),
                             static_cast<uint32_t>(rows.Int(3)), static_cast<uint32_t>(rows.Int(4))},
                            rows.Int(0));
      rows.Reset();
    }
    return columns;
  }
  Statement rows(db, "SELECT time, save_type, value FROM history WHERE counter = ?1 AND time >= ?2 AND time < ?3");
  rows.Bind(1, counter).Bind(2, from - kHour + 1).Bind(3, to);
  while (rows.Step())
    AddRecordToColumns(columns, from, step,
                       {rows.Int(0), static_cast<uint8_t>(rows.Int(1)), static_cast<uint32_t>(rows.Int(2))});
  return columns;
}

std::optional<TimeSpan> HistoryEnds(Store& store, CounterId counter) {
  // Two queries: each of min() and max() alone is one step down the index.
  Statement first(store.database().handle(), "SELECT min(time) FROM history WHERE counter = ?1");
  first.Bind(1, counter);
  if (!first.Step() || first.IsNull(0)) return std::nullopt;
  Statement last(store.database().handle(), "SELECT max(time) FROM history WHERE counter = ?1");
  last.Bind(1, counter);
  if (!last.Step() || last.IsNull(0)) return std::nullopt;
  // The longest record at the last time decides where the downloads end.
  const int64_t end = last.Int(0);
  Statement types(store.database().handle(), "SELECT DISTINCT save_type FROM history WHERE counter = ?1 AND time = ?2");
  types.Bind(1, counter).Bind(2, end);
  int64_t length = 1;
  while (types.Step()) length = std::max(length, RecordSeconds(static_cast<uint8_t>(types.Int(0))));
  return TimeSpan{first.Int(0), end + length - 1};
}

}  // namespace norvane::store

namespace norvane::store {

std::vector<StoredNote> Store::Notes(CounterId counter, int64_t from, int64_t to) {
  return NotesBetween(*this, counter, from, to);
}

Series Store::MinuteColumns(CounterId counter, int64_t from, int64_t step, size_t count) {
  // A week's columns from ten-minute summaries read a tenth of the rows its minutes would be;
  // the summaries include the journaled seconds, as the minutes do.
  if (step % kTenMinutes == 0 && from % kTenMinutes == 0)
    return SummaryColumns([&](int64_t level, int64_t a, int64_t b, auto visit) { ForEachSummary(counter, level, a, b, visit); },
                          kTenMinutes, from, step, count);
  return store::MinuteColumns(*this, counter, from, step, count);
}

std::vector<HistoryColumn> Store::HistoryColumns(CounterId counter, int64_t from, int64_t step, size_t count) {
  return store::HistoryColumns(*this, counter, from, step, count);
}

std::optional<TimeSpan> Store::HistoryEnds(CounterId counter) { return store::HistoryEnds(*this, counter); }

}  // namespace norvane::store
