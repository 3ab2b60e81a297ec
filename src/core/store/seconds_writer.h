// Writes live seconds into the store on a thread of its own, so the polling never waits on disk.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "core/common/user_notifier.h"
#include "core/platform/file_identity.h"
#include "core/platform/locked_file.h"
#include "core/platform/memory_folder.h"
#include "core/store/store.h"

namespace norvane::store {

// How long the writer waits before trying a failing store again: doubling from the first pause
// up to the longest.
struct WriterPauses {
  std::chrono::milliseconds first{1000};
  std::chrono::milliseconds longest{60000};
};

// How often journaled seconds are folded into the database. Each fold dirties pages of the
// database's log, its tables and its indexes, each written out whole. With the journal in memory
// the journal costs the disk nothing; a fold costs about 30 KB, so one every five minutes keeps a
// day of `record` with MQTT and /metrics near 9 MB (one every two minutes: 22 MB) while a power
// cut takes at most those five minutes. A journal on
// the disk costs about 20 MB a day by itself (its last page written out again at each writeback
// of the kernel), so it is folded only every half hour; it then holds up to 1800 lines, which
// readers merge at once (bench/record_bench.sh and bench/store_write_bench measure both).
inline constexpr std::chrono::milliseconds kMemoryFoldEvery{std::chrono::minutes(5)};
inline constexpr std::chrono::milliseconds kDiskFoldEvery{std::chrono::minutes(30)};
// A server's readers do not see the journal on the station's disk, and its writes are not the
// station's disk: seconds reach a server at least this often.
inline constexpr std::chrono::milliseconds kServerFoldEvery{std::chrono::seconds(10)};

// The window, `monitor` and `record` each own one. Append only queues; the writer's thread
// appends each second to its journal as it arrives (so a killed process loses at most the second
// in flight) and folds the journal into the database every `fold_every` (by default
// kMemoryFoldEvery when the journal is kept in `memory`, else kDiskFoldEvery), on Flush and when
// it stops. The journal's seconds are kept in `memory` when that folder is given and takes the
// file, else beside the store (see seconds_journal.h). Readers of the store see journaled seconds at once.
// When the store cannot be written (disk full, read-only, locked, missing) the user is told once
// through the notifier, the seconds stay queued (up to kMaxQueued, oldest dropped first) and the
// writer tries again with a growing pause; the caller is never stopped. A file that can never be
// a store is reported once and not tried again until the file at the path changes. A store
// deleted or replaced while it is written is reported once and made again at its path with the
// seconds it did not hold yet. The notifier is called from the writer's thread.
// A PostgreSQL server (a postgresql:// path) is written the same way through a journal on the
// station's disk, in ServerJournalFolder() named by ServerJournalBase: while the server is down or
// restarting, each second is still journaled as it arrives and the server is tried again with the
// growing pause; a journal left by a writer that ended is folded in at the next connection. Only
// the seconds of a counter the server has not registered yet wait in memory.
class SecondsWriter {
 public:
  using Handle = size_t;
  static constexpr size_t kMaxQueued = 7 * 86400;

  struct Health {
    uint64_t committed = 0;  // seconds safe from a kill of this process: journaled or in the database
    uint64_t queued = 0;     // waiting for the store
    uint64_t dropped = 0;    // lost because the store failed for too long
    uint64_t failures = 0;   // failed commits
    bool failing = false;
    bool refused = false;    // the file can never be a store (see CheckPath)
  };

  SecondsWriter(std::filesystem::path path, UserNotifier& notifier, WriterPauses pauses = WriterPauses(),
                std::optional<std::chrono::milliseconds> fold_every = std::nullopt,
                std::optional<std::filesystem::path> memory = MemoryJournalFolder());
  // Folds what is queued into the database (one more try if the store was failing), then stops.
  ~SecondsWriter();
  SecondsWriter(const SecondsWriter&) = delete;
  SecondsWriter& operator=(const SecondsWriter&) = delete;

  // Why `path` can never be a store (a folder, a FIFO, not a database, another program's
  // database, a newer store), for a front end to refuse at start; empty when it can be one or
  // the problem may pass. Makes the store when there is none.
  static std::optional<std::string> CheckPath(const std::filesystem::path& path);

  // The counter the following seconds belong to; it is found or added in the store on the
  // writer's thread.
  Handle AddCounter(const CounterInfo& info, int64_t now);
  void Append(Handle counter, int64_t utc, uint32_t count);
  // Waits until everything appended so far is in the database (or dropped); false on timeout.
  bool Flush(std::chrono::milliseconds timeout);
  Health health() const;
  // The store's number for a counter once the writer has registered it.
  std::optional<CounterId> StoreId(Handle counter) const;
  // The token this writer holds its counters by in the store, for the readers of the same
  // program (see CounterStore::HoldAs).
  const std::string& holder() const { return holder_; }

 private:
  struct Counter {
    CounterInfo info;
    int64_t seen = 0;
    std::optional<CounterId> id;
  };
  using Batches = std::map<Handle, std::vector<Second>>;
  void Run();
  void Step(bool fold, bool retry);
  void Open();
  void Connect();
  void MakeJournal(const std::string& store_id);
  std::unique_ptr<LockedFile> MakeKept(const std::filesystem::path& journal, const std::string& header);
  LockedFile& Seconds() { return kept_ ? *kept_ : *journal_; }
  void RemoveJournal();
  void Lost(bool deleted);
  void Journal();
  void Fold();
  void Failed(const std::string& reason);
  void Refused(const std::string& reason);
  void DropOverflow();
  int64_t HoldLease() const;
  void ReleaseHolds();

  const std::filesystem::path path_;
  const bool server_;
  const std::string location_;  // what messages name the store by: a server's URL without its password
  const std::filesystem::path journal_base_;
  const std::optional<std::filesystem::path> memory_;  // where the seconds are kept, for a SQLite store
  UserNotifier& notifier_;
  const WriterPauses pauses_;
  const std::chrono::milliseconds fold_every_;
  const std::string holder_;

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable done_;
  std::vector<Counter> counters_;
  Batches incoming_;
  uint64_t appended_ = 0;
  uint64_t folded_ = 0;       // in the database
  uint64_t fold_target_ = 0;  // Flush asks for the first this many appended seconds folded
  Health health_;
  bool stop_ = false;

  // The writer thread's own.
  std::unique_ptr<CounterStore> store_;
  std::optional<FileIdentity> identity_;  // of the open store's file
  std::optional<FileIdentity> wal_, shm_;  // of its SQLite log and index
  std::unique_ptr<LockedFile> journal_;
  std::unique_ptr<LockedFile> kept_;  // the file in memory the journal names, if it names one
  uint64_t journal_header_ = 0;       // of the file the seconds go to
  Batches pending_;   // taken from incoming_, not yet journaled
  Batches unfolded_;  // journaled, not yet in the database
  uint64_t unfolded_count_ = 0;
  std::set<Handle> conflict_told_;
  std::chrono::steady_clock::time_point next_fold_;
  std::chrono::milliseconds pause_{0};
  std::chrono::steady_clock::time_point retry_at_;  // of a failing store
  bool reported_ = false;
  std::optional<std::optional<FileIdentity>> refused_file_;  // the path's file when it was refused

  std::thread thread_;
};

}  // namespace norvane::store
