#include "core/collect/station_message.h"

#include <nlohmann/json.hpp>

#include <algorithm>

namespace norvane::collect {
namespace {

// Live seconds and the ones a station sends late: every second of a station is on one of them.
constexpr std::string_view kStateLevel = "/state";
constexpr std::string_view kHistoryLevel = "/history";
// No counter of the family was made before this, and a station's clock is set from the network:
// a second before it, or more than a few minutes after the centre's clock, is no clock at all.
constexpr int64_t kEarliestSecond = 1'262'304'000;  // 2010-01-01
constexpr int64_t kMostAhead = 300;
// A counter answers its count of a second in at most 16 bits.
constexpr uint64_t kMostCounts = 0xFFFF;
// Topic levels and texts such as a version reply or a serial are short lines.
constexpr size_t kMostTopicBytes = 256;
constexpr size_t kMostTextBytes = 128;

// No control character (an escape sequence, a line break) reaches the store or the log.
bool Printable(std::string_view text) {
  return std::none_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
}

// A text field: empty when absent, nullopt when it is too long, holds control characters or is
// not text.
std::optional<std::string> Text(const nlohmann::json& body, const char* field) {
  const auto it = body.find(field);
  if (it == body.end() || it->is_null()) return std::string();
  if (!it->is_string()) return std::nullopt;
  const std::string& text = it->get_ref<const std::string&>();
  if (text.size() > kMostTextBytes || !Printable(text)) return std::nullopt;
  return text;
}

}  // namespace

StationMessage ParseStationMessage(std::string_view prefix, std::string_view topic, std::string_view payload,
                                   int64_t now) {
  if (!topic.starts_with(prefix) || topic.size() <= prefix.size() || topic[prefix.size()] != '/')
    return Rejected{"its topic is not below " + std::string(prefix)};
  const std::string_view level = topic.ends_with(kStateLevel)     ? kStateLevel
                                 : topic.ends_with(kHistoryLevel) ? kHistoryLevel
                                                                  : std::string_view();
  if (level.empty()) {
    const std::string_view last = topic.substr(topic.rfind('/') + 1);
    if (last == "status" || last == "connected" || last == "config" || last == "alarm" || last == "quality")
      return NotData{};
    return Rejected{"its topic is no station's state"};
  }
  if (topic.size() > kMostTopicBytes || !Printable(topic))
    return Rejected{"its topic is longer than " + std::to_string(kMostTopicBytes) + " bytes or holds control characters"};
  if (payload.size() > kMostMessageBytes)
    return Rejected{"it is longer than " + std::to_string(kMostMessageBytes) + " bytes"};
  const nlohmann::json body = nlohmann::json::parse(payload, nullptr, false);
  if (body.is_discarded() || !body.is_object()) return Rejected{"it is not a JSON object"};
  const auto utc = body.find("utc");
  const auto counts = body.find("counts");
  if (utc == body.end() || !utc->is_number_integer()) return Rejected{"it has no \"utc\" second"};
  if (utc->get<int64_t>() < kEarliestSecond || utc->get<int64_t>() > now + kMostAhead)
    return Rejected{"its \"utc\" second is before 2010 or ahead of the centre's clock"};
  if (counts == body.end() || !counts->is_number_unsigned() || counts->get<uint64_t>() > kMostCounts)
    return Rejected{"it has no \"counts\" a counter can count in a second"};
  StationSecond s;
  const auto version = Text(body, "version"), model = Text(body, "model"), family = Text(body, "family"),
             serial = Text(body, "serial"), path = Text(body, "device_path");
  if (!version || !model || !family || !serial || !path)
    return Rejected{"a text of it is longer than " + std::to_string(kMostTextBytes) +
                    " bytes, holds control characters or is no text"};
  if (version->empty()) return Rejected{"it does not name the counter's \"version\""};
  s.counter.version = *version;
  s.counter.model = *model;
  s.counter.family = *family;
  s.counter.serial = *serial;
  // A second on either topic is the same counter's, so a second given on both is stored once.
  const std::string_view stem = topic.substr(0, topic.size() - level.size());
  s.counter.port = std::string(stem);
  // The station's own path of the counter, or where it publishes for one that has no serial.
  s.counter.device_path = s.counter.serial.empty() ? std::string(stem) + (path->empty() ? "" : " " + *path) : *path;
  s.key = std::string(stem) + '\n' + s.counter.serial;
  s.second = {utc->get<int64_t>(), static_cast<uint32_t>(counts->get<uint64_t>())};
  return s;
}

}  // namespace norvane::collect
