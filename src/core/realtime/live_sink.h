// What a publisher of live readings receives from the logging service: each measured second and
// each change of the counter's connection.
#pragma once

#include <cstdint>
#include <string_view>

#include "core/common/counter_info.h"

namespace norvane {

enum class LinkState {
  kConnected,     // identified and polled
  kNotAnswering,  // the port is open but the counter stays silent
  kLost,          // the port is gone (unplugged) or the counter could not be identified again
  kStopped,       // the service ends
};

// "connected", "not answering", "lost", "stopped".
constexpr std::string_view LinkStateName(LinkState state) {
  switch (state) {
    case LinkState::kConnected: return "connected";
    case LinkState::kNotAnswering: return "not answering";
    case LinkState::kLost: return "lost";
    case LinkState::kStopped: return "stopped";
  }
  return "";
}

struct LiveSecond {
  int64_t utc = 0;     // the second's start, seconds since 1970
  uint32_t count = 0;  // counts in that second
  uint32_t cpm = 0;    // counts of the last 60 seconds, over the measured ones among them
  double usv_h = 0;    // dose rate for that CPM by the settings' conversion
  uint64_t store_write_errors = 0;  // the store writer's failed commits so far, for the health metric
};

// Called on the service's polling thread, once a second: an implementation must not block for
// long (hand slow work such as network I/O to a thread of its own). Seconds the store could not
// take yet are still reported: a sink follows the counter, not the disk.
class LiveSink {
 public:
  virtual ~LiveSink() = default;
  virtual void OnSecond(const store::CounterInfo& counter, const LiveSecond& second) = 0;
  virtual void OnLinkState(const store::CounterInfo& counter, LinkState state) = 0;
  // A second polled whose reply could not be taken (missing, cut, marked): it stays a gap.
  virtual void OnGap(const store::CounterInfo& /*counter*/, int64_t /*utc*/) {}
};

}  // namespace norvane
