// The journal of live seconds a writer keeps beside the store between two folds into it.
//
// Each writer appends one line per second to a journal of its own (one write, no sync: safe from a
// kill the moment the write returns) and folds the journal into the store now and then. Readers
// merge the journals into what they read from the store; any writer that opens the store folds
// the journals whose writers have ended.
// The journal beside the store is what readers and folders find; its lock tells whether its
// writer still runs. A writer with a folder in memory (MemoryJournalFolder) keeps the seconds
// there and names that file in the journal beside the store, written once: a line appended to a
// file on the disk each second costs a page written out each time the kernel writes it back,
// about 20 MB a day, where a file in memory costs nothing. A restart of the machine takes the
// seconds since the last fold with it. Journals of older versions hold the seconds themselves.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/store/store.h"

namespace norvane::store {

// A journal larger than this is not read by readers: a week of seconds is a few megabytes.
inline constexpr uint64_t kMaxJournalBytes = 64 << 20;

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
// The line after the header of a journal whose seconds are kept in the file `kept` in memory.
std::string JournalPlaceLine(const std::filesystem::path& kept);
// Where in `folder` the seconds of `journal` are kept: "norvane-<the journal's name>".
std::filesystem::path KeptPath(const std::filesystem::path& journal, const std::filesystem::path& folder);

// The entries of a journal of the store `store_id`, in the order written. A line cut short by a
// kill, or damaged, is skipped. Empty when the journal belongs to another store or is no journal.
std::optional<std::vector<JournalEntry>> ParseJournal(std::string_view text, std::string_view store_id);

struct JournalSeconds {
  std::vector<JournalEntry> entries;
  std::optional<std::filesystem::path> kept;  // the file in memory the seconds were read from
  std::optional<std::string> lost;            // how that file was lost when it is gone
  bool unreadable = false;                    // that file is there but cannot be read now
};

// The seconds of the journal `journal` whose text is `text`, read from the file in memory it
// names, if it names one. A file there that is gone leaves no seconds (and says why, if it can
// tell); one that cannot be read now, or is not the journal's writer's, is unreadable.
std::optional<JournalSeconds> ReadJournalSeconds(const std::filesystem::path& journal, std::string_view text,
                                                 std::string_view store_id);

// Folds into `store` the journals named after `base` whose writers have ended, and removes them
// (with their files in memory). The seconds of a counter the store does not know (another
// store's) are left out. Says, one line for each, which journals' seconds were lost.
std::vector<std::string> FoldEndedJournals(const std::filesystem::path& base, std::string_view store_id,
                                           CounterStore& store);

}  // namespace norvane::store
