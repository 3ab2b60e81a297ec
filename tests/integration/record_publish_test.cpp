// norvane-cli record publishing what it measures: to a real Mosquitto broker and on /metrics.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <map>
#include <thread>

#include <sqlite3.h>

#include "core/common/clock.h"
#include "core/common/text_format.h"
#include "core/common/dose_conversion.h"
#include "core/live/live_engine.h"
#include "core/settings/settings_store.h"
#include "core/store/store.h"
#include "core/store/seconds_writer.h"
#include "core/store/store_time.h"
#include "sim/virtual_line.h"
#include "tests/common/recording_notifier.h"
#include "tests/common/temp_dir.h"
#include "tests/core/publish/http_get.h"
#include "tests/core/publish/mosquitto_broker.h"
#include "tests/integration/child_process.h"

namespace norvane {
namespace {

#ifdef NORVANE_CLI_PATH
using namespace std::chrono_literals;
using testing::ChildCli;

std::vector<std::string> RecordArguments(const testing::TempDir& dir, const std::string& device,
                                         std::vector<std::string> publishing) {
  std::vector<std::string> a{"--settings", (dir / "settings.reg").string(), "--store", (dir / "store.sqlite").string(),
                             "--model",    "ZQT-400",                       "--port",  device,
                             "record",     "--echo",                        "--seconds", "6"};
  a.insert(a.end(), publishing.begin(), publishing.end());
  return a;
}

// The broker asks for a password, which record takes from a systemd credential, as the service
// does, while the command line names only the user.
TEST(RecordPublishing, EverySecondReachesTheBrokerAndTheMetricsAddUpToTheStore) {
  testing::TempDir dir;
  testing::MosquittoBroker broker(dir / "broker", {"station:s3cret"});
  if (!broker.available()) GTEST_SKIP() << "mosquitto is not installed";
  ASSERT_TRUE(broker.Start());
  std::filesystem::create_directories(dir / "credentials");
  testing::WriteAll(dir / "credentials" / "mqtt-password", "s3cret\n");
  testing::Subscriber subscriber(broker.port(), "norvane-test-subscriber", "station", "s3cret");
  ASSERT_TRUE(subscriber.WaitSubscribed(10s));

  ChildCli simulator({"--model", "ZQT-400", "simulate", "--pace", "--cpm", "600"});
  const std::string device = simulator.ReadLine(5s);
  ASSERT_FALSE(device.empty());
  const uint16_t metrics_port = testing::FreePort();
  ChildCli record(RecordArguments(dir, device,
                                  {"--mqtt", broker.url("station"), "--metrics", "127.0.0.1:" + std::to_string(metrics_port)}),
                  {"NORVANE_PORTS=" + device, "CREDENTIALS_DIRECTORY=" + (dir / "credentials").string()});

  SystemClock clock;
  std::map<int64_t, uint32_t> echoed;
  for (std::string line = record.ReadLine(30s); !line.empty(); line = record.ReadLine(30s)) {
    const size_t space = line.find(' ');
    std::string error;
    const std::optional<int64_t> t = store::ParseTime(line.substr(0, space), clock, &error);
    ASSERT_TRUE(t) << line << ": " << error;
    echoed[*t] = static_cast<uint32_t>(std::stoul(line.substr(space + 1)));
  }
  EXPECT_EQ(record.Wait(), 0);
  ASSERT_GE(echoed.size(), 5u);

  // Each measured second once, as a state message carrying its count.
  std::map<int64_t, uint32_t> published;
  ASSERT_TRUE(subscriber.WaitFor(10s, [&](const auto& received) {
    published.clear();
    for (const auto& m : received) {
      if (!m.topic.ends_with("/state")) continue;
      const nlohmann::json state = nlohmann::json::parse(m.payload);
      std::string error;
      const std::optional<int64_t> t = store::ParseTime(state.at("time").get<std::string>(), clock, &error);
      if (t) published[*t] = state.at("counts").get<uint32_t>();
    }
    return published.size() >= echoed.size();
  }));
  EXPECT_EQ(published, echoed);

  // Discovery configs are retained: a consumer that comes later still finds them, the alarm's and
  // the data quality's too.
  const auto configs = testing::LaterDiscovery(broker.port(), 7, "homeassistant/", "station", "s3cret");
  ASSERT_EQ(configs.size(), 7u);
  for (const auto& m : configs) {
    EXPECT_TRUE(m.retained) << m.topic;
    EXPECT_TRUE(nlohmann::json::accept(m.payload)) << m.payload;
  }

  store::Store db(dir / "store.sqlite", store::Store::Access::kReadOnly);
  ASSERT_EQ(db.Counters().size(), 1u);
  uint64_t stored = 0;
  for (const store::Second& s : db.ReadSeconds(db.Counters()[0].id, 0, INT64_MAX)) stored += s.count;
  uint64_t sent = 0;
  for (const auto& [t, count] : echoed) sent += count;
  EXPECT_EQ(stored, sent);
}

// The seconds of the state messages (or of another level's), in the order they arrived.
std::vector<int64_t> StateSeconds(const std::vector<testing::Subscriber::Received>& received,
                                  const std::string& level = "/state") {
  SystemClock clock;
  std::vector<int64_t> seconds;
  for (const auto& m : received) {
    if (!m.topic.ends_with(level)) continue;
    std::string error;
    if (auto t = store::ParseTime(nlohmann::json::parse(m.payload).at("time").get<std::string>(), clock, &error))
      seconds.push_back(*t);
  }
  return seconds;
}

// A calibration twice the default's slope, written where the window's settings dialog puts it.
ConversionTable DoubleCalibration(const std::filesystem::path& settings) {
  ConversionTable table = kDefaultConversionTable;
  SettingsStore store(settings);
  for (size_t i = 0; i < table.size(); ++i) {
    table[i].usv *= 2;
    store.StoreNumber(setting_names::kCalibrationCpm[i], table[i].cpm);
    store.StoreText(setting_names::kCalibrationUsv[i], Format("%.2f", table[i].usv));
  }
  return table;
}

std::optional<int64_t> EchoedSecond(const std::string& line) {
  SystemClock clock;
  std::string error;
  return store::ParseTime(line.substr(0, line.find(' ')), clock, &error);
}

// The broker is stopped while record runs and started again: every second record measured
// reaches the consumer on the history topic, the gap's afterwards, in order, once, with the dose
// rate of the settings' calibration; the state topic only had the live ones. 30 s with NORVANE_LONG_TESTS=1.
TEST(RecordPublishing, ABrokerAwayForAWhileLosesNoSecond) {
  const auto outage = std::chrono::seconds(std::getenv("NORVANE_LONG_TESTS") ? 30 : 5);
  testing::TempDir dir;
  testing::MosquittoBroker broker(dir / "broker");
  if (!broker.available()) GTEST_SKIP() << "mosquitto is not installed";
  ASSERT_TRUE(broker.Start());
  testing::Subscriber subscriber(broker.port());
  ASSERT_TRUE(subscriber.WaitSubscribed(10s));
  const ConversionTable calibration = DoubleCalibration(dir / "settings.reg");

  ChildCli simulator({"--model", "ZQT-400", "simulate", "--pace", "--cpm", "300"});
  const std::string device = simulator.ReadLine(5s);
  ASSERT_FALSE(device.empty());
  ChildCli record({"--settings", (dir / "settings.reg").string(), "--store", (dir / "store.sqlite").string(),
                   "--model", "ZQT-400", "--port", device, "record", "--echo", "--mqtt", broker.url()});
  for (int i = 0; i < 4; ++i) ASSERT_FALSE(record.ReadLine(30s).empty()) << record.said;
  ASSERT_TRUE(subscriber.WaitFor(10s, [](const auto& got) { return StateSeconds(got).size() >= 4; }));
  // Between two seconds, once the last one's acknowledgement is back: a message in flight when the
  // broker goes may rightly come twice (QoS 1 is at least once), which is not what is tested here.
  std::this_thread::sleep_for(200ms);
  broker.Stop();
  const auto stopped = std::chrono::steady_clock::now();
  while (std::chrono::steady_clock::now() - stopped < outage) ASSERT_FALSE(record.ReadLine(30s).empty());
  ASSERT_TRUE(broker.Start());
  for (int i = 0; i < 3; ++i) ASSERT_FALSE(record.ReadLine(30s).empty());

  // Everything echoed so far arrives; after 30 s away the back-off waits at most 32 s more.
  const std::optional<int64_t> last = EchoedSecond(record.printed.back());
  ASSERT_TRUE(last);
  const bool caught_up = subscriber.WaitFor(90s, [&](const auto& got) {
    const std::vector<int64_t> seconds = StateSeconds(got, "/history");
    return !seconds.empty() && seconds.back() >= *last;
  });
  record.Signal(SIGTERM);
  EXPECT_EQ(record.Wait(), 0) << record.said;
  ASSERT_TRUE(caught_up) << record.said;

  std::vector<int64_t> echoed;
  for (const std::string& line : record.printed)
    if (auto t = EchoedSecond(line)) echoed.push_back(*t);
  ASSERT_GE(echoed.size(), static_cast<size_t>(outage.count()) + 7);
  // Seconds echoed while the stop was on its way may not have been sent: those are left out.
  const std::vector<int64_t> published = StateSeconds(subscriber.received(), "/history");
  echoed.erase(std::upper_bound(echoed.begin(), echoed.end(), published.back()), echoed.end());
  EXPECT_EQ(published, echoed);
  EXPECT_LT(StateSeconds(subscriber.received()).size(), published.size()) << "the gap never goes on the state topic";
  for (const auto& m : subscriber.received()) {
    if (!m.topic.ends_with("/state") && !m.topic.ends_with("/history")) continue;
    const nlohmann::json state = nlohmann::json::parse(m.payload);
    const double cpm = state.at("cpm").get<double>();
    EXPECT_NEAR(state.at("usv_h").get<double>(), DoseRateFromCpm(calibration, static_cast<uint32_t>(cpm)), 0.0011)
        << m.payload;
  }
}

// A store replaced by something that can never be a store fails record's writes; /metrics counts
// them. (A store another program holds locked no longer does: the seconds go to the journal.)
TEST(RecordPublishing, FailedStoreWritesShowOnTheMetrics) {
  testing::TempDir dir;
  ChildCli simulator({"--model", "ZQT-400", "simulate", "--pace"});
  const std::string device = simulator.ReadLine(5s);
  ASSERT_FALSE(device.empty());
  const uint16_t port = testing::FreePort();
  ChildCli record({"--settings", (dir / "settings.reg").string(), "--store", (dir / "store.sqlite").string(),
                   "--model", "ZQT-400", "--port", device, "record", "--echo", "--metrics",
                   "127.0.0.1:" + std::to_string(port)});
  for (int i = 0; i < 3; ++i) ASSERT_FALSE(record.ReadLine(30s).empty()) << record.said;
  const auto errors = [&] {
    return testing::FirstSample(testing::HttpGet(port, "/metrics"), "norvane_store_write_errors_total");
  };
  ASSERT_EQ(errors(), 0.0);
  std::filesystem::remove(dir / "store.sqlite");
  std::filesystem::create_directory(dir / "store.sqlite");
  for (int i = 0; i < 4; ++i) ASSERT_FALSE(record.ReadLine(30s).empty());
  std::filesystem::remove(dir / "store.sqlite");
  for (int i = 0; i < 3; ++i) ASSERT_FALSE(record.ReadLine(30s).empty());
  const std::optional<double> failed = errors();
  record.Signal(SIGTERM);
  EXPECT_EQ(record.Wait(), 0) << record.said;
  ASSERT_TRUE(failed);
  EXPECT_GE(*failed, 1.0);
  // Nothing was lost for it but what the deleted store held: the seconds waited in memory.
  store::Store db(dir / "store.sqlite", store::Store::Access::kReadOnly);
  EXPECT_EQ(db.ReadSeconds(db.Counters()[0].id, 0, INT64_MAX).size(), record.printed.size());
}

TEST(RecordPublishing, ABrokerThatIsNotThereIsToldAndLoggingGoesOn) {
  testing::TempDir dir;
  ChildCli simulator({"--model", "ZQT-400", "simulate", "--pace"});
  const std::string device = simulator.ReadLine(5s);
  ASSERT_FALSE(device.empty());
  const std::string closed = "mqtt://127.0.0.1:" + std::to_string(testing::FreePort()) + "/station";
  ChildCli record(RecordArguments(dir, device, {"--mqtt", closed, "--metrics", "not-an-address:x"}),
                  {"NORVANE_PORTS=" + device});
  int seconds = 0;
  while (!record.ReadLine(30s).empty()) ++seconds;
  EXPECT_EQ(record.Wait(), 0);
  EXPECT_GE(seconds, 5);
  const std::string& log = record.said;
  EXPECT_NE(log.find("127.0.0.1"), std::string::npos) << log;
  EXPECT_NE(log.find("not-an-address:x"), std::string::npos) << log;
}
// A TLS link that can never be made (the CA file is no certificate) is told with its reason, every
// second still goes into the store, and a stop ends the service at once.
TEST(RecordPublishing, ATlsFailureIsToldLoggingGoesOnAndAStopEndsIt) {
  testing::TempDir dir;
  testing::MosquittoBroker broker(dir / "broker");
  if (!broker.available()) GTEST_SKIP() << "mosquitto is not installed";
  ASSERT_TRUE(broker.Start());
  testing::WriteAll(dir / "ca.pem", "not a certificate\n");
  ChildCli simulator({"--model", "ZQT-400", "simulate", "--pace"});
  const std::string device = simulator.ReadLine(5s);
  ASSERT_FALSE(device.empty());
  ChildCli record({"--settings", (dir / "settings.reg").string(), "--store", (dir / "store.sqlite").string(), "--model",
                   "ZQT-400", "--port", device, "record", "--echo", "--mqtt",
                   "mqtts://127.0.0.1:" + std::to_string(broker.port()) + "/station", "--mqtt-ca",
                   (dir / "ca.pem").string()},
                  {"NORVANE_PORTS=" + device});
  for (int i = 0; i < 5; ++i) ASSERT_FALSE(record.ReadLine(30s).empty()) << record.said;
  record.Signal(SIGTERM);
  EXPECT_EQ(record.Wait(2s), 0) << record.said;
  EXPECT_NE(record.said.find("TLS"), std::string::npos) << record.said;
  store::Store db(dir / "store.sqlite", store::Store::Access::kReadOnly);
  EXPECT_EQ(db.ReadSeconds(db.Counters()[0].id, 0, INT64_MAX).size(), record.printed.size());
}

// A retained message on `PREFIX/COUNTER/name` that turned ON, and its Home Assistant binary sensor's
// device class, as a subscriber coming after them gets them. Only such a subscriber sees the
// retained flag, so `watcher`, subscribed before they were sent, first waits for them to arrive.
struct KeptSensor {
  nlohmann::json message;
  std::string device_class;
};
std::optional<KeptSensor> KeptOnSensor(uint16_t broker_port, testing::Subscriber& watcher, const std::string& name) {
  const std::string state_end = "/" + name, config_end = "/" + name + "/config";
  const bool arrived = watcher.WaitFor(30s, [&](const auto& received) {
    const auto any = [&](const auto& is) { return std::ranges::any_of(received, is); };
    return any([&](const auto& m) { return m.topic.ends_with(config_end); }) &&
           any([&](const auto& m) { return m.topic.ends_with(state_end) && m.payload.find("\"ON\"") != std::string::npos; });
  });
  if (!arrived) return std::nullopt;
  testing::Subscriber later(broker_port, "norvane-later-" + name);
  KeptSensor kept;
  const bool found = later.WaitFor(10s, [&](const auto& received) {
    for (const auto& m : received) {
      if (!m.retained) continue;
      if (m.topic.ends_with(state_end)) kept.message = nlohmann::json::parse(m.payload);
      if (m.topic.starts_with("homeassistant/binary_sensor/") && m.topic.ends_with(config_end))
        kept.device_class = nlohmann::json::parse(m.payload).at("device_class");
    }
    return !kept.message.is_null() && !kept.device_class.empty();
  });
  if (!found) return std::nullopt;
  return kept;
}

// An alarm from record's fixed dose threshold, which a simulated 600 CPM passes from its first
// second, reaches the log, the --on-alarm command's environment (which holds no password of the
// program's), Home Assistant's binary sensor (discovered, retained, with its values as
// attributes) and /metrics.
TEST(RecordPublishing, AnAlarmReachesTheLogTheCommandTheBrokerAndTheMetrics) {
  testing::TempDir dir;
  testing::MosquittoBroker broker(dir / "broker");
  if (!broker.available()) GTEST_SKIP() << "mosquitto is not installed";
  ASSERT_TRUE(broker.Start());
  testing::Subscriber watcher(broker.port(), "norvane-alarm-watcher");
  ASSERT_TRUE(watcher.WaitSubscribed(10s));
  ChildCli simulator({"--model", "ZQT-400", "simulate", "--pace", "--cpm", "600"});
  const std::string device = simulator.ReadLine(5s);
  ASSERT_FALSE(device.empty());
  const uint16_t metrics_port = testing::FreePort();
  const std::filesystem::path env = dir / "alarm.env";
  ChildCli record({"--settings", (dir / "settings.reg").string(), "--store", (dir / "store.sqlite").string(),
                   "--model", "ZQT-400", "--port", device, "record", "--echo", "--log", (dir / "record.log").string(),
                   "--mqtt", broker.url("station"), "--metrics", "127.0.0.1:" + std::to_string(metrics_port),
                   "--alarm-usv-h", "0.01", "--on-alarm", "env | grep ^NORVANE_ > " + env.string() + ".part && mv " +
                   env.string() + ".part " + env.string()},
                  {"NORVANE_PORTS=" + device, "NORVANE_MQTT_PASSWORD=never-for-the-hook"});
  ASSERT_FALSE(record.ReadLine(30s).empty()) << record.said;
  const auto alarm_metric = [&] {
    return testing::FirstSample(testing::HttpGet(metrics_port, "/metrics"), "norvane_alarm");
  };
  for (int i = 0; i < 20 && alarm_metric() != 1.0; ++i) ASSERT_FALSE(record.ReadLine(30s).empty());
  EXPECT_EQ(alarm_metric(), 1.0);
  EXPECT_EQ(testing::FirstSample(testing::HttpGet(metrics_port, "/metrics"), "norvane_alarms_total"), 1.0);

  const std::optional<KeptSensor> alarm = KeptOnSensor(broker.port(), watcher, "alarm");
  ASSERT_TRUE(alarm);
  EXPECT_EQ(alarm->device_class, "safety");
  EXPECT_EQ(alarm->message.at("window_s"), 0);
  EXPECT_GE(alarm->message.at("usv_h").get<double>(), 0.01);

  for (int i = 0; i < 100 && !std::filesystem::exists(env); ++i) ASSERT_FALSE(record.ReadLine(30s).empty());
  record.Signal(SIGTERM);
  EXPECT_EQ(record.Wait(), 0) << record.said;
  const std::string variables = testing::ReadAll(env);
  EXPECT_NE(variables.find("NORVANE_ALARM=on\n"), std::string::npos) << variables;
  EXPECT_NE(variables.find("NORVANE_ALARM_WINDOW_S=0\n"), std::string::npos) << variables;
  EXPECT_NE(variables.find("NORVANE_COUNTER_MODEL=ZQT-400\n"), std::string::npos) << variables;
  EXPECT_NE(variables.find("NORVANE_COUNTER_PORT="), std::string::npos) << variables;
  EXPECT_EQ(variables.find("never-for-the-hook"), std::string::npos) << variables;
  EXPECT_NE(testing::ReadAll(dir / "record.log").find("Alarm: "), std::string::npos);
}

struct QuietLog final : live::EngineLog {
  void Write(live::Priority, std::string_view) override {}
};

// The value of the sample of `name` whose labels hold `label`, from a /metrics scrape.
std::optional<double> LabelledSample(const std::string& scrape, const std::string& name, const std::string& label) {
  for (size_t at = scrape.find("\n" + name + "{"); at != std::string::npos; at = scrape.find("\n" + name + "{", at + 1)) {
    const size_t end = scrape.find('\n', at + 1);
    const std::string line = scrape.substr(at + 1, end - at - 1);
    if (line.find(label) != std::string::npos) return std::stod(line.substr(line.rfind(' ') + 1));
  }
  return std::nullopt;
}

// A counter whose counts stuck twenty minutes ago (logged in virtual time into the store) is
// recorded on: at its start, record judges the store's last day and publishes the failing rules as
// a retained quality message with Home Assistant's problem sensor, and as /metrics gauges.
TEST(RecordPublishing, AStuckCounterFailsItsDataQualityOnTheBrokerAndTheMetrics) {
  testing::TempDir dir;
  testing::MosquittoBroker broker(dir / "broker");
  if (!broker.available()) GTEST_SKIP() << "mosquitto is not installed";
  ASSERT_TRUE(broker.Start());
  testing::Subscriber watcher(broker.port(), "norvane-quality-watcher");
  ASSERT_TRUE(watcher.WaitSubscribed(10s));
  const sim::SerialNumber serial{0x5a, 0, 0, 0, 0, 0, 0, 0x42};
  {
    testing::RecordingNotifier notifier;
    store::SecondsWriter writer(dir / "store.sqlite", notifier);
    live::VirtualLiveClock clock((std::time(nullptr) - 1210) * 1000);
    sim::VirtualLine line(clock);
    sim::CounterOptions counter;
    counter.cpm = 600;
    counter.serial = serial;
    std::string error;
    ASSERT_TRUE(sim::ParseFault("stuck-counts", counter.faults, &error)) << error;
    line.Plug("/dev/ttyUSB0", counter);
    QuietLog log;
    live::LiveEngine({line, clock, log, &writer, {}, {}}, {.port = "/dev/ttyUSB0", .family = 8, .polls = 1200}).Run();
    ASSERT_TRUE(writer.Flush(10s));
  }
  ChildCli simulator({"--model", "ZQT-400", "simulate", "--pace", "--serial", "5a00000000000042", "--fault", "stuck-counts"});
  const std::string device = simulator.ReadLine(5s);
  ASSERT_FALSE(device.empty());
  const uint16_t metrics_port = testing::FreePort();
  ChildCli record({"--settings", (dir / "settings.reg").string(), "--store", (dir / "store.sqlite").string(),
                   "--model", "ZQT-400", "--port", device, "record", "--echo", "--mqtt", broker.url(), "--metrics",
                   "127.0.0.1:" + std::to_string(metrics_port)},
                  {"NORVANE_PORTS=" + device});
  ASSERT_FALSE(record.ReadLine(30s).empty()) << record.said;

  const std::optional<KeptSensor> kept = KeptOnSensor(broker.port(), watcher, "quality");
  ASSERT_TRUE(kept) << record.said;
  EXPECT_EQ(kept->device_class, "problem");
  const nlohmann::json& quality = kept->message;
  EXPECT_EQ(quality.at("state"), "ON") << quality.dump();
  // Seconds that never change are far steadier than Poisson counts, and one run of a count.
  const nlohmann::json& rules = quality.at("rules");
  EXPECT_EQ(rules.at("dispersion").at("ok"), false) << quality.dump();
  EXPECT_LT(rules.at("dispersion").at("value").get<double>(), 0.1);
  EXPECT_EQ(rules.at("repeat_seconds").at("ok"), false);
  EXPECT_GE(rules.at("repeat_seconds").at("value").get<double>(), 600);
  EXPECT_EQ(rules.at("coverage").at("ok"), true);
  const auto failing = quality.at("failing").get<std::vector<std::string>>();
  EXPECT_NE(std::find(failing.begin(), failing.end(), "dispersion"), failing.end());
  ASSERT_EQ(quality.at("problems").size(), failing.size());

  const std::string scrape = testing::HttpGet(metrics_port, "/metrics");
  EXPECT_EQ(LabelledSample(scrape, "norvane_quality_ok", "rule=\"dispersion\""), 0.0) << scrape;
  EXPECT_EQ(LabelledSample(scrape, "norvane_quality_ok", "rule=\"coverage\""), 1.0) << scrape;
  // The broker's message rounds to thousandths; the metric keeps every digit.
  EXPECT_NEAR(LabelledSample(scrape, "norvane_quality_value", "rule=\"dispersion\"").value_or(-1),
              rules.at("dispersion").at("value").get<double>(), 0.0005);
  record.Signal(SIGTERM);
  EXPECT_EQ(record.Wait(), 0) << record.said;
}
#endif

}  // namespace
}  // namespace norvane
