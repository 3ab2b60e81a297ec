// The public radiation maps a station uploads to: what each takes, how fast, and how it answers.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "core/net/http_post.h"

namespace norvane::upload {

enum class MapNetwork { kRadmon, kSafecast, kOpenSenseMap, kSensorCommunity };
inline constexpr MapNetwork kMapNetworks[] = {MapNetwork::kRadmon, MapNetwork::kSafecast, MapNetwork::kOpenSenseMap,
                                              MapNetwork::kSensorCommunity};

// "radmon.org", "Safecast", "openSenseMap", "Sensor.Community": how the user knows it.
std::string_view NetworkName(MapNetwork network);
// "radmon", "safecast", "opensensemap", "sensor-community": options, the store and metric labels.
std::string_view NetworkKey(MapNetwork network);
std::optional<MapNetwork> NetworkByKey(std::string_view key);

struct NetworkRules {
  bool takes_time;          // a late interval can go with its own time
  size_t batch;             // intervals one request carries at most
  int64_t spacing;          // seconds from one answer to the next request, at least
  int64_t default_interval; // seconds an interval lasts unless chosen
  std::string_view default_url;
};
const NetworkRules& RulesOf(MapNetwork network);

struct StationPosition {
  double latitude = 0;
  double longitude = 0;
  double height = 0;  // metres above the ground
};

// One network as the station is set up for it.
struct NetworkSetup {
  MapNetwork network = MapNetwork::kRadmon;
  std::string url;     // the service's root; empty: its public host
  std::string user;    // radmon.org's user name
  std::string device;  // Safecast's device id; openSenseMap's "BOX/SENSOR"
  std::string key;     // the secret: radmon.org's data password, Safecast's API key, openSenseMap's box
                       // token, Sensor.Community's sensor id
  int64_t interval = 0;  // 0: the network's default
  std::optional<StationPosition> position;
  std::chrono::seconds timeout{30};

  int64_t Interval() const { return interval > 0 ? interval : RulesOf(network).default_interval; }
};

// A closed interval of measured seconds, as its queue holds it.
struct UploadInterval {
  int64_t start = 0;   // UTC seconds
  int64_t length = 0;  // seconds
  uint64_t counts = 0;
  uint64_t measured = 0;  // seconds measured within it

  int64_t end() const { return start + length; }
  // An interval's CPM is its counts over its measured seconds.
  double cpm() const { return measured ? 60.0 * static_cast<double>(counts) / static_cast<double>(measured) : 0; }
};

// What a network's answer means for the intervals it carried.
enum class Verdict {
  kAccepted,  // sent
  kRepeat,    // it holds them already: sent
  kTooSoon,   // posted too soon after the last: the same again after the network's spacing
  kRefused,   // these intervals will never be taken
  kBadKey,    // nothing will be taken until the station's key is mended
  kDown,      // not reached, or failing: again later
};
struct Judgement {
  Verdict verdict = Verdict::kDown;
  std::string why;  // the network's words, for the user
};

// The request carrying `intervals` (at most the network's batch, oldest first), each with its own
// time where the network takes one.
HttpRequest BuildRequest(const NetworkSetup& setup, std::span<const UploadInterval> intervals);
Judgement Judge(MapNetwork network, const HttpAnswer& answer);

// What a setup lacks for its network ("Safecast needs the station's position (--position)."), or nothing.
std::optional<std::string> SetupProblem(const NetworkSetup& setup);

// "2026-12-09T01:05:00Z".
std::string IsoUtc(int64_t utc);

}  // namespace norvane::upload
