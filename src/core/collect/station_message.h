// Reading the state messages stations publish (record --mqtt) as seconds for a centre's store.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "core/store/store_types.h"

namespace norvane::collect {

// One measured second of one station's counter.
struct StationSecond {
  // The counter as the centre tells it apart: the topic it publishes on and its serial together,
  // so that a serial copied onto another topic is another counter, and counters without a serial
  // are told apart by topic.
  std::string key;
  store::CounterInfo counter;
  store::Second second;
};

// A message below the prefix that is no data: availability, link state, alarm, quality, discovery.
struct NotData {};

// Why a message is no station's second; never written.
struct Rejected {
  std::string reason;
};

using StationMessage = std::variant<StationSecond, NotData, Rejected>;

// The most a station's message may hold: a state message is a few hundred bytes.
inline constexpr size_t kMostMessageBytes = 4096;

// Reads a message received on `topic` below `prefix` (the collector subscribes to prefix/#) at
// `now` (UTC seconds). A second comes on <prefix>/…/<counter>/state (live) or …/<counter>/history
// (late) as a JSON object holding at least "utc" (UTC seconds), "counts" and "version"; "serial",
// "model", "family" and "device_path" name the counter further. Every field is bounded by what a counter and a station
// can send: short printable texts, counts a counter can count in a second, and a second from
// the counters' time up to a few minutes ahead of `now`.
StationMessage ParseStationMessage(std::string_view prefix, std::string_view topic, std::string_view payload,
                                   int64_t now);

}  // namespace norvane::collect
