#include "cli/upload_setup.h"

#include <charconv>

#include "core/store/counter_store.h"
#include "core/upload/upload_station.h"

namespace norvane::cli {
namespace {

using upload::MapNetwork;

struct NetworkOptions {
  MapNetwork network;
  const char* option;       // names the network, with its user, device or box
  const char* secret_file;  // the option naming the key's file
  const char* secret;       // how messages name the key
  const char* variable;
  const char* credential;
};
constexpr NetworkOptions kNetworkOptions[] = {
    {MapNetwork::kRadmon, "--radmon", "--radmon-password-file", "The radmon.org password", "NORVANE_RADMON_PASSWORD",
     "radmon-password"},
    {MapNetwork::kSafecast, "--safecast", "--safecast-key-file", "The Safecast API key", "NORVANE_SAFECAST_KEY",
     "safecast-key"},
    {MapNetwork::kOpenSenseMap, "--opensensemap", "--opensensemap-token-file", "The openSenseMap box token",
     "NORVANE_OPENSENSEMAP_TOKEN", "opensensemap-token"},
    {MapNetwork::kSensorCommunity, "--sensor-community", "--sensor-community-id-file", "The Sensor.Community sensor id",
     "NORVANE_SENSOR_COMMUNITY_ID", "sensor-community-id"},
};

std::optional<double> Number(std::string_view text) {
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<upload::StationPosition> ParsePosition(const std::string& text) {
  std::vector<std::string_view> parts;
  std::string_view rest(text);
  for (size_t comma; (comma = rest.find(',')) != std::string_view::npos; rest.remove_prefix(comma + 1))
    parts.push_back(rest.substr(0, comma));
  parts.push_back(rest);
  if (parts.size() < 2 || parts.size() > 3) return std::nullopt;
  const auto lat = Number(parts[0]), lon = Number(parts[1]);
  const auto height = parts.size() == 3 ? Number(parts[2]) : std::optional<double>(0);
  if (!lat || !lon || !height || *lat < -90 || *lat > 90 || *lon < -180 || *lon > 180) return std::nullopt;
  return upload::StationPosition{*lat, *lon, *height};
}

// "radmon=600": the network and what follows the '='.
std::optional<std::pair<MapNetwork, std::string>> PerNetwork(const std::string& text) {
  const size_t eq = text.find('=');
  if (eq == std::string::npos) return std::nullopt;
  const auto network = upload::NetworkByKey(text.substr(0, eq));
  if (!network) return std::nullopt;
  return std::make_pair(*network, text.substr(eq + 1));
}

}  // namespace

std::optional<std::string> ReadUploadSetups(const ParsedOptions& options, const EnvironmentLookup& environment,
                                            std::vector<upload::NetworkSetup>& setups) {
  std::optional<upload::StationPosition> position;
  if (auto text = options.Value("--position")) {
    position = ParsePosition(*text);
    if (!position) return "--position takes LAT,LON[,HEIGHT] in degrees and metres, not '" + *text + "'";
  }
  for (const NetworkOptions& n : kNetworkOptions) {
    const bool named = options.Has(n.option);
    if (!named) {
      if (options.Has(n.secret_file)) return std::string(n.secret_file) + " needs " + n.option + ", the network it is for.";
      continue;
    }
    upload::NetworkSetup setup;
    setup.network = n.network;
    const std::string value = options.Value(n.option).value_or("");
    if (n.network == MapNetwork::kRadmon) setup.user = value;
    else setup.device = value;
    setup.position = position;
    const SecretSource source{n.secret, options.Value(n.secret_file).value_or(""), n.secret_file, n.variable,
                              n.credential};
    if (auto problem = ReadSecret(source, environment, setup.key)) return problem;
    setups.push_back(std::move(setup));
  }
  const auto setup_of = [&](MapNetwork network) -> upload::NetworkSetup* {
    for (upload::NetworkSetup& s : setups)
      if (s.network == network) return &s;
    return nullptr;
  };
  for (const std::string& text : options.Values("--upload-every")) {
    const auto given = PerNetwork(text);
    int64_t seconds = 0;
    const auto [end, error] =
        given ? std::from_chars(given->second.data(), given->second.data() + given->second.size(), seconds)
              : std::from_chars_result{nullptr, std::errc::invalid_argument};
    if (!given || error != std::errc() || end != given->second.data() + given->second.size() || seconds <= 0)
      return "--upload-every takes NETWORK=SECONDS (radmon, safecast, opensensemap or sensor-community), not '" +
             text + "'";
    if (upload::NetworkSetup* setup = setup_of(given->first)) setup->interval = seconds;
  }
  for (const std::string& text : options.Values("--upload-url")) {
    const auto given = PerNetwork(text);
    if (!given || given->second.empty())
      return "--upload-url takes NETWORK=URL (radmon, safecast, opensensemap or sensor-community), not '" + text + "'";
    if (upload::NetworkSetup* setup = setup_of(given->first)) setup->url = given->second;
  }
  for (const upload::NetworkSetup& setup : setups)
    if (auto problem = upload::SetupProblem(setup)) return problem;
  return std::nullopt;
}

std::optional<std::string> StartUploads(const CommandContext& context, const std::string& holder,
                                        UserNotifier& notifier, std::unique_ptr<LiveSink>& uploads) {
  std::vector<upload::NetworkSetup> setups;
  if (auto problem = ReadUploadSetups(context.options, ProcessEnvironment(), setups)) return problem;
  if (setups.empty()) return std::nullopt;
  // The queues live in a station's store, so nothing waiting is lost to a kill.
  if (context.store_path.empty()) return "Uploads to the public maps need the long-term store: drop --no-store.";
  if (store::IsServerLocation(context.store_path.string()))
    return "Uploads to the public maps keep their queues in a station's SQLite store, not a PostgreSQL server.";
  uploads = std::make_unique<upload::UploadStation>(std::move(setups), context.store_path, holder, notifier);
  return std::nullopt;
}

}  // namespace norvane::cli
