// The window publishing its realtime monitoring, as the settings ask: to a real Mosquitto broker
// and on /metrics, against the simulated counter over a pseudo-terminal.
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QTimer>
#include <map>
#include <nlohmann/json.hpp>

#include "core/store/store.h"
#include "core/store/store_time.h"
#include "tests/core/publish/http_get.h"
#include "tests/core/publish/mosquitto_broker.h"
#include "tests/integration/simulated_line.h"
#include "tests/ui/main_window_fixture.h"
#include "ui/publishing_dialog.h"

namespace norvane {
namespace {

using namespace std::chrono_literals;
using testing::SimulatedLine;

// A busy counter, so that nearly every second counts something.
sim::CounterOptions Busy() {
  sim::CounterOptions options = testing::CounterFor("ZQT-400");
  options.cpm = 600;
  return options;
}

std::string Setting(const std::string& name, const std::string& text) { return "\"" + name + "\"=\"" + text + "\""; }

// norvane_counts_total's value in a scrape, when it is there.
class MainWindowPublishingTest : public MainWindowTest {
 protected:
  void SetUp() override { options_.store_path = dir_ / "store.sqlite"; }

  // "Realtime Monitoring" ticked or unticked, as the user clicks it.
  static void ClickRealtime(CMainViewerDlg& w) { qobject_cast<QCheckBox*>(w.Control(1175))->click(); }
  static bool Recorded(CMainViewerDlg& w, uint32_t seconds) {
    return WaitFor([&] { return w.context().recorder.recorded_seconds() >= seconds; }, 30000);
  }
  static void StopMonitoring(CMainViewerDlg& w) {
    ClickRealtime(w);
    ASSERT_TRUE(WaitFor([&] { return !w.polling() && !w.worker().busy(); }, 10000));
  }

  ViewerOptions options_;
};

TEST_F(MainWindowPublishingTest, MonitoredSecondsReachTheBrokerAndTheMetrics) {
  testing::MosquittoBroker broker(dir_ / "broker");
  if (!broker.available()) GTEST_SKIP() << "mosquitto is not installed";
  ASSERT_TRUE(broker.Start());
  testing::Subscriber subscriber(broker.port());
  ASSERT_TRUE(subscriber.WaitSubscribed(10s));
  SimulatedLine line(Busy());
  ASSERT_TRUE(line.ok());
  const uint16_t metrics_port = testing::FreePort();
  const std::vector<std::string> settings{Setting("MqttUrl", broker.url()),
                                          Setting("MetricsAddress", "127.0.0.1:" + std::to_string(metrics_port))};
  auto w = Connected(line.path(), settings, options_);
  ClickRealtime(*w);
  ASSERT_TRUE(Recorded(*w, 6)) << w->StatusLog().toStdString();

  // Published while monitoring runs, not only when it ends.
  const auto states = [](const std::vector<testing::Subscriber::Received>& received) {
    SystemClock clock;
    std::map<int64_t, uint32_t> published;
    for (const auto& m : received) {
      if (!m.topic.ends_with("/state")) continue;
      const nlohmann::json state = nlohmann::json::parse(m.payload);
      if (auto t = store::ParseTime(state.at("time").get<std::string>(), clock, nullptr))
        published[*t] = state.at("counts").get<uint32_t>();
    }
    return published;
  };
  EXPECT_TRUE(subscriber.WaitFor(10s, [&](const auto& received) { return states(received).size() >= 3; }));
  const std::optional<double> live =
      testing::FirstSample(testing::HttpGet(metrics_port, "/metrics"), "norvane_counts_total");
  ASSERT_TRUE(live);
  EXPECT_GT(*live, 0u);
  StopMonitoring(*w);

  // Every recorded second once, with its count, in the order the window recorded them.
  const auto measured = w->context().data.realtime.measured();
  const std::vector<uint32_t> recorded(measured.begin(), measured.end());
  std::map<int64_t, uint32_t> published;
  ASSERT_TRUE(subscriber.WaitFor(10s, [&](const auto& received) {
    published = states(received);
    return published.size() >= recorded.size();
  })) << published.size() << " of " << recorded.size();
  std::vector<uint32_t> counts;
  for (const auto& [t, count] : published) counts.push_back(count);
  EXPECT_EQ(counts, recorded);
  uint64_t total = 0;
  for (uint32_t count : recorded) total += count;
  EXPECT_GT(total, 0u);

  // The link: on while monitoring, off once it stopped.
  std::vector<std::string> link;
  for (const auto& m : subscriber.received())
    if (m.topic.ends_with("/connected")) link.push_back(m.payload);
  ASSERT_FALSE(link.empty());
  EXPECT_EQ(link.front(), "ON");
  EXPECT_TRUE(WaitFor([&] {
    const auto received = subscriber.received();
    for (auto m = received.rbegin(); m != received.rend(); ++m)
      if (m->topic.ends_with("/connected")) return m->payload == "OFF";
    return false;
  }, 10000));

  // /metrics counts what the window measured, and counted up while it ran.
  const auto counts_total = [&] {
    return testing::FirstSample(testing::HttpGet(metrics_port, "/metrics"), "norvane_counts_total");
  };
  std::optional<double> scraped;
  EXPECT_TRUE(WaitFor([&] { return (scraped = counts_total()) == total; }, 10000))
      << (scraped ? *scraped : 0) << " scraped, " << total << " measured";
  EXPECT_LE(*live, total);

  // Discovery configs are retained: Home Assistant, started later, still finds the counter, its
  // data-quality sensor included.
  const auto configs = testing::LaterDiscovery(broker.port(), 6);
  ASSERT_EQ(configs.size(), 6u);
  for (const auto& m : configs) EXPECT_TRUE(m.retained) << m.topic;

  // The broker got the same seconds the store did.
  w.reset();
  store::Store db(dir_ / "store.sqlite", store::Store::Access::kReadOnly);
  ASSERT_EQ(db.Counters().size(), 1u);
  std::map<int64_t, uint32_t> stored;
  for (const store::Second& s : db.ReadSeconds(db.Counters()[0].id, 0, INT64_MAX)) stored[s.time] = s.count;
  EXPECT_EQ(stored, published);
  EXPECT_TRUE(messages_.filter("MQTT").isEmpty()) << messages_.join("|").toStdString();
  EXPECT_TRUE(messages_.filter("metrics").isEmpty()) << messages_.join("|").toStdString();
}

TEST_F(MainWindowPublishingTest, PublishingThatCannotWorkIsToldOnceAndMonitoringGoesOn) {
  SimulatedLine line(Busy());
  ASSERT_TRUE(line.ok());
  {
    auto w = Connected(line.path(), {Setting("MqttUrl", "htp://broker")}, options_);
    ClickRealtime(*w);
    ASSERT_TRUE(Recorded(*w, 3)) << w->StatusLog().toStdString();
    const QStringList told = messages_.filter("MQTT");
    ASSERT_EQ(told.size(), 1) << messages_.join("|").toStdString();
    EXPECT_TRUE(told[0].contains("\"htp://broker\" is not usable")) << told[0].toStdString();
    EXPECT_TRUE(Recorded(*w, 6)) << "monitoring stopped after the message";
    EXPECT_EQ(messages_.filter("MQTT").size(), 1);
    StopMonitoring(*w);
  }

  // Without the store the publishers could not name the counter: said once, and nothing served.
  messages_.clear();
  const uint16_t metrics_port = testing::FreePort();
  auto w = Connected(line.path(),
                     {"\"LongTermStore\"=dword:00000000", Setting("MqttUrl", "mqtt://127.0.0.1:1/station"),
                      Setting("MetricsAddress", "127.0.0.1:" + std::to_string(metrics_port))},
                     options_);
  ClickRealtime(*w);
  ASSERT_TRUE(Recorded(*w, 3)) << w->StatusLog().toStdString();
  const QStringList told = messages_.filter("MQTT");
  ASSERT_EQ(told.size(), 1) << messages_.join("|").toStdString();
  EXPECT_TRUE(told[0].contains("long-term store") && told[0].contains("LongTermStore")) << told[0].toStdString();
  EXPECT_FALSE(testing::Accepts(metrics_port));
}

// Set up in "Publishing..." while monitoring runs: the seconds go out once OK is pressed, and the
// log says the broker took the connection.
TEST_F(MainWindowPublishingTest, PublishingSetUpWhileMonitoringStartsOnOk) {
  testing::MosquittoBroker broker(dir_ / "broker");
  if (!broker.available()) GTEST_SKIP() << "mosquitto is not installed";
  ASSERT_TRUE(broker.Start());
  testing::Subscriber subscriber(broker.port());
  ASSERT_TRUE(subscriber.WaitSubscribed(10s));
  SimulatedLine line(Busy());
  ASSERT_TRUE(line.ok());
  auto w = Connected(line.path(), {}, options_);
  ClickRealtime(*w);
  ASSERT_TRUE(Recorded(*w, 2)) << w->StatusLog().toStdString();

  QTimer::singleShot(0, w.get(), [&] {
    auto* dialog = qobject_cast<PublishingDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    dialog->address_edit()->setText(QString::fromStdString(broker.url()));
    dialog->accept();
  });
  w->Command(CMainViewerDlg::kPublishingCommand)->trigger();
  EXPECT_TRUE(subscriber.WaitFor(15s, [](const auto& received) {
    return std::any_of(received.begin(), received.end(), [](const auto& m) { return m.topic.ends_with("/state"); });
  }));
  EXPECT_TRUE(WaitFor([&] { return w->StatusLog().contains("Publishing to the MQTT broker at"); }, 10000))
      << w->StatusLog().toStdString();
  EXPECT_TRUE(w->polling());
  StopMonitoring(*w);
}

}  // namespace
}  // namespace norvane
