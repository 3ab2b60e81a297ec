// Queues each network's closed intervals and sends them at the pace each network allows.
#pragma once

#include <cstdint>
#include <vector>

#include "core/common/clock.h"
#include "core/common/user_notifier.h"
#include "core/store/store.h"
#include "core/upload/map_network.h"
#include "core/upload/upload_queue.h"

namespace norvane::upload {

// An interval is queued this long after its end, so the store holds its last seconds.
inline constexpr int64_t kCloseDelay = 10;
// A network that is down is tried again after this pause, doubled each time it stays down, up to
// the longest: short enough that a catch-up starts soon after the network's return.
inline constexpr int64_t kFirstPause = 30;
inline constexpr int64_t kLongestPause = 600;
// A station that did not run for longer queues only this much of what it holds.
inline constexpr int64_t kLookBack = 30 * 86400;

// Works on the clock's time only, never waits: the caller calls Step again when it says.
class UploadScheduler {
 public:
  UploadScheduler(store::Store& store, store::CounterId counter, std::vector<NetworkSetup> setups,
                  const Clock& clock, UserNotifier& notifier);

  // Queues the intervals that closed and sends each network whose turn it is one request.
  // Returns the time there is more to do.
  int64_t Step();

  // Whether a network stopped for good (a bad key) in this run.
  bool Stopped(MapNetwork network) const;

 private:
  struct Lane {
    NetworkSetup setup;
    UploadQueue queue;
    int64_t next_try = 0;
    int64_t pause = 0;  // the pause after the last failure; 0 while the network answers
    bool stopped = false;
    // Intervals a network without times missed, told once the present goes again.
    uint64_t gap = 0;
    int64_t gap_from = 0, gap_to = 0;
  };
  void Queue(Lane& lane, int64_t now);
  void Send(Lane& lane, int64_t now);

  store::Store& store_;
  const store::CounterId counter_;
  const Clock& clock_;
  UserNotifier& notifier_;
  std::vector<Lane> lanes_;
};

}  // namespace norvane::upload
