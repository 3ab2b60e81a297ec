#include "core/publish/mqtt_messages.h"

#include <cmath>
#include <ctime>

#include <nlohmann/json.hpp>

namespace norvane::publish {
namespace {

// Home Assistant ids and topic levels allow letters, digits, _ and -.
std::string IdPart(std::string_view text) {
  std::string out;
  for (const char c : text) {
    const bool keep = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
    if (keep) out += c;
    else if (c >= 'A' && c <= 'Z') out += static_cast<char>(c - 'A' + 'a');
    else if (out.empty() || out.back() != '_') out += '_';
  }
  return out.empty() ? "counter" : out;
}

// Two decimals for rates, as the counter's own display resolves them; more is noise.
double Rounded(double value, double scale) { return std::round(value * scale) / scale; }

}  // namespace

std::string IsoUtc(int64_t utc) {
  const std::time_t t = static_cast<std::time_t>(utc);
  std::tm parts{};
  gmtime_r(&t, &parts);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
  return text;
}

MqttTopics::MqttTopics(std::string prefix, std::string discovery_prefix)
    : prefix_(std::move(prefix)), discovery_prefix_(std::move(discovery_prefix)), node_(IdPart(prefix_)) {}

std::string MqttTopics::CounterKey(const LiveCounter& counter) {
  return IdPart(counter.model) + "_" + std::to_string(counter.store_id);
}

std::string MqttTopics::State(const LiveCounter& counter) const {
  return prefix_ + "/" + CounterKey(counter) + "/state";
}

std::string MqttTopics::History(const LiveCounter& counter) const {
  return prefix_ + "/" + CounterKey(counter) + "/history";
}

std::string MqttTopics::Connected(const LiveCounter& counter) const {
  return prefix_ + "/" + CounterKey(counter) + "/connected";
}

std::string MqttTopics::Alarm(const LiveCounter& counter) const {
  return prefix_ + "/" + CounterKey(counter) + "/alarm";
}

std::string MqttTopics::Quality(const LiveCounter& counter) const {
  return prefix_ + "/" + CounterKey(counter) + "/quality";
}

MqttMessage MqttTopics::Config(const LiveCounter& counter, const std::string& component, const std::string& id,
                                nlohmann::json body) const {
  const std::string object = node_ + "_" + CounterKey(counter);
  body["unique_id"] = "norvane_" + object + "_" + id;
  body["object_id"] = "norvane_" + CounterKey(counter) + "_" + id;
  body["device"] = {
      {"identifiers", {"norvane_" + object}},
      {"name", counter.model + " (" + std::to_string(counter.store_id) + ")"},
      {"model", counter.model},
      {"sw_version", counter.version},
  };
  body["availability"] = {{{"topic", Availability()}}};
  return {discovery_prefix_ + "/" + component + "/norvane_" + object + "/" + id + "/config", body.dump(), true};
}

std::vector<MqttMessage> MqttTopics::Discovery(const LiveCounter& counter) const {
  const auto config = [&](const std::string& component, const std::string& id, nlohmann::json body) {
    return Config(counter, component, id, std::move(body));
  };
  return {
      config("sensor", "cpm",
             {{"name", "CPM"},
              {"state_topic", State(counter)},
              {"value_template", "{{ value_json.cpm }}"},
              {"unit_of_measurement", "CPM"},
              {"state_class", "measurement"},
              {"icon", "mdi:radioactive"}}),
      // Home Assistant has no device class for a dose rate, so none is claimed.
      config("sensor", "dose_rate",
             {{"name", "Dose rate"},
              {"state_topic", State(counter)},
              {"value_template", "{{ value_json.usv_h }}"},
              {"unit_of_measurement", "µSv/h"},
              {"state_class", "measurement"},
              {"suggested_display_precision", 2},
              {"icon", "mdi:radioactive"}}),
      // The counts and the dose go on from the store across restarts; should they ever drop (no
      // store, a new one), Home Assistant takes it as a new cycle of the same meter, so its
      // long-term sums stay right.
      config("sensor", "counts",
             {{"name", "Counts"},
              {"state_topic", State(counter)},
              {"value_template", "{{ value_json.total }}"},
              {"state_class", "total_increasing"},
              {"icon", "mdi:counter"}}),
      config("sensor", "dose",
             {{"name", "Dose"},
              {"state_topic", State(counter)},
              {"value_template", "{{ value_json.dose_usv }}"},
              {"unit_of_measurement", "µSv"},
              {"state_class", "total_increasing"},
              {"suggested_display_precision", 3},
              {"icon", "mdi:radioactive"}}),
      config("binary_sensor", "connected",
             {{"name", "Connected"},
              {"state_topic", Connected(counter)},
              {"payload_on", "ON"},
              {"payload_off", "OFF"},
              {"device_class", "connectivity"},
              {"entity_category", "diagnostic"}}),
  };
}

MqttMessage MqttTopics::AlarmDiscovery(const LiveCounter& counter) const {
  // "safety": on means unsafe, which is what a raised alarm says.
  return Config(counter, "binary_sensor", "alarm",
                {{"name", "Alarm"},
                 {"state_topic", Alarm(counter)},
                 {"value_template", "{{ value_json.state }}"},
                 {"json_attributes_topic", Alarm(counter)},
                 {"payload_on", "ON"},
                 {"payload_off", "OFF"},
                 {"device_class", "safety"}});
}

MqttMessage MqttTopics::QualityDiscovery(const LiveCounter& counter) const {
  // "problem": on means a problem, which is what a failing rule says.
  return Config(counter, "binary_sensor", "quality",
                {{"name", "Data quality"},
                 {"state_topic", Quality(counter)},
                 {"value_template", "{{ value_json.state }}"},
                 {"json_attributes_topic", Quality(counter)},
                 {"payload_on", "ON"},
                 {"payload_off", "OFF"},
                 {"device_class", "problem"},
                 {"entity_category", "diagnostic"}});
}

std::string MqttTopics::SecondBody(const LiveCounter& counter, const LiveReading& reading,
                                   const PublishedTotals& totals) const {
  const nlohmann::json body = {
      {"time", IsoUtc(reading.utc)},
      {"cpm", Rounded(reading.cpm, 100)},
      {"usv_h", Rounded(reading.usv_h, 1000)},
      {"counts", reading.count},
      {"total", totals.counts},
      // A background second adds some 30 pSv: six decimals keep each one.
      {"dose_usv", Rounded(totals.dose_usv, 1e6)},
      {"acpm", Rounded(reading.acpm, 100)},
      {"model", counter.model},
      {"version", counter.version},
      // For a centre that keeps every station's seconds: the second as a number, and who counted.
      {"utc", reading.utc},
      {"serial", counter.serial},
      {"family", counter.family},
      {"device_path", counter.device_path},
  };
  return body.dump();
}

MqttMessage MqttTopics::StateMessage(const LiveCounter& counter, const LiveReading& reading,
                                     const PublishedTotals& totals) const {
  // QoS 0: a state is the present only once. The library never sends it again after a
  // reconnection, nor does the broker keep it for a client that is away.
  return {State(counter), SecondBody(counter, reading, totals), false, 0};
}

MqttMessage MqttTopics::HistoryMessage(const LiveCounter& counter, const LiveReading& reading,
                                       const PublishedTotals& totals) const {
  return {History(counter), SecondBody(counter, reading, totals), false};
}

MqttMessage MqttTopics::ConnectedMessage(const LiveCounter& counter, ConnectionState state) const {
  return {Connected(counter), state == ConnectionState::kConnected ? "ON" : "OFF", true};
}

MqttMessage MqttTopics::AlarmMessage(const LiveCounter& counter, const AlarmReading& alarm) const {
  nlohmann::json body = {{"state", alarm.on ? "ON" : "OFF"}};
  if (alarm.utc != 0) {
    body["time"] = IsoUtc(alarm.utc);
    body["window_s"] = alarm.window;
    body["level_cpm"] = Rounded(alarm.level_cpm, 100);
    body["threshold_cpm"] = Rounded(alarm.threshold_cpm, 100);
    body["background_cpm"] = Rounded(alarm.background_cpm, 100);
    body["usv_h"] = Rounded(alarm.usv_h, 1000);
  }
  return {Alarm(counter), body.dump(), true};
}

MqttMessage MqttTopics::QualityMessage(const LiveCounter& counter, const QualityReading& quality) const {
  nlohmann::json rules = nlohmann::json::object(), failing = nlohmann::json::array(),
                 problems = nlohmann::json::array();
  for (const store::RuleResult& r : quality.rules) {
    rules[r.rule] = {{"ok", r.ok}, {"value", Rounded(r.value, 1000)}};
    if (r.ok) continue;
    failing.push_back(r.rule);
    problems.push_back(r.problem);
  }
  const nlohmann::json body = {
      {"state", quality.ok() ? "OFF" : "ON"},
      {"time", IsoUtc(quality.utc)},
      {"from", IsoUtc(quality.from)},
      {"to", IsoUtc(quality.to)},
      {"failing", failing},
      {"problems", problems},
      {"rules", rules},
  };
  return {Quality(counter), body.dump(), true};
}

}  // namespace norvane::publish
