// Each public map's queue of intervals in a station's store: what is due, what was sent or refused.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/store/store.h"
#include "core/upload/map_network.h"

namespace norvane::upload {

// Every change is one transaction of the store, so a kill loses no queued interval and an
// interval the network accepted is never due again.
class UploadQueue {
 public:
  UploadQueue(store::Store& store, MapNetwork network, store::CounterId counter)
      : store_(store), network_(NetworkKey(network)), counter_(counter) {}

  // The end of the last interval queued; empty before the first.
  std::optional<int64_t> QueuedUntil();
  // Adds the closed intervals (those without a measured second are left out) and moves the end on.
  void Enqueue(std::span<const UploadInterval> intervals, int64_t queued_until);
  // The oldest due intervals, at most `limit`.
  std::vector<UploadInterval> Due(size_t limit);
  // The newest due interval's start, if any.
  std::optional<int64_t> NewestDue();
  size_t Waiting();
  // When the network last took an interval; empty before it ever did.
  std::optional<int64_t> LastSent();

  void MarkSent(std::span<const UploadInterval> intervals, int64_t now);
  // Taken off the queue: refused for good, with the network's words.
  void MarkRefused(std::span<const UploadInterval> intervals, std::string_view why, int64_t now);
  // Taken off the queue unsent: the network takes only the present.
  void MarkSkipped(int64_t before);
  // A refusal that keeps the queue as it is (a bad key), for `store uploads` to show.
  void NoteRefusal(std::string_view why, int64_t now);

 private:
  void Count(const char* column, int64_t n, int64_t now);

  store::Store& store_;
  const std::string network_;
  const store::CounterId counter_;
};

// One network's line in `store uploads`, over the counters it uploads.
struct UploadSummary {
  std::string network;  // NetworkKey
  uint64_t sent = 0;
  uint64_t waiting = 0;
  uint64_t refused = 0;
  uint64_t skipped = 0;
  int64_t last_sent = 0;
  int64_t oldest_waiting = 0;  // start of the oldest due interval; 0 when none waits
  std::string last_refusal;
  int64_t last_refusal_at = 0;
};
std::vector<UploadSummary> UploadSummaries(store::Store& store);

}  // namespace norvane::upload
