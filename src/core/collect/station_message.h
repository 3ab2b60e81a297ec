// Reading the state messages stations publish (record --mqtt) as seconds for a centre's store.
#pragma once

#include <string>
#include <string_view>
#include <variant>

#include "core/store/store_types.h"

namespace norvane::collect {

// One measured second of one station's counter.
struct StationSecond {
  std::string key;  // the counter as the centre tells it apart: serial, else topic and version
  store::CounterInfo counter;
  store::Second second;
};

// A message below the prefix that is no data: availability, link state, discovery.
struct NotData {};

// Why a message is no station's second; never written.
struct Rejected {
  std::string reason;
};

using StationMessage = std::variant<StationSecond, NotData, Rejected>;

// Reads a message received on `topic` below `prefix` (the collector subscribes to prefix/#).
// A state message is <prefix>/…/<counter>/state with a JSON object holding at least "utc" (UTC
// seconds), "counts" and "version"; "serial", "model", "family" and "device_path" name the
// counter further.
StationMessage ParseStationMessage(std::string_view prefix, std::string_view topic, std::string_view payload);

}  // namespace norvane::collect
