#include "core/publish/publishing_thread.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <thread>

#include "core/store/store.h"
#include "tests/common/recording_notifier.h"
#include "tests/common/temp_dir.h"
#include "tests/core/publish/http_get.h"
#include "tests/core/publish/mosquitto_broker.h"

namespace norvane::publish {
namespace {

using namespace std::chrono_literals;
using Steady = std::chrono::steady_clock;

constexpr int64_t kT0 = 1'780'000'000;
const store::CounterInfo kInfo{"ZQT-400 V4.2", "1", "ZQT-400", "/dev/ttyUSB0", ""};

// A store another program holds a write lock on, until the end of the scope.
class LockedStore {
 public:
  explicit LockedStore(const std::filesystem::path& path) {
    store::Store{path};
    sqlite3_open(path.c_str(), &db_);
    locked_ = sqlite3_exec(db_, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr) == SQLITE_OK;
  }
  ~LockedStore() {
    sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db_);
  }
  bool locked() const { return locked_; }

 private:
  sqlite3* db_ = nullptr;
  bool locked_ = false;
};

// The window hands readings in on its GUI thread: a store that keeps the first registration
// waiting must not hold it, and what was handed in meanwhile is published once the store answers.
TEST(PublishingThreadTest, TheCallerNeverWaitsAndNothingHandedInIsLost) {
  testing::TempDir dir;
  testing::RecordingNotifier notifier;
  const auto path = dir / "store.sqlite";
  const uint16_t port = testing::FreePort();
  PublishingOptions options;
  options.metrics_address = "127.0.0.1:" + std::to_string(port);
  options.store = path;
  uint64_t total = 0;
  {
    std::optional<PublishingThread> publishing;
    {
      LockedStore lock(path);
      ASSERT_TRUE(lock.locked());
      const Steady::time_point start = Steady::now();
      publishing.emplace(options, notifier);
      publishing->OnLinkState(kInfo, LinkState::kConnected);
      for (int64_t t = kT0; t < kT0 + 5; ++t) {
        const uint32_t count = static_cast<uint32_t>(t % 7);
        total += count;
        publishing->OnSecond(kInfo, {t, count, 60, 0.39});
      }
      EXPECT_LT(Steady::now() - start, 500ms) << "the caller waited for the store";
      std::this_thread::sleep_for(1s);
    }
    const std::string labels = "{counter=\"1\",model=\"ZQT-400\",port=\"/dev/ttyUSB0\"} ";
    const std::string counts = "norvane_counts_total" + labels + std::to_string(total) + "\n";
    std::string metrics;
    for (int i = 0; i < 100 && metrics.find(counts) == std::string::npos; ++i) {
      std::this_thread::sleep_for(50ms);
      metrics = testing::HttpGet(port, "/metrics");
    }
    EXPECT_NE(metrics.find(counts), std::string::npos) << metrics;
    EXPECT_NE(metrics.find("norvane_counter_up" + labels + "1\n"), std::string::npos) << metrics;
  }
  // Stopping let the publishers go: the endpoint is closed.
  EXPECT_FALSE(testing::Accepts(port));
  EXPECT_TRUE(notifier.messages().empty());
}

// A stop handed in just before the end still reaches the broker: the queue is emptied first.
TEST(PublishingThreadTest, WhatIsQueuedWhenItEndsIsStillPublished) {
  testing::TempDir dir;
  testing::MosquittoBroker broker(dir / "broker");
  if (!broker.available()) GTEST_SKIP() << "mosquitto is not installed";
  ASSERT_TRUE(broker.Start());
  testing::Subscriber subscriber(broker.port());
  ASSERT_TRUE(subscriber.WaitSubscribed(10s));
  testing::RecordingNotifier notifier;
  PublishingOptions options;
  options.mqtt_url = broker.url();
  options.store = dir / "store.sqlite";
  {
    PublishingThread publishing(options, notifier);
    publishing.OnSecond(kInfo, {kT0, 3, 60, 0.39});
    ASSERT_TRUE(subscriber.WaitFor(10s, [](const auto& received) {
      for (const auto& m : received)
        if (m.topic.ends_with("/state")) return true;
      return false;
    }));
    publishing.OnLinkState(kInfo, LinkState::kStopped);
  }
  const auto link = [&] {
    std::vector<std::string> states;
    for (const auto& m : subscriber.received())
      if (m.topic.ends_with("/connected")) states.push_back(m.payload);
    return states;
  };
  ASSERT_TRUE(subscriber.WaitFor(10s, [](const auto& received) {
    for (const auto& m : received)
      if (m.topic == "station/status" && m.payload == "offline") return true;
    return false;
  }));
  EXPECT_EQ(link(), (std::vector<std::string>{"ON", "OFF"}));
}

}  // namespace
}  // namespace norvane::publish
