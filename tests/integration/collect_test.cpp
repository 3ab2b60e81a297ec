// norvane-cli collect keeping 100 stations' seconds in a real PostgreSQL server through kills of
// the collector, a broker restart and a database crash; the collector itself where the database
// must be down at one exact moment.
#include <gtest/gtest.h>
#include <mosquitto.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <future>
#include <map>
#include <random>
#include <set>
#include <thread>

#include "core/collect/collector.h"
#include "core/store/counter_store.h"
#include "core/store/pg_db.h"
#include "tests/common/postgres_server.h"
#include "tests/common/recording_notifier.h"
#include "tests/common/temp_dir.h"
#include "tests/core/publish/mosquitto_broker.h"
#include "tests/integration/child_process.h"

namespace norvane {
namespace {

#ifdef NORVANE_CLI_PATH
using namespace std::chrono_literals;
using testing::ChildCli;

constexpr int kStations = 100;
constexpr int64_t kT0 = 1'780'000'000;

uint32_t CountOf(int station, int64_t t) { return static_cast<uint32_t>((station * 7 + t) % 13); }

// Stations publishing as record --mqtt does, each below the shared prefix under its own name.
// What the broker has not acknowledged is sent again later on the history topic, as a station's
// catch-up from its store is after an outage.
class Stations {
 public:
  explicit Stations(uint16_t port) : port_(port) {
    mosquitto_lib_init();
    client_ = mosquitto_new("norvane-test-stations", false, this);
    mosquitto_publish_callback_set(client_, [](mosquitto*, void* self, int mid) {
      auto* me = static_cast<Stations*>(self);
      std::lock_guard lock(me->mutex_);
      me->unacked_.erase(mid);
    });
    mosquitto_reconnect_delay_set(client_, 1, 1, false);
    mosquitto_connect(client_, "127.0.0.1", port_, 30);
    mosquitto_loop_start(client_);
  }
  ~Stations() {
    mosquitto_disconnect(client_);
    mosquitto_loop_stop(client_, false);
    mosquitto_destroy(client_);
    mosquitto_lib_cleanup();
  }
  void Second(int64_t t) {
    for (int s = 0; s < kStations; ++s) Send(s, t);
  }
  void Send(int station, int64_t t, const std::string& level = "state") {
    Raw(Topic(station, level), Payload(station, t), {station, t});
  }
  static std::string Topic(int station, const std::string& level) {
    return "station/s" + std::to_string(station) + "/zqt_400_1/" + level;
  }
  static std::string Payload(int station, int64_t t) {
    const nlohmann::json body{{"time", "-"},       {"cpm", 0},          {"counts", CountOf(station, t)},
                              {"model", "ZQT-400"}, {"version", "ZQT-400 V4.2"}, {"utc", t},
                              {"serial", "5e" + std::to_string(station)}, {"family", "1"}, {"device_path", ""}};
    return body.dump();
  }
  void Raw(const std::string& topic, const std::string& payload, std::pair<int, int64_t> what = {-1, 0}) {
    std::lock_guard lock(mutex_);
    int mid = 0;
    if (mosquitto_publish(client_, &mid, topic.c_str(), static_cast<int>(payload.size()), payload.data(), 1, false) ==
        MOSQ_ERR_SUCCESS) {
      if (what.first >= 0) unacked_[mid] = what;
    } else if (what.first >= 0) {
      refused_.push_back(what);
    }
  }
  // Sends again what the broker never took.
  void CatchUp() {
    std::vector<std::pair<int, int64_t>> again;
    {
      std::lock_guard lock(mutex_);
      for (const auto& [mid, what] : unacked_) again.push_back(what);
      again.insert(again.end(), refused_.begin(), refused_.end());
      unacked_.clear();
      refused_.clear();
    }
    for (const auto& [station, t] : again) Send(station, t, "history");
  }

 private:
  uint16_t port_;
  mosquitto* client_;
  std::mutex mutex_;
  std::map<int, std::pair<int, int64_t>> unacked_;
  std::vector<std::pair<int, int64_t>> refused_;
};

// The seconds kept in the store at `url`; -1 while the server is restarting.
int64_t Stored(const std::string& url) {
  try {
    return store::PgConnection(url).Exec("SELECT coalesce(sum(measured), 0) FROM seconds").Int(0, 0);
  } catch (const store::StoreError&) {
    return -1;
  }
}

// A centre: its database, its broker (not started yet) and the collector's arguments.
class Collect : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!pg_.installed()) GTEST_SKIP() << "PostgreSQL's initdb and pg_ctl are not installed (Debian: postgresql)";
    ASSERT_TRUE(pg_.running()) << pg_.Folder();
    if (!broker_.available()) GTEST_SKIP() << "mosquitto is not installed";
    url_ = pg_.NewDatabase();
    collect_ = {"--settings", (dir_ / "settings.reg").string(), "--store", url_, "collect",
                "--mqtt", broker_.url(), "--journal", (dir_ / "journal").string()};
  }
  // The seconds kept once `seconds` are, or at the deadline.
  int64_t WaitStored(int64_t seconds, std::chrono::seconds limit = 60s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (Stored(url_) < seconds && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(50ms);
    return Stored(url_);
  }
  testing::TempDir dir_;
  testing::PostgresServer pg_;
  testing::MosquittoBroker broker_{dir_ / "broker"};
  std::string url_;
  std::vector<std::string> collect_;
};

TEST_F(Collect, EverySecondOfEveryStationIsKeptOnceThroughKillsOfEachPart) {
  ASSERT_TRUE(broker_.Start());
  const auto stored = [&] { return Stored(url_); };

  auto collector = std::make_unique<ChildCli>(collect_);
  Stations stations(broker_.port());
  // The session begins with the first subscription: until then nothing is kept for the collector.
  for (int i = 0; i < 100 && stored() < 1; ++i) {
    stations.Send(0, kT0);
    std::this_thread::sleep_for(100ms);
  }
  ASSERT_EQ(stored(), 1);
  // A malformed message and a foreign one below the prefix are never written.
  stations.Raw("station/s0/zqt_400_1/state", "{\"utc\": \"soon\"}");
  stations.Raw("station/elsewhere/thing", "42");

  std::mt19937 random(28);
  int64_t t = kT0;
  const auto publish = [&](int seconds) {
    for (int i = 0; i < seconds; ++i) stations.Second(++t);
  };
  // Killed at a random moment while it commits, and away while more is published.
  publish(20);
  std::this_thread::sleep_for(std::chrono::milliseconds(random() % 300));
  collector->Signal(SIGKILL);
  collector->Wait();
  const std::string first_said = collector->said;
  EXPECT_NE(first_said.find("station/elsewhere/thing is not stored"), std::string::npos) << first_said;
  publish(20);
  collector = std::make_unique<ChildCli>(collect_);

  // The broker restarts while the stations publish; what it never took comes again.
  publish(10);
  broker_.Stop();
  publish(5);
  ASSERT_TRUE(broker_.Start());
  publish(5);

  // The database crashes and comes back.
  publish(10);
  pg_.Crash();
  publish(10);
  ASSERT_TRUE(pg_.Start());
  publish(10);
  stations.CatchUp();
  // Stations repeat seconds, live ones again on the history topic, and send late ones out of
  // order: nothing changes.
  for (int s = 0; s < kStations; s += 9) stations.Send(s, kT0 + 5, s % 2 ? "state" : "history");

  // Station 0 sent its first second alone.
  const int64_t expected = 1 + int64_t{kStations} * (t - kT0);
  const int64_t kept = WaitStored(expected);
  // What a collector said is read once it has ended, so the totals it ends with are there too.
  collector->Signal(SIGTERM);
  const int ended = collector->Wait();
  EXPECT_EQ(kept, expected) << "first collector:\n"
                            << first_said << "second collector:\n"
                            << collector->said << "broker:\n"
                            << broker_.Log();
  EXPECT_EQ(ended, 0) << collector->said;

  const std::unique_ptr<store::CounterStore> db = store::OpenStore(url_, store::StoreAccess::kReadOnly);
  const std::vector<store::CounterRow> counters = db->Counters();
  ASSERT_EQ(counters.size(), size_t{kStations});
  for (const store::CounterRow& row : counters) {
    const int station = std::stoi(row.info.serial.substr(2));
    std::vector<store::Second> want;
    for (int64_t s = station == 0 ? kT0 : kT0 + 1; s <= t; ++s) want.push_back({s, CountOf(station, s)});
    ASSERT_EQ(db->ReadSeconds(row.id, kT0 - 100, t + 100), want) << row.info.serial;
    EXPECT_EQ(db->Totals(row.id, kT0 - 100, t + 100).measured, want.size()) << row.info.serial;
  }
  EXPECT_TRUE(db->Check().ok());
}

// A centre's machine starting: the collector comes up before the database and the broker.
TEST_F(Collect, ACollectorStartedBeforeTheDatabaseAndTheBrokerCollectsOnceTheyAreUp) {
  pg_.Crash();

  ChildCli collector(collect_);
  ASSERT_TRUE(collector.WaitToSay("cannot connect to the store")) << collector.said;
  ASSERT_TRUE(pg_.Start());
  ASSERT_TRUE(collector.WaitToSay("Cannot reach the MQTT broker")) << collector.said;
  ASSERT_TRUE(broker_.Start());

  Stations stations(broker_.port());
  const auto end = std::chrono::steady_clock::now() + 30s;
  while (Stored(url_) < 1 && std::chrono::steady_clock::now() < end) {
    stations.Send(0, kT0);
    std::this_thread::sleep_for(100ms);
  }
  const int64_t kept = Stored(url_);
  collector.Signal(SIGTERM);
  EXPECT_EQ(collector.Wait(), 0) << collector.said;
  EXPECT_EQ(kept, 1) << collector.said << "broker:\n" << broker_.Log();
}

// A collector that finds what a killed one left while the database is down still starts, stops
// at once when told, and leaves that journal to the next one, which commits it.
TEST_F(Collect, AJournalLeftWhileTheDatabaseIsDownHoldsUpNeitherAStartNorAStop) {
  std::filesystem::create_directories(dir_ / "journal");
  std::ofstream(dir_ / "journal" / "collect-7.journal") << Stations::Topic(3, "state") << '\t' << Stations::Payload(3, kT0) << '\n';
  const std::unique_ptr<store::CounterStore> db = store::OpenStore(url_);
  pg_.Crash();

  collect::CollectOptions options;
  std::string error;
  options.target = *publish::ParseMqttUrl(broker_.url(), &error);
  options.journal_dir = dir_ / "journal";
  testing::RecordingNotifier notifier;
  auto started = std::async(std::launch::async, [&] { collect::Collector(options, *db, notifier).Stop(); });
  const bool ended = started.wait_for(60s) == std::future_status::ready;
  if (!ended) pg_.Start();  // lets a collector that waits for the database end
  started.get();
  ASSERT_TRUE(ended) << "the collector waited for the database";
  EXPECT_TRUE(std::filesystem::exists(dir_ / "journal" / "collect-7.journal"));

  ASSERT_TRUE(pg_.Start());
  {
    collect::Collector collector(options, *db, notifier);
    EXPECT_EQ(WaitStored(1, 30s), 1);
  }
  EXPECT_FALSE(std::filesystem::exists(dir_ / "journal" / "collect-7.journal"));

  // Collectors that receive nothing leave no more than the one segment the last one wrote to.
  for (int i = 0; i < 3; ++i) collect::Collector(options, *db, notifier).Stop();
  size_t segments = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir_ / "journal"))
    segments += entry.path().extension() == ".journal" ? 1 : 0;
  EXPECT_EQ(segments, 1u);
}

// A station is its topic and serial together: a serial copied onto another topic, with other
// counts, is another counter (and told), counters without a serial are told apart by topic, each
// counter is seen at its own seconds, and a second given again with other counts is noted. A
// second the database refuses (here by a rule of the operator's) is set aside alone, once, while
// the rest is stored, and never replayed.
TEST_F(Collect, AStationIsItsTopicAndSerialAndARefusedSecondIsSetAsideAlone) {
  const std::unique_ptr<store::CounterStore> db = store::OpenStore(url_);
  store::PgConnection(url_).Exec("ALTER TABLE counters ADD CONSTRAINT no_ghosts CHECK (model <> 'ghost')");
  const auto message = [](const std::string& station, const std::string& serial, int64_t utc, uint32_t counts,
                          const std::string& model = "ZQT-400") {
    nlohmann::json body{{"utc", utc}, {"counts", counts}, {"model", model}, {"version", "ZQT-400 V4.2"}};
    if (!serial.empty()) body["serial"] = serial;
    return "station/" + station + "/zqt_400_1/state\t" + body.dump() + "\n";
  };
  std::filesystem::create_directories(dir_ / "journal");
  std::ofstream(dir_ / "journal" / "collect-1.journal")
      << message("a", "5e1", kT0, 4) << message("copy", "5e1", kT0, 999) << message("b", "", kT0 + 100, 2)
      << message("c", "", kT0 + 50, 3) << message("d", "5e4", kT0, 1, "ghost") << message("a", "5e1", kT0 + 1, 5)
      << message("a", "5e1", kT0, 6);

  collect::CollectOptions options;
  std::string error;
  options.target = *publish::ParseMqttUrl(broker_.url(), &error);
  options.journal_dir = dir_ / "journal";
  testing::RecordingNotifier notifier;
  {
    collect::Collector collector(options, *db, notifier);
    EXPECT_EQ(WaitStored(5, 30s), 5);
  }
  for (int restart = 0; restart < 2; ++restart) collect::Collector(options, *db, notifier).Stop();
  EXPECT_EQ(Stored(url_), 5);
  EXPECT_EQ(std::count(std::istreambuf_iterator<char>(std::ifstream(dir_ / "journal" / "refused.jsonl").rdbuf()), {}, '\n'), 1);
  EXPECT_TRUE(notifier.HasStatusContaining("it is set aside in"));
  EXPECT_TRUE(notifier.HasStatusContaining("The serial number 5e1 comes from station/copy/zqt_400_1"));

  std::map<std::string, store::CounterRow> by_topic;
  for (const store::CounterRow& row : db->Counters()) by_topic[row.info.port] = row;
  ASSERT_EQ(by_topic.size(), 4u);
  const store::CounterRow& a = by_topic["station/a/zqt_400_1"];
  EXPECT_EQ(db->ReadSeconds(a.id, 0, INT64_MAX), (std::vector<store::Second>{{kT0, 4}, {kT0 + 1, 5}}));
  EXPECT_EQ(a.last_seen, kT0);
  EXPECT_EQ(db->ReadSeconds(by_topic["station/copy/zqt_400_1"].id, 0, INT64_MAX), (std::vector<store::Second>{{kT0, 999}}));
  EXPECT_EQ(by_topic["station/c/zqt_400_1"].last_seen, kT0 + 50);
  // The second station a gave again with other counts is noted, not silently dropped.
  EXPECT_TRUE(notifier.HasStatusContaining("(station/a/zqt_400_1) came again with other counts"));
  const store::CheckReport check = db->Check();
  EXPECT_TRUE(check.ok()) << ::testing::PrintToString(check.problems);
  ASSERT_EQ(check.notes.size(), 1u);
  EXPECT_NE(check.notes[0].find("1 seconds were given again with other counts"), std::string::npos) << check.notes[0];
}

// The broker set up as the README says: each station its own user, allowed to write only below
// its own topic. A station that copies another's serial and writes on the other's topic is
// refused by the broker; on its own topic it only ever writes a counter of its own.
TEST_F(Collect, WithPerStationUsersAStationWritesNoOtherStationsSeconds) {
  testing::MosquittoBroker guarded(dir_ / "guarded", {"collector:c0llect", "s1:one", "s2:two"},
                                   {"pattern write station/%u/#", "user collector", "topic read station/#"});
  ASSERT_TRUE(guarded.Start());
  std::vector<std::string> arguments = collect_;
  arguments[std::find(arguments.begin(), arguments.end(), "--mqtt") - arguments.begin() + 1] = guarded.url("collector");
  ChildCli collector(arguments, {"NORVANE_MQTT_PASSWORD=c0llect"});
  ASSERT_TRUE(collector.WaitToSay("Collecting from the MQTT broker")) << collector.said;
  testing::Subscriber honest(guarded.port(), "s1", "s1", "one"), attacker(guarded.port(), "s2", "s2", "two");
  ASSERT_TRUE(honest.WaitSubscribed(10s) && attacker.WaitSubscribed(10s));
  const auto body = [](int64_t t, uint32_t counts) {
    return nlohmann::json{{"utc", t}, {"counts", counts}, {"version", "ZQT-400 V4.2"}, {"serial", "5e1"}}.dump();
  };
  for (int64_t t = kT0; t < kT0 + 10; ++t) {
    ASSERT_TRUE(honest.Publish("station/s1/zqt_400_1/state", body(t, 1)));
    ASSERT_TRUE(attacker.Publish("station/s1/zqt_400_1/state", body(t, 999)));
    ASSERT_TRUE(attacker.Publish("station/s2/zqt_400_1/state", body(t, 999)));
  }
  EXPECT_EQ(WaitStored(20, 30s), 20);
  collector.Signal(SIGTERM);
  EXPECT_EQ(collector.Wait(), 0) << collector.said;
  const std::unique_ptr<store::CounterStore> db = store::OpenStore(url_, store::StoreAccess::kReadOnly);
  for (const store::CounterRow& row : db->Counters()) {
    const uint32_t counts = row.info.port == "station/s1/zqt_400_1" ? 1 : 999;
    for (const store::Second& second : db->ReadSeconds(row.id, 0, INT64_MAX)) EXPECT_EQ(second.count, counts) << row.info.port;
  }
  EXPECT_EQ(db->Counters().size(), 2u);
  EXPECT_NE(collector.said.find("The serial number 5e1 comes from station/s"), std::string::npos) << collector.said;
}

// A TLS connection that cannot be made (here to a port that speaks no TLS) is told with the TLS
// library's reason, not only that "A TLS error occurred".
TEST_F(Collect, ATlsFailureIsToldWithItsReason) {
  ASSERT_TRUE(broker_.Start());
  const std::unique_ptr<store::CounterStore> db = store::OpenStore(url_);
  collect::CollectOptions options;
  std::string error;
  options.target = *publish::ParseMqttUrl("mqtts://127.0.0.1:" + std::to_string(broker_.port()) + "/station", &error);
  options.journal_dir = dir_ / "journal";
  testing::RecordingNotifier notifier;
  collect::Collector collector(options, *db, notifier);
  const auto end = std::chrono::steady_clock::now() + 10s;
  while (!notifier.HasStatusContaining("Cannot reach") && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(20ms);
  EXPECT_TRUE(notifier.HasStatusContaining("(the TLS handshake failed: OpenSSL")) << ::testing::PrintToString(notifier.status());
}

#endif

}  // namespace
}  // namespace norvane
