// The store's prepared statements and small helpers its source files share.
#pragma once

#include <map>
#include <span>
#include <utility>

#include "core/store/minute_block.h"
#include "core/store/sqlite_db.h"
#include "core/store/store.h"
#include "core/store/store_reading.h"

namespace norvane::store {

struct Store::Statements {
  explicit Statements(sqlite3* db);
  Statement read_minute;     // one minute row
  Statement write_minute;
  Statement minutes_between; // rows of [first, end) minute numbers, oldest first
  Statement add_summary;
  Statement summaries_between;
};

// Journaled seconds of one counter that the database does not hold yet.
struct Store::Unfolded {
  std::map<int64_t, MinuteBlock> minutes;  // minutes they add to: the stored seconds and theirs
  std::map<std::pair<int64_t, int64_t>, Aggregate> summaries;  // (level, start): what they add
};

// The stored minute (an empty block when there is none); `read` is Statements::read_minute.
MinuteBlock StoredMinute(Statement& read, CounterId counter, int64_t minute);

// Reads the minute row the statement stands on (minute, gaps, counts, max as columns 0-3).
MinuteBlock ReadBlock(const Statement& row);

// Reads the summary row the statement stands on (start, then sum, measured, min and max second,
// whole minutes, min and max CPM and when, as columns 0-8).
Aggregate SummaryAggregate(const Statement& row);

// Calls visit(minute, block) for each minute that overlaps [from, to), oldest first; visit
// returns false to stop.
template <typename Visit>
void Store::ForEachMinute(CounterId counter, int64_t from, int64_t to, Visit visit) {
  ReadTransaction snapshot(db_);
  const Unfolded unfolded = ReadUnfolded(counter);
  const int64_t first = FloorDiv(from, 60), end = CeilDiv(to, 60);
  auto extra = unfolded.minutes.lower_bound(first);
  const auto extra_end = unfolded.minutes.lower_bound(end);
  Statement& rows = s_->minutes_between;
  rows.Bind(1, counter).Bind(2, first).Bind(3, end);
  try {
    bool going = true;
    while (going && rows.Step()) {
      const int64_t minute = rows.Int(0);
      for (; going && extra != extra_end && extra->first < minute; ++extra) going = visit(extra->first, extra->second);
      if (!going) break;
      if (extra != extra_end && extra->first == minute) going = visit(minute, (extra++)->second);
      else going = visit(minute, ReadBlock(rows));
    }
    for (; going && extra != extra_end; ++extra) going = visit(extra->first, extra->second);
  } catch (...) {
    rows.Reset();
    throw;
  }
  rows.Reset();
}

// Calls visit(start, aggregate) for each summary of `level` starting in [from, to), oldest first.
template <typename Visit>
void Store::ForEachSummary(CounterId counter, int64_t level, int64_t from, int64_t to, Visit visit) {
  ReadTransaction snapshot(db_);
  const Unfolded unfolded = ReadUnfolded(counter);
  auto extra = unfolded.summaries.lower_bound({level, from});
  const auto extra_end = unfolded.summaries.lower_bound({level, to});
  Statement& rows = s_->summaries_between;
  rows.Bind(1, counter).Bind(2, level).Bind(3, from).Bind(4, to);
  try {
    while (rows.Step()) {
      const int64_t start = rows.Int(0);
      for (; extra != extra_end && extra->first.second < start; ++extra) visit(extra->first.second, extra->second);
      Aggregate stored = SummaryAggregate(rows);
      if (extra != extra_end && extra->first.second == start) stored.Merge((extra++)->second);
      visit(start, stored);
    }
    for (; extra != extra_end; ++extra) visit(extra->first.second, extra->second);
  } catch (...) {
    rows.Reset();
    throw;
  }
  rows.Reset();
}

}  // namespace norvane::store
