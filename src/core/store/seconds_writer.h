// Writes live seconds into the store on a thread of its own, so the polling never waits on disk.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "core/common/user_notifier.h"
#include "core/store/store.h"

namespace norvane::store {

// How long the writer waits before trying a failing store again: doubling from the first pause
// up to the longest.
struct WriterPauses {
  std::chrono::milliseconds first{1000};
  std::chrono::milliseconds longest{60000};
};

// The window, `monitor` and `record` each own one. Append only queues; the writer's thread
// commits each second as it arrives, so a killed process loses at most the second in flight.
// When the store cannot be written (disk full, read-only, locked, missing) the user is told once
// through the notifier, the seconds stay queued (up to kMaxQueued, oldest dropped first) and the
// writer tries again with a growing pause; the caller is never stopped. The notifier is called
// from the writer's thread.
class SecondsWriter {
 public:
  using Handle = size_t;
  static constexpr size_t kMaxQueued = 7 * 86400;

  struct Health {
    uint64_t committed = 0;  // seconds written
    uint64_t queued = 0;     // waiting for the store
    uint64_t dropped = 0;    // lost because the store failed for too long
    uint64_t failures = 0;   // failed commits
    bool failing = false;
  };

  SecondsWriter(std::filesystem::path path, UserNotifier& notifier, WriterPauses pauses = WriterPauses());
  // Commits what is queued (one more try if the store was failing), then stops.
  ~SecondsWriter();
  SecondsWriter(const SecondsWriter&) = delete;
  SecondsWriter& operator=(const SecondsWriter&) = delete;

  // The counter the following seconds belong to; it is found or added in the store on the
  // writer's thread.
  Handle AddCounter(const CounterInfo& info, int64_t now);
  void Append(Handle counter, int64_t utc, uint32_t count);
  // Waits until everything appended so far is committed (or dropped); false on timeout.
  bool Flush(std::chrono::milliseconds timeout);
  Health health() const;
  // The store's number for a counter once the writer has registered it.
  std::optional<CounterId> StoreId(Handle counter) const;

 private:
  struct Counter {
    CounterInfo info;
    int64_t seen = 0;
    std::optional<CounterId> id;
  };
  void Run();
  void CommitAll(std::map<Handle, std::vector<Second>>& batch);
  void Failed(const std::string& reason);

  const std::filesystem::path path_;
  UserNotifier& notifier_;
  const WriterPauses pauses_;

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable done_;
  std::vector<Counter> counters_;
  std::map<Handle, std::vector<Second>> incoming_;
  uint64_t appended_ = 0;
  Health health_;
  bool stop_ = false;

  // The writer thread's own.
  std::unique_ptr<Store> store_;
  std::map<Handle, std::vector<Second>> held_;  // taken from incoming_, not yet committed
  std::chrono::milliseconds pause_{0};
  bool reported_ = false;

  std::thread thread_;
};

}  // namespace norvane::store
