// What the long-term chart asks of the store beyond its series: notes in a range, the newest second,
// downloaded records by screen column and where they begin and end.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/store/store.h"

namespace norvane::store {

// Notes of `counter` in [from, to), oldest first.
std::vector<StoredNote> NotesBetween(Store& store, CounterId counter, int64_t from, int64_t to);

// The newest measured second of `counter`, journaled seconds included.
std::optional<int64_t> LastSecond(Store& store, CounterId counter);

// The measured seconds of `counter` over `count` columns of `step` seconds, a whole number of
// minutes, from `from` on a minute: each minute's stored totals, its seconds left packed. Sums,
// seconds measured and whole-minute CPMs are those Query gives; the lowest and highest second are
// not known this way and stay 0, so this serves columns longer than a minute. (The stores' own
// MinuteColumns read columns of whole ten minutes from the ten-minute summaries instead.)
Series MinuteColumns(Store& store, CounterId counter, int64_t from, int64_t step, size_t count);

// Seconds of counting a downloaded record of this save type stands for: a second, a minute or an
// hour. Its value is a count of that second, else a CPM.
int64_t RecordSeconds(uint8_t save_type);

// The downloaded records of `counter` over `count` columns of `step` seconds from `from`. A record
// longer than a column is spread over the columns it covers. Columns of whole hours or days that
// start on one are read from the summaries kept beside the records, so a year stays a few thousand
// rows.
std::vector<HistoryColumn> HistoryColumns(Store& store, CounterId counter, int64_t from, int64_t step, size_t count);

// The summary level HistoryColumns reads for columns of `step` from `from`: a day, an hour, or 0
// for the records themselves.
int64_t HistoryColumnLevel(int64_t from, int64_t step);
// Adds one history summary row of `save_type` (records, their sum and extremes) to the column it
// starts in; the counts and seconds follow from the type's length, as they do for one record.
void AddSummaryToColumns(std::vector<HistoryColumn>& columns, int64_t from, int64_t step, uint8_t save_type,
                         const HistoryAggregate& summary, int64_t start);
// Spreads one record over the columns it covers. The rows to add are those with a time in
// [from - 3599, to): an hour record that began before the range still covers its start.
void AddRecordToColumns(std::vector<HistoryColumn>& columns, int64_t from, int64_t step, const HistoryRecord& record);
// The save types a downloaded record can have.
inline constexpr uint8_t kSaveTypes[] = {kEverySecond, kEveryMinute, kEveryHour, kThresholdSecond, kThresholdMinute};

// The first and last second covered by `counter`'s downloaded records.
std::optional<TimeSpan> HistoryEnds(Store& store, CounterId counter);

}  // namespace norvane::store
