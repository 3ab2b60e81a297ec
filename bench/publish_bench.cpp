// Delay from a reading handed to the MQTT publisher to the state message reaching a subscriber.
#include <mosquitto.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/publish/mqtt_publisher.h"

namespace {

using Clock = std::chrono::steady_clock;

class PrintingNotifier final : public norvane::UserNotifier {
 public:
  void Message(std::string_view text, std::string_view) override { std::fprintf(stderr, "%.*s\n", int(text.size()), text.data()); }
  void Status(std::string_view) override {}
  bool Ask(std::string_view, std::string_view) override { return false; }
};

struct Timings {
  std::mutex mutex;
  std::map<int64_t, Clock::time_point> handed_in;
  std::vector<double> delays_ms;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: publish_bench PORT READINGS INTERVAL_MS\n");
    return 2;
  }
  const int port = std::stoi(argv[1]);
  const int readings = std::stoi(argv[2]);
  const auto interval = std::chrono::milliseconds(std::stoi(argv[3]));
  Timings timings;

  mosquitto_lib_init();
  mosquitto* subscriber = mosquitto_new("publish-bench-subscriber", true, &timings);
  mosquitto_message_callback_set(subscriber, [](mosquitto*, void* data, const mosquitto_message* m) {
    const auto arrived = Clock::now();
    auto* t = static_cast<Timings*>(data);
    if (!std::string(m->topic).ends_with("/state")) return;
    const auto body = nlohmann::json::parse(std::string(static_cast<const char*>(m->payload), m->payloadlen));
    std::tm parts{};
    strptime(body.at("time").get<std::string>().c_str(), "%Y-%m-%dT%H:%M:%SZ", &parts);
    std::lock_guard lock(t->mutex);
    const auto sent = t->handed_in.find(timegm(&parts));
    if (sent != t->handed_in.end())
      t->delays_ms.push_back(std::chrono::duration<double, std::milli>(arrived - sent->second).count());
  });
  mosquitto_connect(subscriber, "127.0.0.1", port, 30);
  mosquitto_subscribe(subscriber, nullptr, "bench/+/state", 1);
  mosquitto_loop_start(subscriber);

  PrintingNotifier notifier;
  norvane::publish::MqttOptions options;
  std::string error;
  options.target = *norvane::publish::ParseMqttUrl("mqtt://127.0.0.1:" + std::to_string(port) + "/bench", &error);
  rusage before{};
  {
    norvane::publish::MqttPublisher publisher(options, notifier);
    publisher.AddCounter({1, "ZQT-400", "ZQT-400 V4.2", "/dev/ttyUSB0"});
    std::this_thread::sleep_for(std::chrono::seconds(1));
    getrusage(RUSAGE_SELF, &before);
    const int64_t t0 = std::time(nullptr);
    auto next = Clock::now();
    for (int i = 0; i < readings; ++i) {
      next += interval;
      std::this_thread::sleep_until(next);
      {
        std::lock_guard lock(timings.mutex);
        timings.handed_in[t0 + i] = Clock::now();
      }
      publisher.Publish({1, "ZQT-400", "ZQT-400 V4.2", "/dev/ttyUSB0", t0 + i, 3, 180, 1.17, 178.5});
    }
    publisher.WaitDelivered(std::chrono::seconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
  }
  rusage after{};
  getrusage(RUSAGE_SELF, &after);
  mosquitto_disconnect(subscriber);
  mosquitto_loop_stop(subscriber, false);
  mosquitto_destroy(subscriber);
  mosquitto_lib_cleanup();

  std::vector<double> delays = timings.delays_ms;
  std::sort(delays.begin(), delays.end());
  if (delays.empty()) {
    std::fprintf(stderr, "no state message arrived\n");
    return 1;
  }
  const auto at = [&](double q) { return delays[std::min(delays.size() - 1, size_t(q * double(delays.size())))]; };
  const double cpu = double(after.ru_utime.tv_sec - before.ru_utime.tv_sec + after.ru_stime.tv_sec - before.ru_stime.tv_sec) +
                     double(after.ru_utime.tv_usec - before.ru_utime.tv_usec + after.ru_stime.tv_usec - before.ru_stime.tv_usec) / 1e6;
  std::printf("readings %d, received %zu\n", readings, delays.size());
  std::printf("delay ms: median %.2f, p99 %.2f, max %.2f\n", at(0.5), at(0.99), delays.back());
  std::printf("CPU of publisher and subscriber together: %.2f s over %.0f s\n", cpu,
              double(readings) * double(interval.count()) / 1000.0);
  return delays.size() == size_t(readings) ? 0 : 1;
}
