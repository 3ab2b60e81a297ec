#include "core/publish/metrics_server.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <nlohmann/json.hpp>

#include "core/store/seconds_writer.h"
#include "tests/common/recording_notifier.h"
#include "tests/common/temp_dir.h"
#include "tests/core/publish/http_get.h"

namespace norvane::publish {
namespace {

using namespace std::chrono_literals;
using testing::HttpGet;
using testing::RecordingNotifier;
using testing::TempDir;

constexpr int64_t kT0 = 1'780'000'000;
const store::CounterInfo kInfo{"ZQT-400 V4.2", "1", "ZQT-400", "/dev/ttyUSB0", ""};
const store::CounterInfo kOther{"ZQT-700 V1.0", "2", "ZQT-700", "/dev/ttyUSB1", ""};

// Parses an exposition with the Prometheus Python client's parser (its OpenMetrics one when
// asked), which rejects what Prometheus would; gives {"name{label=value,...}": value} for every
// sample, plus "#type name" entries.
std::optional<nlohmann::json> ParseWithPrometheus(const TempDir& dir, const std::string& exposition,
                                                  bool open_metrics = false) {
  testing::WriteAll(dir / "scrape.txt", exposition);
  testing::WriteAll(dir / "parse.py", std::string(open_metrics ? "from prometheus_client.openmetrics.parser"
                                                               : "from prometheus_client.parser") +
                                          R"( import text_string_to_metric_families
import json, sys
out = {}
for family in text_string_to_metric_families(open(sys.argv[1]).read()):
    out["#type " + family.name] = family.type
    for s in family.samples:
        out[s.name + "{" + ",".join(k + "=" + v for k, v in sorted(s.labels.items())) + "}"] = s.value
print(json.dumps(out))
)");
  const std::string command = "/usr/bin/python3 " + (dir / "parse.py").string() + " " + (dir / "scrape.txt").string();
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return std::nullopt;
  std::string output;
  char chunk[4096];
  for (size_t n; (n = fread(chunk, 1, sizeof chunk, pipe)) > 0;) output.append(chunk, n);
  if (pclose(pipe) != 0) return std::nullopt;
  return nlohmann::json::parse(output);
}

bool PrometheusParserInstalled() {
  return std::system("/usr/bin/python3 -c 'import prometheus_client.parser' 2>/dev/null") == 0;
}

std::string Labels(store::CounterId id, const store::CounterInfo& info) {
  return "{counter=" + std::to_string(id) + ",model=" + info.model + ",port=" + info.port + "}";
}

uint32_t CountAt(int64_t utc) { return static_cast<uint32_t>((utc * 31) % 17); }

TEST(MetricsServerTest, ScrapesParseAndCountsTotalIsTheStoresSumWhileRecording) {
  if (!PrometheusParserInstalled())
    GTEST_SKIP() << "python3-prometheus-client is not installed (scripts/install-deps installs it)";
  TempDir dir;
  RecordingNotifier notifier;
  const auto path = dir / "store.sqlite";
  store::CounterId id = 0, other = 0;
  {
    // An earlier run's seconds, and another counter's, already in the store.
    store::Store store(path);
    id = store.RegisterCounter(kInfo, kT0 - 1000);
    other = store.RegisterCounter(kOther, kT0 - 1000);
    std::vector<store::Second> earlier, others;
    for (int64_t t = kT0 - 1000; t < kT0 - 900; ++t) {
      earlier.push_back({t, CountAt(t)});
      others.push_back({t, 50});
    }
    store.AppendSeconds(id, earlier);
    store.AppendSeconds(other, others);
  }

  MetricsRegistry registry(path);
  MetricsServer server({"127.0.0.1", 0}, registry, notifier);
  ASSERT_TRUE(server.listening());
  store::SecondsWriter writer(path, notifier);
  const auto handle = writer.AddCounter(kInfo, kT0);
  const LiveCounter counter{id, kInfo.model, kInfo.version, kInfo.port};
  registry.AddCounter(counter);

  const auto scrape_and_check = [&](int64_t last) {
    const std::string response = HttpGet(server.port(), "/metrics");
    ASSERT_NE(response.find("HTTP/1.1 200"), std::string::npos) << response;
    ASSERT_NE(response.find("text/plain; version=0.0.4"), std::string::npos);
    const auto parsed = ParseWithPrometheus(dir, response.substr(response.find("\r\n\r\n") + 4));
    ASSERT_TRUE(parsed) << response;
    ASSERT_TRUE(writer.Flush(10s));
    const uint64_t stored = store::Store(path, store::Store::Access::kReadOnly).Totals(id, 0, kT0 + 100000).sum;
    EXPECT_EQ((*parsed)["norvane_counts_total" + Labels(id, kInfo)].get<double>(), double(stored));
    EXPECT_EQ((*parsed)["#type norvane_counts"], "counter");
    EXPECT_EQ((*parsed)["#type norvane_cpm"], "gauge");
    EXPECT_EQ((*parsed)["norvane_last_second_timestamp_seconds" + Labels(id, kInfo)].get<double>(), double(last));
    EXPECT_EQ((*parsed)["norvane_counter_up" + Labels(id, kInfo)].get<double>(), 1.0);
    EXPECT_EQ((*parsed)["norvane_cpm" + Labels(id, kInfo)].get<double>(), 120.0);
    EXPECT_DOUBLE_EQ((*parsed)["norvane_dose_rate_sieverts_per_hour" + Labels(id, kInfo)].get<double>(), 0.78e-6);
    EXPECT_EQ((*parsed)["norvane_store_write_errors_total" + Labels(id, kInfo)].get<double>(), 0.0);
  };

  for (int64_t t = kT0; t < kT0 + 40; ++t) {
    writer.Append(handle, t, CountAt(t));
    const auto before = std::chrono::steady_clock::now();
    registry.Reading({id, kInfo.model, kInfo.version, kInfo.port, t, CountAt(t), 120, 0.78, 118});
    EXPECT_LT(std::chrono::steady_clock::now() - before, 500ms);  // never behind a scrape
    if (t == kT0 + 19) scrape_and_check(t);
  }
  scrape_and_check(kT0 + 39);

  // A counter lost and found again: down, then up with one reconnect.
  registry.Connection(id, ConnectionState::kLost);
  const std::string response = HttpGet(server.port(), "/metrics");
  auto parsed = ParseWithPrometheus(dir, response.substr(response.find("\r\n\r\n") + 4));
  ASSERT_TRUE(parsed);
  EXPECT_EQ((*parsed)["norvane_counter_up" + Labels(id, kInfo)].get<double>(), 0.0);
  registry.Connection(id, ConnectionState::kConnected);
  registry.StoreWriteErrors(id, 2);
  const std::string again = HttpGet(server.port(), "/metrics");
  parsed = ParseWithPrometheus(dir, again.substr(again.find("\r\n\r\n") + 4));
  ASSERT_TRUE(parsed);
  EXPECT_EQ((*parsed)["norvane_counter_up" + Labels(id, kInfo)].get<double>(), 1.0);
  EXPECT_EQ((*parsed)["norvane_reconnects_total" + Labels(id, kInfo)].get<double>(), 1.0);
  EXPECT_EQ((*parsed)["norvane_store_write_errors_total" + Labels(id, kInfo)].get<double>(), 2.0);
  EXPECT_FALSE(parsed->contains("norvane_counts_total" + Labels(other, kOther))) << "only counters this run feeds";
  EXPECT_TRUE(notifier.messages().empty());
}

TEST(MetricsServerTest, LabelsWithQuotesStillParse) {
  if (!PrometheusParserInstalled()) GTEST_SKIP() << "python3-prometheus-client is not installed";
  TempDir dir;
  MetricsRegistry registry({});
  registry.Reading({3, "ZQT \"special\"\\", "V1", "/dev/odd\nport", kT0, 5, 60, 0.39, 60});
  const auto parsed = ParseWithPrometheus(dir, registry.Render());
  ASSERT_TRUE(parsed);
  EXPECT_EQ((*parsed)["norvane_counts_total{counter=3,model=ZQT \"special\"\\,port=/dev/odd\nport}"].get<double>(), 5.0);
}

TEST(MetricsServerTest, OpenMetricsIsServedWhenAskedFor) {
  if (!PrometheusParserInstalled()) GTEST_SKIP() << "python3-prometheus-client is not installed";
  TempDir dir;
  RecordingNotifier notifier;
  MetricsRegistry registry({});
  MetricsServer server({"127.0.0.1", 0}, registry, notifier);
  ASSERT_TRUE(server.listening());
  registry.Reading({3, "ZQT-400", "V4.2", "/dev/ttyUSB0", kT0, 5, 60, 0.39, 60});
  // What Prometheus itself sends.
  const std::string response = HttpGet(server.port(), "/metrics",
                                       "Accept: application/openmetrics-text;version=1.0.0,application/openmetrics-text;"
                                       "version=0.0.1;q=0.75,text/plain;version=0.0.4;q=0.5,*/*;q=0.1\r\n");
  ASSERT_NE(response.find("Content-Type: application/openmetrics-text; version=1.0.0"), std::string::npos) << response;
  const auto parsed = ParseWithPrometheus(dir, response.substr(response.find("\r\n\r\n") + 4), true);
  ASSERT_TRUE(parsed) << response;
  EXPECT_EQ((*parsed)["#type norvane_counts"], "counter");
  EXPECT_EQ((*parsed)["norvane_counts_total{counter=3,model=ZQT-400,port=/dev/ttyUSB0}"].get<double>(), 5.0);
  EXPECT_DOUBLE_EQ((*parsed)["norvane_dose_rate_sieverts_per_hour{counter=3,model=ZQT-400,port=/dev/ttyUSB0}"].get<double>(),
                   0.39e-6);
}

// Clients that send a request a byte at a time and never finish, and clients that keep an idle
// connection, hold neither a scrape nor the server's stop.
TEST(MetricsServerTest, SlowAndIdleClientsHoldUpNeitherScrapesNorTheStop) {
  RecordingNotifier notifier;
  MetricsRegistry registry({});
  auto server = std::make_unique<MetricsServer>(ListenAddress{"127.0.0.1", 0}, registry, notifier);
  ASSERT_TRUE(server->listening());
  std::vector<int> slow, idle;
  for (int i = 0; i < 20; ++i) {
    slow.push_back(testing::ConnectLoopback(server->port()));
    ASSERT_GE(slow.back(), 0);
    ASSERT_EQ(write(slow.back(), "GET /met", 8), 8);
    idle.push_back(testing::ConnectLoopback(server->port()));
    const std::string request = "GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    ASSERT_EQ(write(idle.back(), request.data(), request.size()), static_cast<ssize_t>(request.size()));
    char chunk[4096];
    ASSERT_GT(read(idle.back(), chunk, sizeof chunk), 0);  // answered, and the connection stays open
  }
  const auto scrape = [&] {
    const auto before = std::chrono::steady_clock::now();
    EXPECT_NE(HttpGet(server->port(), "/metrics").find("HTTP/1.1 200"), std::string::npos);
    return std::chrono::steady_clock::now() - before;
  };
  EXPECT_LT(scrape(), 1s);
  for (const int s : slow) ASSERT_EQ(write(s, "r", 1), 1);  // still sending
  EXPECT_LT(scrape(), 1s);
  char byte;
  for (const int s : idle) EXPECT_EQ(recv(s, &byte, 1, MSG_DONTWAIT), -1) << "a kept-alive connection stays open";

  const auto before = std::chrono::steady_clock::now();
  server.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - before, 2s);
  for (const int s : slow) {
    EXPECT_EQ(read(s, &byte, 1), 0) << "the stop closes a half-sent request's connection";
    close(s);
  }
  for (const int s : idle) close(s);
}

TEST(MetricsServerTest, AnAddressInUseIsToldAndNothingStops) {
  RecordingNotifier notifier;
  MetricsRegistry registry({});
  MetricsServer first({"127.0.0.1", 0}, registry, notifier);
  ASSERT_TRUE(first.listening());
  MetricsServer second({"127.0.0.1", first.port()}, registry, notifier);
  EXPECT_FALSE(second.listening());
  ASSERT_EQ(notifier.messages().size(), 1u);
  EXPECT_NE(notifier.messages()[0].text.find("127.0.0.1:" + std::to_string(first.port())), std::string::npos);
  EXPECT_NE(HttpGet(first.port(), "/metrics").find("200"), std::string::npos);
}

TEST(MetricsServerTest, ListenAddressesDefaultToThisMachineOnly) {
  std::string error;
  const auto bare = ParseListenAddress("9750", &error);
  ASSERT_TRUE(bare);
  EXPECT_EQ(bare->host, "127.0.0.1");
  EXPECT_EQ(bare->port, 9750);
  const auto all = ParseListenAddress("0.0.0.0:9100", &error);
  ASSERT_TRUE(all);
  EXPECT_EQ(all->host, "0.0.0.0");
  const auto v6 = ParseListenAddress("[::1]:9100", &error);
  ASSERT_TRUE(v6);
  EXPECT_EQ(v6->host, "::1");
  for (const char* bad : {"", ":9100", "host:", "host:0", "host:65536", "host:91x", "[::1]9100"}) {
    EXPECT_FALSE(ParseListenAddress(bad, &error)) << bad;
    EXPECT_NE(error.find("ADDRESS:PORT"), std::string::npos);
  }
}

}  // namespace
}  // namespace norvane::publish
