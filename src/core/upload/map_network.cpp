#include "core/upload/map_network.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "core/common/program_version.h"

namespace norvane::upload {
namespace {

// Late intervals go at the pace each network allows: radmon.org drops posts closer than 30 s,
// which it judges by arrival, so one second more covers the clock's rounding.
constexpr NetworkRules kRules[] = {
    {true, 1, 31, 300, "https://radmon.org"},
    {true, 1, 1, 300, "https://api.safecast.org"},
    {true, 2500, 1, 60, "https://api.opensensemap.org"},
    {false, 1, 1, 145, "https://api.sensor.community"},
};

std::string Root(const NetworkSetup& setup) {
  std::string url = setup.url.empty() ? std::string(RulesOf(setup.network).default_url) : setup.url;
  while (url.ends_with('/')) url.pop_back();
  return url;
}

std::string UrlEncode(std::string_view text) {
  std::string out;
  for (const unsigned char c : text) {
    if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
      out += static_cast<char>(c);
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      out += hex;
    }
  }
  return out;
}

// Two decimals at most, none that say nothing: "24", "24.5", "24.33".
std::string Value(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", value);
  std::string out = text;
  while (out.ends_with('0')) out.pop_back();
  if (out.ends_with('.')) out.pop_back();
  return out;
}

std::string Lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
  return out;
}

// The words every network shares: a key refused, a service failing, a request it will never take.
Judgement ByStatus(const HttpAnswer& answer, Verdict otherwise) {
  const std::string why = answer.body.empty() ? std::to_string(answer.status) + " " + answer.status_text
                                              : std::to_string(answer.status) + " " + answer.body.substr(0, 200);
  if (answer.status == 401 || answer.status == 403) return {Verdict::kBadKey, why};
  if (answer.status == 408 || answer.status == 429 || answer.status >= 500) return {Verdict::kDown, why};
  if (answer.status >= 400) return {Verdict::kRefused, why};
  return {otherwise, why};
}

}  // namespace

std::string_view NetworkName(MapNetwork network) {
  switch (network) {
    case MapNetwork::kRadmon: return "radmon.org";
    case MapNetwork::kSafecast: return "Safecast";
    case MapNetwork::kOpenSenseMap: return "openSenseMap";
    case MapNetwork::kSensorCommunity: return "Sensor.Community";
  }
  return "";
}

std::string_view NetworkKey(MapNetwork network) {
  switch (network) {
    case MapNetwork::kRadmon: return "radmon";
    case MapNetwork::kSafecast: return "safecast";
    case MapNetwork::kOpenSenseMap: return "opensensemap";
    case MapNetwork::kSensorCommunity: return "sensor-community";
  }
  return "";
}

std::optional<MapNetwork> NetworkByKey(std::string_view key) {
  for (const MapNetwork network : kMapNetworks)
    if (NetworkKey(network) == key) return network;
  return std::nullopt;
}

const NetworkRules& RulesOf(MapNetwork network) { return kRules[static_cast<size_t>(network)]; }

std::string IsoUtc(int64_t utc) {
  // Days to the civil date (proleptic Gregorian), without the C library's time zone state.
  int64_t days = utc >= 0 ? utc / 86400 : (utc - 86399) / 86400;
  const int64_t second_of_day = utc - days * 86400;
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t doe = days - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t day = doy - (153 * mp + 2) / 5 + 1;
  const int64_t month = mp < 10 ? mp + 3 : mp - 9;
  const int64_t year = yoe + era * 400 + (month <= 2);
  char text[128];
  std::snprintf(text, sizeof text, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lldZ", static_cast<long long>(year),
                static_cast<long long>(month), static_cast<long long>(day),
                static_cast<long long>(second_of_day / 3600), static_cast<long long>(second_of_day / 60 % 60),
                static_cast<long long>(second_of_day % 60));
  return text;
}

HttpRequest BuildRequest(const NetworkSetup& setup, std::span<const UploadInterval> intervals) {
  HttpRequest request;
  request.timeout = setup.timeout;
  const std::string root = Root(setup);
  // A reading stands at the end of the interval it was measured in; it carries that time even when
  // it is fresh, so a slow request does not move it.
  switch (setup.network) {
    case MapNetwork::kRadmon: {
      const UploadInterval& one = intervals.front();
      request.url = root + "/radmon.php?function=submit&user=" + UrlEncode(setup.user) +
                    "&password=" + UrlEncode(setup.key) + "&value=" + Value(one.cpm()) + "&unit=CPM";
      std::string when = IsoUtc(one.end());
      when[10] = ' ';
      when.pop_back();
      request.url += "&datetime=" + UrlEncode(when);
      break;
    }
    case MapNetwork::kSafecast: {
      const UploadInterval& one = intervals.front();
      const StationPosition position = setup.position.value_or(StationPosition{});
      nlohmann::json body = {{"latitude", position.latitude}, {"longitude", position.longitude},
                             {"value", std::stod(Value(one.cpm()))}, {"unit", "cpm"},
                             {"device_id", setup.device}, {"captured_at", IsoUtc(one.end())},
                             {"height", position.height}};
      request.method = "POST";
      request.url = root + "/measurements.json?api_key=" + UrlEncode(setup.key);
      request.headers = {"Content-Type: application/json"};
      request.body = body.dump();
      break;
    }
    case MapNetwork::kOpenSenseMap: {
      const size_t slash = setup.device.find('/');
      const std::string box = setup.device.substr(0, slash);
      const std::string sensor = slash == std::string::npos ? std::string() : setup.device.substr(slash + 1);
      nlohmann::json body = nlohmann::json::array();
      for (const UploadInterval& one : intervals) {
        nlohmann::json value = {{"sensor", sensor}, {"value", Value(one.cpm())}, {"createdAt", IsoUtc(one.end())}};
        if (setup.position)
          value["location"] = {setup.position->longitude, setup.position->latitude, setup.position->height};
        body.push_back(std::move(value));
      }
      request.method = "POST";
      request.url = root + "/boxes/" + UrlEncode(box) + "/data";
      request.headers = {"Content-Type: application/json", "Authorization: " + setup.key};
      request.body = body.dump();
      break;
    }
    case MapNetwork::kSensorCommunity: {
      const UploadInterval& one = intervals.front();
      // The counter does not report its tube's high-voltage pulses: none are counted here.
      nlohmann::json body = {
          {"software_version", "norvane-" + std::string(ProgramVersion())},
          {"sensordatavalues",
           {{{"value_type", "counts_per_minute"}, {"value", Value(one.cpm())}},
            {{"value_type", "hv_pulses"}, {"value", "0"}},
            {{"value_type", "counts"}, {"value", std::to_string(one.counts)}},
            {{"value_type", "sample_time_ms"}, {"value", std::to_string(one.measured * 1000)}}}}};
      request.method = "POST";
      request.url = root + "/v1/push-sensor-data/";
      request.headers = {"Content-Type: application/json", "X-Sensor: " + setup.key, "X-PIN: 19"};
      request.body = body.dump();
      break;
    }
  }
  return request;
}

Judgement Judge(MapNetwork network, const HttpAnswer& answer) {
  if (!answer.delivered) return {Verdict::kDown, answer.error};
  const std::string body = Lower(answer.body);
  switch (network) {
    case MapNetwork::kRadmon:
      // radmon.org answers 200 and says in words what it made of the post.
      if (answer.status == 200) {
        if (body.find("too soon") != std::string::npos) return {Verdict::kTooSoon, answer.body};
        if (body.find("incorrect login") != std::string::npos || body.find("password") != std::string::npos)
          return {Verdict::kBadKey, answer.body};
      }
      return ByStatus(answer, Verdict::kAccepted);
    case MapNetwork::kSafecast:
      // An exact repeat is refused; the network holds the reading, which is all a resend wants.
      if (answer.status == 422 &&
          (body.find("duplicate") != std::string::npos || body.find("already") != std::string::npos))
        return {Verdict::kRepeat, answer.body};
      return ByStatus(answer, Verdict::kAccepted);
    case MapNetwork::kOpenSenseMap:
    case MapNetwork::kSensorCommunity:
      return ByStatus(answer, Verdict::kAccepted);
  }
  return {Verdict::kDown, {}};
}

std::optional<std::string> SetupProblem(const NetworkSetup& setup) {
  const std::string name(NetworkName(setup.network));
  const auto none = [&](const char* what) { return name + " needs " + what + "."; };
  switch (setup.network) {
    case MapNetwork::kRadmon:
      if (setup.user.empty()) return none("the station's user name (--radmon USER)");
      if (setup.key.empty())
        return none("its data password (--radmon-password-file, $NORVANE_RADMON_PASSWORD or the credential "
                    "radmon-password)");
      break;
    case MapNetwork::kSafecast:
      if (setup.key.empty())
        return none("its API key (--safecast-key-file, $NORVANE_SAFECAST_KEY or the credential safecast-key)");
      if (!setup.position) return none("the station's position (--position LAT,LON[,HEIGHT])");
      break;
    case MapNetwork::kOpenSenseMap:
      if (setup.device.find('/') == std::string::npos || setup.device.front() == '/' || setup.device.back() == '/')
        return none("the box and its sensor (--opensensemap BOX/SENSOR)");
      if (setup.key.empty())
        return none("the box's token (--opensensemap-token-file, $NORVANE_OPENSENSEMAP_TOKEN or the credential "
                    "opensensemap-token)");
      break;
    case MapNetwork::kSensorCommunity:
      if (setup.key.empty())
        return none("its sensor id (--sensor-community-id-file, $NORVANE_SENSOR_COMMUNITY_ID or the credential "
                    "sensor-community-id)");
      break;
  }
  if (setup.interval < 0 || (setup.interval > 0 && setup.interval < RulesOf(setup.network).spacing))
    return name + " takes an interval of at least " + std::to_string(RulesOf(setup.network).spacing) + " seconds.";
  return std::nullopt;
}

}  // namespace norvane::upload
