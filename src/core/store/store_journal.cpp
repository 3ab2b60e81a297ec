// Journals of live writers as the store's readers and writers see them.
#include <algorithm>

#include "core/platform/file_read.h"
#include "core/store/seconds_journal.h"
#include "core/store/store.h"
#include "core/store/store_statements.h"

namespace norvane::store {

void Store::FoldEndedJournals() {
  std::vector<std::string> lost = store::FoldEndedJournals(path(), id_, *this);
  lost_journals_.insert(lost_journals_.end(), lost.begin(), lost.end());
}

Store::Unfolded Store::ReadUnfolded(CounterId counter) {
  // The journals are read before the database: a writer empties its journal only after the fold
  // has committed, so every second is found in one or the other (or both, counted once).
  std::vector<Second> seconds;
  for (const std::filesystem::path& journal : JournalsOf(path())) {
    std::string error;
    // One being emptied or removed after its fold is skipped: the database has its seconds.
    const std::optional<std::string> text = ReadRegularFile(journal, kMaxJournalBytes, &error);
    if (!text) continue;
    if (const auto read = ReadJournalSeconds(journal, *text, id_))
      for (const JournalEntry& e : read->entries)
        if (e.counter == counter) seconds.push_back(e.second);
  }
  Unfolded unfolded;
  std::stable_sort(seconds.begin(), seconds.end(), [](const Second& a, const Second& b) { return a.time < b.time; });
  for (size_t i = 0; i < seconds.size();) {
    const int64_t minute = FloorDiv(seconds[i].time, 60);
    const size_t begin = i;
    while (i < seconds.size() && FloorDiv(seconds[i].time, 60) == minute) ++i;
    MinuteBlock block = StoredMinute(s_->read_minute, counter, minute);
    size_t already = 0;
    const Aggregate added = AddToMinute(block, minute, std::span(seconds).subspan(begin, i - begin), already);
    if (added.measured == 0) continue;
    unfolded.minutes[minute] = block;
    for (int64_t level : kSummaryLevels) unfolded.summaries[{level, FloorDiv(minute * 60, level) * level}].Merge(added);
  }
  return unfolded;
}

std::optional<int64_t> Store::NewestSecond(CounterId counter) {
  ReadTransaction snapshot(db_);
  const Unfolded unfolded = ReadUnfolded(counter);
  std::optional<int64_t> newest;
  const auto last_of = [](int64_t minute, const MinuteBlock& block) -> std::optional<int64_t> {
    for (int s = 59; s >= 0; --s)
      if (block.Has(s)) return minute * 60 + s;
    return std::nullopt;
  };
  if (!unfolded.minutes.empty()) newest = last_of(unfolded.minutes.rbegin()->first, unfolded.minutes.rbegin()->second);
  Statement last(db_.handle(), "SELECT max(minute) FROM seconds WHERE counter = ?1");
  last.Bind(1, counter);
  if (last.Step() && !last.IsNull(0) && (!newest || last.Int(0) * 60 + 59 > *newest)) {
    const int64_t minute = last.Int(0);
    if (const auto stored = last_of(minute, StoredMinute(s_->read_minute, counter, minute)))
      newest = std::max(newest.value_or(*stored), *stored);
  }
  return newest;
}

}  // namespace norvane::store
