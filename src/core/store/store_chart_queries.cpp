#include "core/store/store_chart_queries.h"

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

}  // namespace norvane::store
