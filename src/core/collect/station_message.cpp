#include "core/collect/station_message.h"

#include <nlohmann/json.hpp>

namespace norvane::collect {
namespace {

constexpr std::string_view kStateLevel = "/state";
// A station's clock more than this far from 1970 or beyond 2200 is no clock at all.
constexpr int64_t kLatestSecond = 7'258'118'400;  // 2200-01-01
constexpr uint64_t kMostCounts = 0xFFFFFFFF;

std::string Text(const nlohmann::json& body, const char* field) {
  const auto it = body.find(field);
  return it != body.end() && it->is_string() ? it->get<std::string>() : std::string();
}

}  // namespace

StationMessage ParseStationMessage(std::string_view prefix, std::string_view topic, std::string_view payload) {
  if (!topic.starts_with(prefix) || topic.size() <= prefix.size() || topic[prefix.size()] != '/')
    return Rejected{"its topic is not below " + std::string(prefix)};
  if (!topic.ends_with(kStateLevel)) {
    const std::string_view last = topic.substr(topic.rfind('/') + 1);
    if (last == "status" || last == "connected" || last == "config") return NotData{};
    return Rejected{"its topic is no station's state"};
  }
  const nlohmann::json body = nlohmann::json::parse(payload, nullptr, false);
  if (body.is_discarded() || !body.is_object()) return Rejected{"it is not a JSON object"};
  const auto utc = body.find("utc");
  const auto counts = body.find("counts");
  if (utc == body.end() || !utc->is_number_integer() || utc->get<int64_t>() < 0 || utc->get<int64_t>() > kLatestSecond)
    return Rejected{"it has no \"utc\" second"};
  if (counts == body.end() || !counts->is_number_unsigned() || counts->get<uint64_t>() > kMostCounts)
    return Rejected{"it has no \"counts\""};
  StationSecond s;
  s.counter.version = Text(body, "version");
  if (s.counter.version.empty()) return Rejected{"it does not name the counter's \"version\""};
  s.counter.model = Text(body, "model");
  s.counter.family = Text(body, "family");
  s.counter.serial = Text(body, "serial");
  const std::string_view stem = topic.substr(0, topic.size() - kStateLevel.size());
  s.counter.port = std::string(stem);
  // Without a serial number a counter is known by where it publishes and what it answers.
  const std::string path = Text(body, "device_path");
  s.counter.device_path = s.counter.serial.empty() ? std::string(stem) + (path.empty() ? "" : " " + path) : path;
  s.key = s.counter.serial.empty() ? "topic " + s.counter.device_path + " " + s.counter.version
                                   : "serial " + s.counter.serial;
  s.second = {utc->get<int64_t>(), static_cast<uint32_t>(counts->get<uint64_t>())};
  return s;
}

}  // namespace norvane::collect
