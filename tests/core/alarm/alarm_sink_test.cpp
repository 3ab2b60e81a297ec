#include "core/alarm/alarm_sink.h"

#include <gtest/gtest.h>

#include "core/store/store.h"
#include "tests/common/recording_notifier.h"
#include "tests/common/temp_dir.h"

namespace norvane::alarm {
namespace {

struct Heard final : AlarmListener {
  std::vector<AlarmEvent> events;
  int watched = 0;
  void OnAlarm(const store::CounterInfo&, const AlarmEvent& event) override { events.push_back(event); }
  void OnWatched(const store::CounterInfo&) override { ++watched; }
};

// A counter with six hours of two counts a second in the store (a run stopped or killed a moment
// ago) is judged against that from its first live second, and a burst the store's background makes unlikely is an alarm at once.
TEST(AlarmSink, LearnsTheBackgroundFromTheStoreBeforeTheFirstLiveSecond) {
  testing::TempDir dir;
  const store::CounterInfo counter{"ZQT-400 v1.2", "1", "ZQT-400", "/dev/ttyUSB0", "", "00aa11", ""};
  constexpr int64_t kNow = 1'800'000'000;
  {
    store::Store db(dir / "store.sqlite");
    const store::CounterId id = db.RegisterCounter(counter, kNow - 6 * 3600);
    std::vector<store::Second> seconds;
    for (int64_t t = kNow - 6 * 3600; t < kNow; ++t) seconds.push_back({t, 2});
    db.AppendSeconds(id, seconds);
  }
  testing::RecordingNotifier notifier;
  AlarmSink sink({}, dir / "store.sqlite", notifier);
  Heard heard;
  sink.AddListener(heard);
  sink.OnSecond(counter, {kNow, 2, 120, 0.8, 0});
  const std::optional<AlarmStatus> status = sink.Status(counter);
  ASSERT_TRUE(status);
  EXPECT_NEAR(status->background_cpm, 120, 0.1);
  // The windows go on from the store's last seconds: the first live second ends a full window.
  EXPECT_EQ(status->windows.front().measured, 10u);
  EXPECT_EQ(status->windows.front().counts, 20u);
  EXPECT_EQ(heard.watched, 1);
  EXPECT_TRUE(heard.events.empty());

  for (int64_t t = kNow + 1; t < kNow + 10; ++t) sink.OnSecond(counter, {t, 2, 120, 0.8, 0});
  const uint32_t threshold = sink.Status(counter)->windows.front().threshold;
  ASSERT_GT(threshold, 20u);
  EXPECT_TRUE(heard.events.empty());
  sink.OnSecond(counter, {kNow + 10, threshold - 18, 120, 0.8, 0});
  ASSERT_EQ(heard.events.size(), 1u);
  EXPECT_EQ(heard.events[0].kind, AlarmKind::kRaised);
  EXPECT_TRUE(sink.Status(counter)->active);
  EXPECT_EQ(heard.watched, 1);
  store::CounterInfo alike = counter;
  alike.serial = "00aa12";
  EXPECT_FALSE(sink.Status(alike));
}

}  // namespace
}  // namespace norvane::alarm
