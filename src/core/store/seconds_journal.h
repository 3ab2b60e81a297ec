// The journal of live seconds a writer keeps beside the store between two folds into it.
//
// Each writer appends one line per second to a journal of its own (one write, no sync: cheap on
// the disk, and safe from a kill the moment the write returns) and folds the journal into the
// store now and then. Readers merge the journals into what they read from the store; any writer
// that opens the store folds the journals whose writers have ended.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/store/store.h"

namespace norvane::store {

struct JournalEntry {
  CounterId counter = 0;
  Second second;
};

// "<store>-seconds-<random>": a name of its own for each writer, found again from the store's name.
std::filesystem::path NewJournalPath(const std::filesystem::path& store);
std::vector<std::filesystem::path> JournalsOf(const std::filesystem::path& store);
// What a writer into the server at `location` (without its password) names its journals after
// in `folder`: "postgresql-<hash of the location>", one name for each server and database.
std::filesystem::path ServerJournalBase(std::string_view location, const std::filesystem::path& folder);

// The first line names the store the journal belongs to, so that a journal left beside a store
// that was since replaced is never folded into the new one.
std::string JournalHeader(std::string_view store_id);
std::string JournalLine(const JournalEntry& entry);

// The entries of a journal of the store `store_id`, in the order written. A line cut short by a
// kill, or damaged, is skipped. Empty when the journal belongs to another store or is no journal.
std::optional<std::vector<JournalEntry>> ParseJournal(std::string_view text, std::string_view store_id);

// Folds into `store` the journals named after `base` whose writers have ended, and removes them.
// The seconds of a counter the store does not know (another store's) are left out.
void FoldEndedJournals(const std::filesystem::path& base, std::string_view store_id, CounterStore& store);

}  // namespace norvane::store
