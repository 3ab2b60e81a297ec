// What Home Assistant records and what collect stores after a broker outage of a 1 Hz station.
//
// A station (its store, its MQTT publisher) publishes to a real Mosquitto on 127.0.0.1, where a
// subscriber that behaves as Home Assistant (each state message is the present when it arrives,
// the last one wins) and a collector into a store of its own listen. The broker is stopped for
// OUTAGE seconds of the station's time: the station's seconds before the last 10 of the outage
// are measured faster than real time (the outage is shortened), the last 10 and all others at
// 1 Hz in real time, so that when the broker returns the station stands in the present, as it
// would after a real outage. Prints the oldest state the Home Assistant subscriber recorded after
// the reconnection, in real seconds since the second was handed in and in station seconds behind
// the newest one, and whether the collector stored every second once.
// Usage: ha_outage [OUTAGE_SECONDS] (default 7200)
#include <mosquitto.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/collect/collector.h"
#include "core/publish/mqtt_publisher.h"
#include "core/store/seconds_writer.h"
#include "core/store/store.h"
#include "tests/common/temp_dir.h"
#include "tests/core/publish/mosquitto_broker.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using norvane::testing::MosquittoBroker;

class QuietNotifier final : public norvane::UserNotifier {
 public:
  void Message(std::string_view text, std::string_view) override { std::fprintf(stderr, "%.*s\n", int(text.size()), text.data()); }
  void Status(std::string_view) override {}
  bool Ask(std::string_view, std::string_view) override { return false; }
};

// Home Assistant's view: each state as it arrives, stamped with its arrival; a clean session,
// so nothing sent while it was away reaches it late.
struct HomeAssistant {
  struct State {
    int64_t utc;
    Clock::time_point arrived;
  };
  std::mutex mutex;
  std::vector<State> states;
  // The history topic, which Home Assistant does not read: when each second arrived there.
  std::map<int64_t, Clock::time_point> history;
};

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

}  // namespace

int main(int argc, char** argv) {
  const int64_t outage = argc > 1 ? std::stoll(argv[1]) : 7200;
  if (outage < 20) {
    std::fprintf(stderr, "usage: ha_outage [OUTAGE_SECONDS >= 20]\n");
    return 2;
  }
  constexpr int64_t kT0 = 1'780'000'000;
  constexpr int64_t kRealBefore = 10, kRealTail = 10, kRealAfter = 20;
  norvane::testing::TempDir dir;
  MosquittoBroker broker(dir / "broker");
  if (!broker.available() || !broker.Start()) {
    std::fprintf(stderr, "mosquitto cannot be started\n");
    return 1;
  }
  QuietNotifier notifier;
  std::string error;
  const auto target = *norvane::publish::ParseMqttUrl(broker.url(), &error);

  // The centre.
  norvane::store::Store centre(dir / "centre.sqlite");
  norvane::collect::CollectOptions collect;
  collect.target = target;
  collect.journal_dir = dir / "journal";
  norvane::collect::Collector collector(collect, centre, notifier);

  HomeAssistant ha;
  mosquitto_lib_init();
  mosquitto* client = mosquitto_new("ha-outage-home-assistant", true, &ha);
  mosquitto_connect_callback_set(client, [](mosquitto* c, void*, int rc) {
    if (rc == 0) mosquitto_subscribe(c, nullptr, "station/#", 1);
  });
  mosquitto_message_callback_set(client, [](mosquitto*, void* data, const mosquitto_message* m) {
    const auto arrived = Clock::now();
    auto* me = static_cast<HomeAssistant*>(data);
    const std::string topic = m->topic;
    std::lock_guard lock(me->mutex);
    if (!topic.ends_with("/state") && !topic.ends_with("/history")) return;
    const auto body = nlohmann::json::parse(std::string(static_cast<const char*>(m->payload), m->payloadlen));
    if (topic.ends_with("/history")) me->history.try_emplace(body.at("utc").get<int64_t>(), arrived);
    else me->states.push_back({body.at("utc").get<int64_t>(), arrived});
  });
  mosquitto_reconnect_delay_set(client, 1, 1, false);
  mosquitto_connect(client, "127.0.0.1", broker.port(), 30);
  mosquitto_loop_start(client);

  // The station.
  const norvane::store::CounterInfo info{"ZQT-400 V4.2", "1", "ZQT-400", "/dev/ttyUSB0", "", "5e1", "/dev/ttyUSB0"};
  norvane::store::SecondsWriter writer(dir / "station.sqlite", notifier);
  const norvane::publish::LiveCounter counter{norvane::store::Store(dir / "station.sqlite").RegisterCounter(info, kT0),
                                              info.model, info.version, info.port, "5e1", "/dev/ttyUSB0", "1"};
  const auto handle = writer.AddCounter(info, kT0);
  norvane::publish::MqttOptions options;
  options.target = target;
  options.store = dir / "station.sqlite";
  options.reconnect_longest = 2s;
  norvane::publish::MqttPublisher publisher(options, notifier);
  publisher.AddCounter(counter);

  std::mutex handed_mutex;
  std::map<int64_t, Clock::time_point> handed;
  std::vector<uint32_t> window;
  int64_t t = kT0;
  const auto measure = [&](int64_t n, Clock::duration pause) {
    for (int64_t i = 0; i < n; ++i, ++t) {
      const uint32_t count = static_cast<uint32_t>((t * 7919) % 5);
      writer.Append(handle, t, count);
      window.push_back(count);
      if (window.size() > 60) window.erase(window.begin());
      uint32_t cpm = 0;
      for (const uint32_t c : window) cpm += c;
      {
        std::lock_guard lock(handed_mutex);
        handed[t] = Clock::now();
      }
      publisher.Publish({counter.store_id, counter.model, counter.version, counter.port, t, count, double(cpm),
                         norvane::DoseRateFromCpm(options.conversion, cpm), double(cpm)});
      std::this_thread::sleep_for(pause);
    }
  };

  measure(kRealBefore, 1s);
  if (!publisher.WaitDelivered(10s)) std::fprintf(stderr, "the first seconds were not delivered\n");
  broker.Stop();
  const auto fast_from = Clock::now();
  measure(outage - kRealTail, 0s);
  const double fast = Seconds(Clock::now() - fast_from);
  measure(kRealTail, 1s);
  if (!writer.Flush(60s)) std::fprintf(stderr, "the station's store did not take every second\n");
  if (!broker.Start()) {
    std::fprintf(stderr, "mosquitto did not start again\n");
    return 1;
  }
  const auto back = Clock::now();
  const int64_t last_missed = t - 1;
  measure(kRealAfter, 1s);
  const int64_t end = t;
  if (!publisher.WaitDelivered(600s)) std::fprintf(stderr, "the publisher did not deliver everything\n");
  const auto delivered = Clock::now();

  const int64_t expected = end - kT0;
  uint64_t stored = 0;
  const auto deadline = Clock::now() + 600s;
  while (Clock::now() < deadline) {
    stored = collector.health().stored;
    if (stored >= uint64_t(expected)) break;
    std::this_thread::sleep_for(100ms);
  }
  const auto collected = Clock::now();
  collector.Stop();
  const norvane::collect::CollectHealth health = collector.health();

  double oldest_real = 0;
  int64_t oldest_station = 0, after_back = 0, last = 0;
  {
    std::lock_guard lock(ha.mutex);
    std::lock_guard handed_lock(handed_mutex);
    for (const auto& s : ha.states) {
      last = s.utc;
      if (s.arrived < back) continue;
      ++after_back;
      oldest_real = std::max(oldest_real, Seconds(s.arrived - handed.at(s.utc)));
      // The newest second the station had measured when this state arrived.
      int64_t present = s.utc;
      for (auto it = handed.upper_bound(s.utc); it != handed.end() && it->second <= s.arrived; ++it) present = it->first;
      oldest_station = std::max(oldest_station, present - s.utc);
    }
  }
  const auto ids = centre.Counters();
  bool once = ids.size() == 1;
  if (once) {
    const auto seconds = centre.ReadSeconds(ids.front().id, kT0 - 10, end + 10);
    once = int64_t(seconds.size()) == expected;
    for (size_t i = 0; once && i < seconds.size(); ++i) once = seconds[i].time == kT0 + int64_t(i);
  }
  std::printf("outage: %lld station seconds (%lld measured in %.1f s of real time, the last %lld at 1 Hz)\n",
              static_cast<long long>(outage), static_cast<long long>(outage - kRealTail), fast,
              static_cast<long long>(kRealTail));
  std::printf("home assistant: %lld states after the reconnection, oldest %.2f s after it was handed in, %lld station "
              "seconds behind the present; last state second %lld of %lld\n",
              static_cast<long long>(after_back), oldest_real, static_cast<long long>(oldest_station),
              static_cast<long long>(last - kT0), static_cast<long long>(end - 1 - kT0));
  double caught_up = -1;
  {
    std::lock_guard lock(ha.mutex);
    if (const auto it = ha.history.find(last_missed); it != ha.history.end()) caught_up = Seconds(it->second - back);
  }
  std::printf("history topic: the outage's last second arrived %.1f s after the broker returned; publisher: %llu "
              "sent, %llu rebuilt from the store, all acknowledged when the station stopped, %.1f s after the broker "
              "returned\n",
              caught_up, static_cast<unsigned long long>(publisher.health().sent),
              static_cast<unsigned long long>(publisher.health().from_store), Seconds(delivered - back));
  std::printf("collect: %llu of %lld seconds stored (%llu received, %llu repeats), every second once: %s (looked at "
              "%.1f s after the broker returned)\n",
              static_cast<unsigned long long>(health.stored), static_cast<long long>(expected),
              static_cast<unsigned long long>(health.received), static_cast<unsigned long long>(health.repeated),
              once ? "yes" : "NO", Seconds(collected - back));
  mosquitto_disconnect(client);
  mosquitto_loop_stop(client, false);
  mosquitto_destroy(client);
  mosquitto_lib_cleanup();
  return once && oldest_real <= 5 ? 0 : 1;
}
