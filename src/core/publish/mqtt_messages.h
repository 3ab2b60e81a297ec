// The topics and JSON payloads this program publishes: live state, history, Home Assistant discovery.
#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "core/publish/live_reading.h"

namespace norvane::publish {

struct MqttMessage {
  std::string topic;
  std::string payload;
  bool retain = false;
  int qos = 1;
};

inline constexpr const char* kDefaultDiscoveryPrefix = "homeassistant";

// What a counter's seconds add up to; carried by every second's message.
struct PublishedTotals {
  uint64_t counts = 0;
  double dose_usv = 0;  // each second's dose rate over that second
};

// Where one publishing program's topics live. The prefix also goes into Home Assistant's unique
// ids, so two machines whose store numbers their counters alike stay apart by their prefixes.
class MqttTopics {
 public:
  MqttTopics(std::string prefix, std::string discovery_prefix);

  // "online" / "offline" (the last will), retained: one for the whole program.
  std::string Availability() const { return prefix_ + "/status"; }
  // Where Home Assistant says "online" when it starts, and wants the discovery configs again.
  std::string HomeAssistantStatus() const { return discovery_prefix_ + "/status"; }
  // Live seconds only, for Home Assistant, which stamps a state when it arrives.
  std::string State(const LiveCounter& counter) const;
  // Every second once, in order: live ones as they come, those the broker missed later, from the
  // store. What a consumer of every second reads.
  std::string History(const LiveCounter& counter) const;
  std::string Connected(const LiveCounter& counter) const;
  std::string Alarm(const LiveCounter& counter) const;
  std::string Quality(const LiveCounter& counter) const;
  // The counter's part of topics and ids: its model and its number in the store.
  static std::string CounterKey(const LiveCounter& counter);

  // Retained discovery configs: CPM, µSv/h, total counts and dose (µSv) sensors on the state
  // topic and a counter-connected binary sensor, one Home Assistant device per counter.
  std::vector<MqttMessage> Discovery(const LiveCounter& counter) const;
  // The alarm's binary sensor on the same device, for a counter an alarm watches; the level,
  // threshold and background are its attributes.
  MqttMessage AlarmDiscovery(const LiveCounter& counter) const;
  // The data-quality problem sensor on the same device, once the store has judged the counter.
  MqttMessage QualityDiscovery(const LiveCounter& counter) const;
  // `totals`: of the counter's seconds in the store when the program started and of every second
  // sent on the history topic since.
  MqttMessage StateMessage(const LiveCounter& counter, const LiveReading& reading, const PublishedTotals& totals) const;
  // The same message on the history topic.
  MqttMessage HistoryMessage(const LiveCounter& counter, const LiveReading& reading,
                             const PublishedTotals& totals) const;
  MqttMessage ConnectedMessage(const LiveCounter& counter, ConnectionState state) const;
  // Retained, so Home Assistant knows the alarm after its own restart; the values are attributes.
  MqttMessage AlarmMessage(const LiveCounter& counter, const AlarmReading& alarm) const;
  // Retained: ON while a rule fails; each rule's verdict and value and the failing rules' reasons
  // are attributes.
  MqttMessage QualityMessage(const LiveCounter& counter, const QualityReading& quality) const;

 private:
  MqttMessage Config(const LiveCounter& counter, const std::string& component, const std::string& id,
                     nlohmann::json body) const;
  std::string SecondBody(const LiveCounter& counter, const LiveReading& reading, const PublishedTotals& totals) const;

  std::string prefix_;
  std::string discovery_prefix_;
  std::string node_;  // the prefix as an id part
};

// "2026-03-07T09:05:04Z"
std::string IsoUtc(int64_t utc);

}  // namespace norvane::publish
