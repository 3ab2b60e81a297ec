// The store's prepared statements and small helpers its source files share.
#pragma once

#include "core/store/minute_block.h"
#include "core/store/sqlite_db.h"
#include "core/store/store.h"

namespace norvane::store {

inline constexpr int64_t kHour = 3600;
inline constexpr int64_t kDay = 86400;

inline int64_t FloorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }
inline int64_t CeilDiv(int64_t a, int64_t b) { return -FloorDiv(-a, b); }

struct Store::Statements {
  explicit Statements(sqlite3* db);
  Statement read_minute;     // one minute row
  Statement write_minute;
  Statement minutes_between; // rows of [first, end) minute numbers, oldest first
  Statement add_summary;
  Statement summaries_between;
};

// The aggregate of one stored minute, limited to its seconds in [from, to).
Aggregate MinuteAggregate(const MinuteBlock& block, int64_t minute, int64_t from, int64_t to);

// Reads the minute row the statement stands on (minute, gaps, counts, max as columns 0-3).
MinuteBlock ReadBlock(const Statement& row);

// Reads the summary row the statement stands on (start, then sum, measured, min and max second,
// whole minutes, min and max CPM and when, as columns 0-8).
Aggregate SummaryAggregate(const Statement& row);

}  // namespace norvane::store
