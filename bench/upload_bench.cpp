// A 24-hour outage of the four public maps at 1 Hz, on virtual time against local servers that
// answer as the networks do: how soon each catches up, duplicates, pace, and a kill mid-way.
#include <chrono>
#include <cstdio>
#include <set>

#include "tests/core/upload/upload_rig.h"

namespace {

using norvane::testing::MapServer;
using norvane::testing::UploadRig;
using norvane::upload::MapNetwork;

struct Figures {
  size_t expected = 0, arrived = 0, own_time = 0;
  int duplicates = 0, repeats = 0, too_soon = 0;
  int64_t shortest = 0, caught_up = -1;  // seconds after the return until the last interval of the outage arrived
};

void Run(bool kill, int64_t radmon_interval) {
  const auto wall = std::chrono::steady_clock::now();
  UploadRig rig;
  MapServer radmon(MapNetwork::kRadmon, "pw", rig.Time()), safecast(MapNetwork::kSafecast, "k", rig.Time()),
      osm(MapNetwork::kOpenSenseMap, "t", rig.Time()), community(MapNetwork::kSensorCommunity, "esp", rig.Time());
  MapServer* servers[] = {&radmon, &safecast, &osm, &community};
  const auto setups = [&] {
    return std::vector<norvane::upload::NetworkSetup>{rig.Setup(MapNetwork::kRadmon, radmon, "pw", radmon_interval),
                                                      rig.Setup(MapNetwork::kSafecast, safecast, "k"),
                                                      rig.Setup(MapNetwork::kOpenSenseMap, osm, "t"),
                                                      rig.Setup(MapNetwork::kSensorCommunity, community, "esp")};
  };
  auto scheduler = rig.Scheduler(setups());
  const int64_t down = UploadRig::kStart + 3600, back = down + 86400, end = back + 4 * 3600;
  rig.RunUntil(*scheduler, down);
  for (MapServer* s : servers) s->set_mode(MapServer::Mode::kDown);
  rig.RunUntil(*scheduler, back);
  for (MapServer* s : servers) s->set_mode(MapServer::Mode::kUp);
  if (kill) {
    rig.RunUntil(*scheduler, back + 900);
    scheduler.reset();
    rig.Open();
    scheduler = rig.Scheduler(setups());
  }
  rig.RunUntil(*scheduler, end);

  std::printf("\n%s, radmon.org interval %lld s: %.1f s of wall time\n",
              kill ? "killed 15 min into the catch-up" : "no kill", static_cast<long long>(radmon_interval),
              std::chrono::duration<double>(std::chrono::steady_clock::now() - wall).count());
  std::printf("%-17s %8s %8s %9s %5s %7s %9s %8s %13s\n", "network", "interval", "expected", "own time", "dups",
              "repeats", "too soon", "shortest", "caught up in");
  for (const MapNetwork network : norvane::upload::kMapNetworks) {
    const MapServer& server = *servers[static_cast<size_t>(network)];
    const int64_t length = network == MapNetwork::kRadmon ? radmon_interval : norvane::upload::RulesOf(network).default_interval;
    Figures f;
    std::set<int64_t> expected;  // every interval of the outage and before, by its end
    for (int64_t start = UploadRig::kStart; start + length <= back; start += length) expected.insert(start + length);
    f.expected = norvane::upload::RulesOf(network).takes_time ? expected.size() : 0;
    int64_t last = 0;
    for (const auto& r : server.readings()) {
      ++f.arrived;
      if (expected.count(r.time)) {
        ++f.own_time;
        last = std::max(last, r.arrival);
      }
    }
    f.duplicates = server.duplicates();
    f.repeats = server.repeats();
    f.too_soon = server.too_soon();
    f.shortest = server.shortest_spacing();
    if (norvane::upload::RulesOf(network).takes_time && f.own_time == f.expected) f.caught_up = last - back;
    std::printf("%-17s %7llds %8zu %9zu %5d %7d %9d %7llds %12s\n", std::string(norvane::upload::NetworkName(network)).c_str(),
                static_cast<long long>(length), f.expected, f.own_time, f.duplicates, f.repeats, f.too_soon,
                static_cast<long long>(f.shortest),
                f.caught_up >= 0 ? (std::to_string(f.caught_up / 60) + " min " + std::to_string(f.caught_up % 60) + " s").c_str()
                                 : "-");
  }
  for (const std::string& line : rig.notifier.status())
    if (line.starts_with("Sensor.Community takes only")) std::printf("told: %s\n", line.c_str());
}

}  // namespace

int main() {
  Run(false, 300);
  Run(true, 300);
  Run(false, 1800);
  Run(true, 1800);
}
