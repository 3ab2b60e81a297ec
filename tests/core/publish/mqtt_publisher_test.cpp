#include "core/publish/mqtt_publisher.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <set>

#include "core/store/seconds_writer.h"
#include "tests/common/recording_notifier.h"
#include "tests/common/temp_dir.h"
#include "tests/core/publish/mosquitto_broker.h"

namespace norvane::publish {
namespace {

using namespace std::chrono_literals;
using testing::MosquittoBroker;
using testing::RecordingNotifier;
using testing::Subscriber;
using testing::TempDir;

constexpr int64_t kT0 = 1'780'000'000;
const store::CounterInfo kInfo{"ZQT-400 V4.2", "1", "ZQT-400", "/dev/ttyUSB0", ""};

// The store and the publisher fed the way the logging service feeds them: each second goes to
// the store writer and to the publisher, with the CPM of the last 60 seconds.
class Station {
 public:
  Station(const std::filesystem::path& store, UserNotifier& notifier) : writer_(store, notifier) {
    // The writer registers the counter with its first second; the publishers need its number now.
    counter_ = {store::Store(store).RegisterCounter(kInfo, kT0), kInfo.model, kInfo.version, kInfo.port};
    handle_ = writer_.AddCounter(kInfo, kT0);
  }
  const LiveCounter& counter() const { return counter_; }
  // The calibration the station's own readings use; the publisher is given the same one.
  ConversionTable conversion = kDefaultConversionTable;

  LiveReading Measure(int64_t utc, uint32_t count) {
    writer_.Append(handle_, utc, count);
    window_.push_back(count);
    if (window_.size() > 60) window_.erase(window_.begin());
    double cpm = 0;
    for (const uint32_t c : window_) cpm += c;
    total_ += count;
    ++seconds_;
    rates_[utc] = DoseRateFromCpm(conversion, static_cast<uint32_t>(cpm));
    return {counter_.store_id, counter_.model, counter_.version, counter_.port, utc, count, cpm,
            rates_[utc], double(total_) * 60 / double(seconds_)};
  }
  // Each measured second's dose rate.
  const std::map<int64_t, double>& rates() const { return rates_; }
  bool Flush() { return writer_.Flush(10s); }

 private:
  store::SecondsWriter writer_;
  store::SecondsWriter::Handle handle_ = 0;
  LiveCounter counter_;
  std::vector<uint32_t> window_;
  std::map<int64_t, double> rates_;
  uint64_t total_ = 0, seconds_ = 0;
};

uint32_t CountAt(int64_t utc) { return static_cast<uint32_t>((utc * 7919) % 23); }

MqttOptions Options(const std::string& url, const std::filesystem::path& store) {
  std::string error;
  MqttOptions options;
  options.target = *ParseMqttUrl(url, &error);
  options.store = store;
  return options;
}

// Seconds carried by the state messages, in the order they arrived.
std::vector<int64_t> StateTimes(const std::vector<Subscriber::Received>& messages, const std::string& topic,
                                std::map<int64_t, nlohmann::json>* bodies = nullptr) {
  std::vector<int64_t> times;
  for (const auto& m : messages) {
    if (m.topic != topic) continue;
    const auto body = nlohmann::json::parse(m.payload);
    std::tm parts{};
    const std::string text = body.at("time");
    strptime(text.c_str(), "%Y-%m-%dT%H:%M:%SZ", &parts);
    times.push_back(timegm(&parts));
    if (bodies) (*bodies)[times.back()] = body;
  }
  return times;
}

class MqttPublisherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!broker_.available()) GTEST_SKIP() << "mosquitto is not installed (scripts/install-deps installs it)";
    ASSERT_TRUE(broker_.Start());
  }
  TempDir dir_;
  MosquittoBroker broker_{dir_ / "broker"};
  RecordingNotifier notifier_;
};

TEST_F(MqttPublisherTest, AnnouncesTheCounterToHomeAssistantAndSendsEachSecond) {
  Station station(dir_ / "store.sqlite", notifier_);
  double last_dose = 0;
  {
    MqttPublisher publisher(Options(broker_.url(), dir_ / "store.sqlite"), notifier_);
    publisher.AddCounter(station.counter());
    for (int64_t t = kT0; t < kT0 + 5; ++t) publisher.Publish(station.Measure(t, CountAt(t)));
    ASSERT_TRUE(publisher.WaitDelivered(10s));
    EXPECT_EQ(publisher.health().acknowledged, 5u);

    // A consumer that comes later finds the configurations retained.
    Subscriber late(broker_.port(), "late-subscriber");
    ASSERT_TRUE(late.WaitFor(5s, [](const auto& got) {
      return std::count_if(got.begin(), got.end(), [](const auto& m) { return m.topic.ends_with("/config"); }) == 5;
    }));
    std::set<std::string> unique_ids, components;
    for (const auto& m : late.received()) {
      if (!m.topic.starts_with("homeassistant/")) continue;
      EXPECT_TRUE(m.retained) << m.topic;
      const auto config = nlohmann::json::parse(m.payload);  // throws on anything but valid JSON
      unique_ids.insert(config.at("unique_id").get<std::string>());
      components.insert(m.topic.substr(14, m.topic.find('/', 14) - 14));
      EXPECT_EQ(config["device"]["model"], "ZQT-400");
      EXPECT_EQ(config["device"]["sw_version"], "ZQT-400 V4.2");
      EXPECT_EQ(config["availability"][0]["topic"], "station/status");
      if (m.topic.ends_with("/cpm/config")) {
        EXPECT_EQ(config["unit_of_measurement"], "CPM");
        EXPECT_EQ(config["state_class"], "measurement");
        EXPECT_EQ(config["state_topic"], "station/zqt-400_1/state");
      } else if (m.topic.ends_with("/dose_rate/config")) {
        EXPECT_EQ(config["unit_of_measurement"], "µSv/h");
        EXPECT_EQ(config["state_class"], "measurement");
        EXPECT_FALSE(config.contains("device_class"));
      } else if (m.topic.ends_with("/counts/config")) {
        EXPECT_EQ(config["state_class"], "total_increasing");
        EXPECT_EQ(config["value_template"], "{{ value_json.total }}");
      } else if (m.topic.ends_with("/dose/config")) {
        EXPECT_EQ(config["state_class"], "total_increasing");
        EXPECT_EQ(config["unit_of_measurement"], "µSv");
        EXPECT_EQ(config["value_template"], "{{ value_json.dose_usv }}");
        EXPECT_EQ(config["state_topic"], "station/zqt-400_1/state");
      } else {
        EXPECT_EQ(config["device_class"], "connectivity");
        EXPECT_EQ(config["state_topic"], "station/zqt-400_1/connected");
      }
    }
    EXPECT_EQ(unique_ids.size(), 5u);
    EXPECT_EQ(components, (std::set<std::string>{"sensor", "binary_sensor"}));
    const auto status = late.On("station/status");
    ASSERT_FALSE(status.empty());
    EXPECT_EQ(status.back().payload, "online");
    EXPECT_TRUE(status.back().retained);
    ASSERT_FALSE(late.On("station/zqt-400_1/connected").empty());
    EXPECT_EQ(late.On("station/zqt-400_1/connected").back().payload, "ON");

    Subscriber live(broker_.port(), "live-subscriber");
    ASSERT_TRUE(live.WaitSubscribed(5s));
    publisher.SetConnection(station.counter().store_id, ConnectionState::kLost);
    for (int64_t t = kT0 + 5; t < kT0 + 8; ++t) publisher.Publish(station.Measure(t, CountAt(t)));
    ASSERT_TRUE(publisher.WaitDelivered(10s));
    ASSERT_TRUE(live.WaitFor(5s, [](const auto& got) { return StateTimes(got, "station/zqt-400_1/state").size() >= 3; }));
    std::map<int64_t, nlohmann::json> bodies;
    EXPECT_EQ(StateTimes(live.received(), "station/zqt-400_1/state", &bodies),
              (std::vector<int64_t>{kT0 + 5, kT0 + 6, kT0 + 7}));
    uint64_t total = 0;
    for (int64_t t = kT0; t < kT0 + 5; ++t) total += CountAt(t);
    for (const auto& [t, body] : bodies) {
      EXPECT_EQ(body["counts"], CountAt(t));
      EXPECT_EQ(body["total"], total += CountAt(t));
      // The dose: each second's dose rate over that second.
      double dose = 0;
      for (const auto& [s, usv_h] : station.rates())
        if (s <= t) dose += usv_h / 3600;
      EXPECT_NEAR(body["dose_usv"].get<double>(), dose, 1e-6) << t;
      last_dose = body["dose_usv"];
      EXPECT_EQ(body["model"], "ZQT-400");
      EXPECT_EQ(body["version"], "ZQT-400 V4.2");
      for (const char* key : {"cpm", "usv_h", "acpm"}) EXPECT_TRUE(body[key].is_number()) << key;
    }
    EXPECT_EQ(live.On("station/zqt-400_1/connected").back().payload, "OFF");
  }
  // Gone cleanly: the program says so itself, since a clean disconnect sends no last will.
  Subscriber after(broker_.port(), "after-subscriber");
  ASSERT_TRUE(after.WaitFor(5s, [](const auto& got) {
    return std::any_of(got.begin(), got.end(), [](const auto& m) { return m.topic == "station/status"; });
  }));
  EXPECT_EQ(after.On("station/status").back().payload, "offline");

  // Started again, it goes on from what the store holds: Home Assistant's Counts and Dose never drop.
  ASSERT_TRUE(station.Flush());
  MqttPublisher restarted(Options(broker_.url(), dir_ / "store.sqlite"), notifier_);
  restarted.AddCounter(station.counter());
  restarted.Publish(station.Measure(kT0 + 8, CountAt(kT0 + 8)));
  ASSERT_TRUE(after.WaitFor(10s, [](const auto& got) { return !StateTimes(got, "station/zqt-400_1/state").empty(); }));
  std::map<int64_t, nlohmann::json> again;
  StateTimes(after.received(), "station/zqt-400_1/state", &again);
  uint64_t total = 0;
  for (int64_t t = kT0; t <= kT0 + 8; ++t) total += CountAt(t);
  EXPECT_EQ(again[kT0 + 8]["total"], total);
  EXPECT_GT(again[kT0 + 8]["dose_usv"].get<double>(), last_dose);
  EXPECT_TRUE(notifier_.messages().empty());
}

// A station that boots before its broker: the first connection is refused, and publishing
// begins once the broker is up.
TEST_F(MqttPublisherTest, ABrokerThatStartsLaterGetsTheSeconds) {
  Station station(dir_ / "store.sqlite", notifier_);
  MosquittoBroker later(dir_ / "later");
  MqttOptions options = Options(later.url(), dir_ / "store.sqlite");
  options.reconnect_longest = 2s;
  MqttPublisher publisher(options, notifier_);
  publisher.AddCounter(station.counter());
  for (int i = 0; i < 100 && notifier_.messages().empty(); ++i) std::this_thread::sleep_for(100ms);
  ASSERT_EQ(notifier_.messages().size(), 1u);
  EXPECT_NE(notifier_.messages()[0].text.find("publishing will keep trying"), std::string::npos);
  for (int64_t t = kT0; t < kT0 + 3; ++t) publisher.Publish(station.Measure(t, CountAt(t)));
  ASSERT_TRUE(later.Start());
  Subscriber consumer(later.port());
  ASSERT_TRUE(consumer.WaitSubscribed(5s));
  publisher.Publish(station.Measure(kT0 + 3, CountAt(kT0 + 3)));
  EXPECT_TRUE(consumer.WaitFor(15s, [](const auto& got) {
    return !StateTimes(got, "station/zqt-400_1/state").empty();
  }));
}

// The broker is stopped while seconds keep coming, more of them than the publisher queues, and
// started again. Home Assistant takes a state message as the present when it arrives: after the
// reconnection it gets the present at once and nothing older than 5 s. The history topic carries
// every second once, in order, the early part of the gap rebuilt from the store.
TEST_F(MqttPublisherTest, ABrokerThatComesBackGetsThePresentLiveAndEverySecondOfTheGapOnceInOrder) {
  const auto outage = std::chrono::seconds(std::getenv("NORVANE_LONG_TESTS") ? 30 : 3);
  const std::string state = "station/zqt-400_1/state", history = "station/zqt-400_1/history";
  Station station(dir_ / "store.sqlite", notifier_);
  Subscriber consumer(broker_.port());
  ASSERT_TRUE(consumer.WaitSubscribed(5s));
  // Home Assistant's client starts afresh at each connection, so what was sent while it was away
  // never reaches it late.
  Subscriber home_assistant(broker_.port(), "home-assistant", {}, {}, false);
  ASSERT_TRUE(home_assistant.WaitSubscribed(5s));
  MqttOptions options = Options(broker_.url(), dir_ / "store.sqlite");
  options.reconnect_first = 1s;
  options.reconnect_longest = 2s;
  // The settings' calibration, not the default, gives the rebuilt seconds their dose rate.
  for (CalibrationPoint& point : options.conversion) point.usv *= 3;
  station.conversion = options.conversion;
  MqttPublisher publisher(options, notifier_);
  publisher.AddCounter(station.counter());

  int64_t t = kT0;
  std::map<int64_t, std::chrono::steady_clock::time_point> measured;
  const auto feed = [&](int n, std::chrono::milliseconds pause) {
    for (int i = 0; i < n; ++i, ++t) {
      const auto before = measured[t] = std::chrono::steady_clock::now();
      publisher.Publish(station.Measure(t, CountAt(t)));
      // The polling never waits for the broker, which is away for a second or more; the bound
      // leaves room for a loaded machine's scheduling.
      EXPECT_LT(std::chrono::steady_clock::now() - before, 500ms);
      std::this_thread::sleep_for(pause);
    }
  };
  feed(20, 20ms);
  // The consumer has acknowledged all it got, so the broker has nothing of ours to deliver to it
  // again after the restart (QoS 1 allows that; it would not be the publisher's duplicate).
  ASSERT_TRUE(publisher.WaitDelivered(10s));
  ASSERT_TRUE(consumer.WaitFor(10s, [&](const auto& got) { return StateTimes(got, state).size() == 20; }));
  std::this_thread::sleep_for(200ms);
  broker_.Stop();
  const auto stopped = std::chrono::steady_clock::now();
  // Some of these go to the library before the publisher sees the broker gone; the states among
  // them must never come at the reconnection.
  feed(static_cast<int>(MqttPublisher::kMaxQueued) + 500, 0ms);
  while (std::chrono::steady_clock::now() - stopped < outage) feed(1, 100ms);
  ASSERT_TRUE(station.Flush());
  ASSERT_TRUE(broker_.Start());
  const auto back = std::chrono::steady_clock::now();
  // The station goes on at its pace until the publisher is back, and a while after.
  for (const auto deadline = back + 30s; publisher.health().connects < 2 && std::chrono::steady_clock::now() < deadline;)
    feed(1, 100ms);
  feed(20, 100ms);

  ASSERT_TRUE(publisher.WaitDelivered(60s));
  const int64_t end = t;
  // QoS 1 delivers at least once: a second the broker took as it stopped, its acknowledgement
  // lost with it, comes again with the library's resend. What the publisher must never do is
  // hand a second over twice; the consumer sees each second first in order on each topic.
  const auto first_seen = [](const std::vector<int64_t>& times) {
    std::vector<int64_t> first;
    std::set<int64_t> seen;
    for (int64_t s : times)
      if (seen.insert(s).second) first.push_back(s);
    return first;
  };
  ASSERT_TRUE(consumer.WaitFor(30s, [&](const auto& got) {
    const auto times = StateTimes(got, history);
    return !times.empty() && times.back() == end - 1;
  }));
  std::map<int64_t, nlohmann::json> bodies;
  const auto every = first_seen(StateTimes(consumer.received(), history, &bodies));
  std::vector<int64_t> expected;
  for (int64_t s = kT0; s < end; ++s) expected.push_back(s);
  EXPECT_EQ(publisher.health().sent, expected.size());
  std::vector<int64_t> out_of_place;
  for (size_t i = 0; i < every.size(); ++i)
    if (i >= expected.size() || every[i] != expected[i]) out_of_place.push_back(int64_t(i));
  ASSERT_EQ(every, expected) << "received " << every.size() << " of " << expected.size() << ", first difference at "
                             << (out_of_place.empty() ? -1 : out_of_place.front()) << ", from the store "
                             << publisher.health().from_store;
  EXPECT_GT(publisher.health().from_store, 0u);
  EXPECT_GE(publisher.health().connects, 2u);

  // Home Assistant: each state that arrived after the reconnection is at most 5 s old, and the
  // last one is the present.
  ASSERT_TRUE(home_assistant.WaitFor(10s, [&](const auto& got) {
    const auto times = StateTimes(got, state);
    return !times.empty() && times.back() == end - 1;
  }));
  size_t after_outage = 0;
  for (const auto& m : home_assistant.On(state)) {
    if (m.arrived < back) continue;
    ++after_outage;
    const int64_t second = nlohmann::json::parse(m.payload).at("utc");
    EXPECT_LE(m.arrived - measured.at(second), 5s) << "second " << second - kT0 << " came "
                                                  << std::chrono::duration<double>(m.arrived - measured.at(second)).count()
                                                  << " s after it was measured";
  }
  EXPECT_GT(after_outage, 0u);

  // Seconds rebuilt from the store carry the same counts and CPM as live ones.
  for (int64_t s = kT0 + 100; s < kT0 + 110; ++s) {
    EXPECT_EQ(bodies[s]["counts"], CountAt(s));
    double cpm = 0;
    for (int64_t w = s - 59; w <= s; ++w) cpm += CountAt(w);
    EXPECT_EQ(bodies[s]["cpm"].get<double>(), cpm) << s;
    EXPECT_NEAR(bodies[s]["usv_h"].get<double>(), DoseRateFromCpm(options.conversion, static_cast<uint32_t>(cpm)), 0.0011);
  }
  EXPECT_TRUE(notifier_.HasStatusContaining("Lost the MQTT broker at 127.0.0.1:"));
}

TEST_F(MqttPublisherTest, WrongCredentialsAreToldOnceAndTheRightOnesWork) {
  TempDir dir;
  MosquittoBroker guarded(dir / "broker", {"station:right-secret"});
  ASSERT_TRUE(guarded.Start());
  Station station(dir / "store.sqlite", notifier_);
  {
    MqttPublisher publisher(Options(guarded.url("station:wrong"), dir / "store.sqlite"), notifier_);
    publisher.AddCounter(station.counter());
    for (int64_t t = kT0; t < kT0 + 3; ++t) publisher.Publish(station.Measure(t, 1));
    EXPECT_FALSE(publisher.WaitDelivered(4s));
    EXPECT_FALSE(publisher.health().connected);
  }
  const auto messages = notifier_.messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].text.find("refused the connection"), std::string::npos) << messages[0].text;
  EXPECT_NE(messages[0].text.find("127.0.0.1:" + std::to_string(guarded.port())), std::string::npos);
  EXPECT_EQ(messages[0].text.find("wrong"), std::string::npos) << "a password is never shown";

  MqttPublisher publisher(Options(guarded.url("station:right-secret"), dir / "store.sqlite"), notifier_);
  publisher.Publish(station.Measure(kT0 + 3, 1));
  EXPECT_TRUE(publisher.WaitDelivered(10s));
}

// Home Assistant forgets the devices over its own restart unless the configs come again when it
// says "online".
TEST_F(MqttPublisherTest, HomeAssistantsRestartGetsTheDiscoveryConfigsAgain) {
  Station station(dir_ / "store.sqlite", notifier_);
  MqttPublisher publisher(Options(broker_.url(), dir_ / "store.sqlite"), notifier_);
  publisher.AddCounter(station.counter());
  publisher.Publish(station.Measure(kT0, 1));
  ASSERT_TRUE(publisher.WaitDelivered(10s));
  Subscriber home_assistant(broker_.port(), "home-assistant");
  ASSERT_TRUE(home_assistant.WaitSubscribed(5s));
  const auto live_configs = [](const std::vector<Subscriber::Received>& got) {
    return std::count_if(got.begin(), got.end(), [](const auto& m) { return m.topic.ends_with("/config") && !m.retained; });
  };
  ASSERT_TRUE(home_assistant.Publish("homeassistant/status", "online"));
  EXPECT_TRUE(home_assistant.WaitFor(10s, [&](const auto& got) { return live_configs(got) == 5; }));
}

TEST_F(MqttPublisherTest, ATlsConnectionToAPlainPortIsToldWithTheLibrarysReason) {
  MqttPublisher publisher(Options("mqtts://127.0.0.1:" + std::to_string(broker_.port()), {}), notifier_);
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (notifier_.messages().empty() && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(20ms);
  ASSERT_FALSE(notifier_.messages().empty()) << "the failure is told within 5 s";
  const std::string text = notifier_.messages()[0].text;
  EXPECT_NE(text.find("Cannot reach the MQTT broker at 127.0.0.1:" + std::to_string(broker_.port()) +
                      " (the TLS handshake failed: OpenSSL"),
            std::string::npos)
      << text;
}

TEST(MqttPublisherUnreachableTest, ARefusedBrokerIsToldAndReadingsStillGoIn) {
  RecordingNotifier notifier;
  const uint16_t nobody = testing::FreePort();
  MqttOptions options;
  std::string error;
  options.target = *ParseMqttUrl("mqtt://127.0.0.1:" + std::to_string(nobody), &error);
  MqttPublisher publisher(options, notifier);
  for (int64_t t = kT0; t < kT0 + 5000; ++t) {
    const auto before = std::chrono::steady_clock::now();
    publisher.Publish({1, "ZQT-400", "V4.2", "/dev/ttyUSB0", t, 3, 180, 1.2, 180});
    ASSERT_LT(std::chrono::steady_clock::now() - before, 500ms);  // no wait for the refused broker
  }
  for (int i = 0; i < 150 && notifier.messages().empty(); ++i) std::this_thread::sleep_for(100ms);
  ASSERT_EQ(notifier.messages().size(), 1u);
  EXPECT_NE(notifier.messages()[0].text.find("Cannot reach the MQTT broker at 127.0.0.1:" + std::to_string(nobody)),
            std::string::npos)
      << notifier.messages()[0].text;
  EXPECT_FALSE(publisher.health().connected);
}

}  // namespace
}  // namespace norvane::publish
