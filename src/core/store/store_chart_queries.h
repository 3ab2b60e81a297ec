// What the long-term chart asks of the store beyond its series: notes in a range, the newest second.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/store/store.h"

namespace norvane::store {

struct StoredNote {
  int64_t time = 0;  // UTC: the time of the record the note belongs to
  std::string text;
  bool operator==(const StoredNote&) const = default;
};

// Notes of `counter` in [from, to), oldest first.
std::vector<StoredNote> NotesBetween(Store& store, CounterId counter, int64_t from, int64_t to);

// The newest measured second of `counter`, journaled seconds included.
std::optional<int64_t> LastSecond(Store& store, CounterId counter);

}  // namespace norvane::store
