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
    AppendResult ignored;
    const Aggregate added = AddToMinute(block, minute, std::span(seconds).subspan(begin, i - begin), ignored);
    if (added.measured == 0) continue;
    unfolded.minutes[minute] = block;
    for (int64_t level : kSummaryLevels) unfolded.summaries[{level, FloorDiv(minute * 60, level) * level}].Merge(added);
  }
  return unfolded;
}

std::optional<int64_t> Store::EndSecond(CounterId counter, bool newest) {
  ReadTransaction snapshot(db_);
  const Unfolded unfolded = ReadUnfolded(counter);
  std::optional<int64_t> end;
  const auto keep = [&](std::optional<int64_t> t) {
    if (t) end = !end ? *t : newest ? std::max(*end, *t) : std::min(*end, *t);
  };
  if (!unfolded.minutes.empty()) {
    const auto& [minute, block] = newest ? *unfolded.minutes.rbegin() : *unfolded.minutes.begin();
    keep(EndOfMinute(minute, block, newest));
  }
  Statement edge(db_.handle(), newest ? "SELECT max(minute) FROM seconds WHERE counter = ?1"
                                      : "SELECT min(minute) FROM seconds WHERE counter = ?1");
  edge.Bind(1, counter);
  if (edge.Step() && !edge.IsNull(0)) {
    const int64_t minute = edge.Int(0);
    keep(EndOfMinute(minute, StoredMinute(s_->read_minute, counter, minute), newest));
  }
  return end;
}

}  // namespace norvane::store
