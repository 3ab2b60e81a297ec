#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "core/publish/metrics_registry.h"
#include "core/store/sqlite_db.h"
#include "core/upload/upload_queue.h"
#include "tests/core/upload/upload_rig.h"

namespace norvane::upload {
namespace {

using testing::MapServer;
using testing::UploadRig;
constexpr int64_t kStart = UploadRig::kStart;
constexpr int64_t kFive = 300;

// The end of the intervals closed at `t`.
int64_t ClosedBy(int64_t t) { return (t - kCloseDelay) / kFive * kFive; }

std::optional<UploadSummary> SummaryOf(store::Store& db, MapNetwork network) {
  for (const UploadSummary& s : UploadSummaries(db))
    if (s.network == NetworkKey(network)) return s;
  return std::nullopt;
}

// Every interval of [from, to) arrived once, with its own time (its end) and its CPM.
void ExpectEveryInterval(const MapServer& server, int64_t from, int64_t to, const char* what) {
  std::vector<MapServer::Reading> readings = server.readings();
  ASSERT_EQ(readings.size(), static_cast<size_t>((to - from) / kFive)) << what;
  for (size_t i = 0; i < readings.size(); ++i) {
    const int64_t start = from + static_cast<int64_t>(i) * kFive;
    EXPECT_EQ(readings[i].time, start + kFive) << what << " interval " << i;
    EXPECT_NEAR(readings[i].value, testing::ExpectedCpm(start, kFive), 0.006) << what << " interval " << i;
  }
  EXPECT_EQ(server.duplicates(), 0) << what;
}

TEST(Upload, EachNetworkTakesEachClosedIntervalOnceWithItsTimeAndCpm) {
  UploadRig rig;
  MapServer radmon(MapNetwork::kRadmon, "pw", rig.Time()), safecast(MapNetwork::kSafecast, "k", rig.Time()),
      osm(MapNetwork::kOpenSenseMap, "token", rig.Time()), community(MapNetwork::kSensorCommunity, "esp-1", rig.Time());
  auto scheduler = rig.Scheduler({rig.Setup(MapNetwork::kRadmon, radmon, "pw", kFive),
                                  rig.Setup(MapNetwork::kSafecast, safecast, "k", kFive),
                                  rig.Setup(MapNetwork::kOpenSenseMap, osm, "token", kFive),
                                  rig.Setup(MapNetwork::kSensorCommunity, community, "esp-1", kFive)});
  rig.RunUntil(*scheduler, kStart + 4 * kFive + 60);

  ExpectEveryInterval(radmon, kStart, kStart + 4 * kFive, "radmon.org");
  ExpectEveryInterval(safecast, kStart, kStart + 4 * kFive, "Safecast");
  ExpectEveryInterval(osm, kStart, kStart + 4 * kFive, "openSenseMap");
  const auto present = community.readings();
  ASSERT_EQ(present.size(), 4u);
  for (size_t i = 0; i < present.size(); ++i)
    EXPECT_NEAR(present[i].value, testing::ExpectedCpm(kStart + static_cast<int64_t>(i) * kFive, kFive), 0.006);
  for (const MapNetwork network : kMapNetworks) {
    const auto summary = SummaryOf(*rig.db, network);
    ASSERT_TRUE(summary) << NetworkName(network);
    EXPECT_EQ(summary->sent, 4u) << NetworkName(network);
    EXPECT_EQ(summary->waiting, 0u) << NetworkName(network);
  }
}

TEST(Upload, ARefusedRepeatCountsAsSent) {
  UploadRig rig;
  MapServer safecast(MapNetwork::kSafecast, "k", rig.Time());
  auto scheduler = rig.Scheduler({rig.Setup(MapNetwork::kSafecast, safecast, "k", kFive)});
  rig.RunUntil(*scheduler, kStart + kFive + 60);
  ASSERT_EQ(safecast.readings().size(), 1u);
  // As after a kill between the network's answer and the store's commit: the interval is due again.
  uint64_t counts = 0;
  for (int64_t t = kStart; t < kStart + kFive; ++t) counts += testing::CountAt(t);
  UploadQueue(*rig.db, MapNetwork::kSafecast, rig.counter).Enqueue(std::vector<UploadInterval>{{kStart, kFive, counts, kFive}}, kStart + kFive);
  rig.RunUntil(*scheduler, kStart + kFive + 120);

  EXPECT_EQ(safecast.repeats(), 1);
  EXPECT_EQ(safecast.readings().size(), 1u);
  EXPECT_EQ(SummaryOf(*rig.db, MapNetwork::kSafecast)->waiting, 0u);
  EXPECT_EQ(SummaryOf(*rig.db, MapNetwork::kSafecast)->sent, 2u);
}

TEST(Upload, ABadKeyIsToldOnceAndStopsThatNetworkOnly) {
  UploadRig rig;
  MapServer radmon(MapNetwork::kRadmon, "right", rig.Time()), osm(MapNetwork::kOpenSenseMap, "right", rig.Time()),
      safecast(MapNetwork::kSafecast, "k", rig.Time());
  auto scheduler = rig.Scheduler({rig.Setup(MapNetwork::kRadmon, radmon, "wrong", kFive),
                                  rig.Setup(MapNetwork::kOpenSenseMap, osm, "wrong", kFive),
                                  rig.Setup(MapNetwork::kSafecast, safecast, "k", kFive)});
  rig.RunUntil(*scheduler, kStart + 6 * kFive + 60);

  for (const auto* server : {&radmon, &osm}) EXPECT_EQ(server->refused_keys(), 1);
  const auto told = rig.notifier.messages();
  for (const char* name : {"radmon.org refuses the station's key", "openSenseMap refuses the station's key"})
    EXPECT_EQ(std::count_if(told.begin(), told.end(), [&](const auto& m) { return m.text.starts_with(name); }), 1)
        << name;
  EXPECT_TRUE(scheduler->Stopped(MapNetwork::kRadmon));
  ExpectEveryInterval(safecast, kStart, kStart + 6 * kFive, "Safecast");
  // What the network said stays beside the intervals, which wait for a mended key.
  const auto summary = SummaryOf(*rig.db, MapNetwork::kRadmon);
  EXPECT_EQ(summary->waiting, 6u);
  EXPECT_NE(summary->last_refusal.find("Incorrect login"), std::string::npos);
  const std::string metrics = publish::MetricsRegistry(rig.file).Render();
  EXPECT_NE(metrics.find("norvane_upload_waiting{network=\"radmon\"} 6\n"), std::string::npos) << metrics;
  EXPECT_NE(metrics.find("norvane_upload_sent_total{network=\"safecast\"} 6\n"), std::string::npos) << metrics;
}

TEST(Upload, ANetworkThatIsDownIsTriedAgainWithGrowingPausesThenCaughtUp) {
  UploadRig rig;
  MapServer osm(MapNetwork::kOpenSenseMap, "token", rig.Time());
  // First a request that is never answered, then failures.
  osm.set_mode(MapServer::Mode::kSilent);
  NetworkSetup setup = rig.Setup(MapNetwork::kOpenSenseMap, osm, "token", kFive);
  setup.timeout = std::chrono::seconds(1);
  auto scheduler = rig.Scheduler({setup});
  rig.RunUntil(*scheduler, kStart + kFive + kCloseDelay + 1);
  ASSERT_EQ(osm.arrivals().size(), 1u);
  osm.set_mode(MapServer::Mode::kDown);
  const int64_t back = kStart + 3 * 3600;
  rig.RunUntil(*scheduler, back);
  const std::vector<int64_t> tries = osm.arrivals();
  ASSERT_GE(tries.size(), 8u);
  std::vector<int64_t> pauses;
  for (size_t i = 1; i < tries.size(); ++i) pauses.push_back(tries[i] - tries[i - 1]);
  EXPECT_EQ(pauses.front(), kFirstPause);
  EXPECT_TRUE(std::is_sorted(pauses.begin(), pauses.end()));
  EXPECT_EQ(pauses.back(), kLongestPause);

  osm.set_mode(MapServer::Mode::kUp);
  rig.RunUntil(*scheduler, back + kLongestPause + 60);
  const int64_t end = back + kLongestPause + 60;
  ExpectEveryInterval(osm, kStart, ClosedBy(end), "openSenseMap");
  const auto lines = rig.notifier.status();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "openSenseMap takes uploads again."), 1);
}

TEST(Upload, LateIntervalsGoOldestFirstWithTheirOwnTimeAtTheNetworksPace) {
  UploadRig rig;
  MapServer radmon(MapNetwork::kRadmon, "pw", rig.Time());
  radmon.set_mode(MapServer::Mode::kDown);
  auto scheduler = rig.Scheduler({rig.Setup(MapNetwork::kRadmon, radmon, "pw", kFive)});
  const int64_t back = kStart + 2 * 3600;
  rig.RunUntil(*scheduler, back);
  radmon.set_mode(MapServer::Mode::kUp);
  rig.RunUntil(*scheduler, back + 3600);

  ExpectEveryInterval(radmon, kStart, ClosedBy(back + 3600), "radmon.org");
  EXPECT_EQ(radmon.too_soon(), 0);
  EXPECT_GE(radmon.shortest_spacing(), 30);
}

TEST(Upload, SensorCommunityTakesOnlyThePresentAndTheGapIsToldOnce) {
  UploadRig rig;
  MapServer community(MapNetwork::kSensorCommunity, "esp-1", rig.Time());
  community.set_mode(MapServer::Mode::kDown);
  auto scheduler = rig.Scheduler({rig.Setup(MapNetwork::kSensorCommunity, community, "esp-1", kFive)});
  const int64_t back = kStart + 3600;
  rig.RunUntil(*scheduler, back);
  community.set_mode(MapServer::Mode::kUp);
  rig.RunUntil(*scheduler, back + 2 * kLongestPause);

  // Each reading went while its interval was the newest closed one, so it stands at about its time.
  const auto readings = community.readings();
  ASSERT_FALSE(readings.empty());
  for (const auto& reading : readings) {
    const int64_t start = (reading.arrival - kCloseDelay) / kFive * kFive - kFive;
    EXPECT_NEAR(reading.value, testing::ExpectedCpm(start, kFive), 0.006);
  }
  const auto lines = rig.notifier.status();
  const auto gaps = std::count_if(lines.begin(), lines.end(), [](const std::string& l) {
    return l.starts_with("Sensor.Community takes only the present reading: ");
  });
  EXPECT_EQ(gaps, 1);
  const auto summary = SummaryOf(*rig.db, MapNetwork::kSensorCommunity);
  EXPECT_EQ(summary->sent, readings.size());
  EXPECT_EQ(summary->waiting, 0u);
  EXPECT_GT(summary->skipped, 0u);
}

TEST(Upload, AKillDuringTheCatchUpLosesNothingAndSendsNothingTwice) {
  UploadRig rig;
  MapServer radmon(MapNetwork::kRadmon, "pw", rig.Time()), safecast(MapNetwork::kSafecast, "k", rig.Time()),
      osm(MapNetwork::kOpenSenseMap, "token", rig.Time());
  const auto setups = [&] {
    return std::vector<NetworkSetup>{rig.Setup(MapNetwork::kRadmon, radmon, "pw", kFive),
                                     rig.Setup(MapNetwork::kSafecast, safecast, "k", kFive),
                                     rig.Setup(MapNetwork::kOpenSenseMap, osm, "token", kFive)};
  };
  for (auto* server : {&radmon, &safecast, &osm}) server->set_mode(MapServer::Mode::kDown);
  auto scheduler = rig.Scheduler(setups());
  const int64_t back = kStart + 2 * 3600;
  rig.RunUntil(*scheduler, back);
  for (auto* server : {&radmon, &safecast, &osm}) server->set_mode(MapServer::Mode::kUp);
  // Killed while radmon.org still catches up, at its pace.
  while (radmon.readings().size() < 5) rig.RunUntil(*scheduler, rig.clock.Now() + 31);
  ASSERT_LT(radmon.readings().size(), 24u);
  scheduler.reset();
  rig.Open();
  scheduler = rig.Scheduler(setups());
  rig.RunUntil(*scheduler, back + 3600);

  for (const auto* server : {&radmon, &safecast, &osm}) {
    ExpectEveryInterval(*server, kStart, ClosedBy(back + 3600), "after the kill");
    EXPECT_EQ(server->repeats(), 0);
  }
  // The station started again keeps radmon.org's pace.
  EXPECT_EQ(radmon.too_soon(), 0);
  EXPECT_GE(radmon.shortest_spacing(), 30);
}

}  // namespace
}  // namespace norvane::upload
