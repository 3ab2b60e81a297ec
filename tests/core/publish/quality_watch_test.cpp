#include "core/publish/quality_watch.h"

#include <gtest/gtest.h>

#include <mutex>
#include <vector>

#include "core/store/store.h"
#include "tests/common/recording_notifier.h"
#include "tests/common/temp_dir.h"

namespace norvane::publish {
namespace {

// Seconds handed in keep the watch's time: a counter is judged at its first second and each time
// its seconds move on by the period, never in between, each time on the store's day up to then.
// A count that sticks half-way fails the next verdict.
TEST(QualityWatch, JudgesAtTheFirstSecondAndEachPeriodOfTheCounterOwnTime) {
  testing::TempDir dir;
  constexpr int64_t kStart = 1'800'000'000, kEvery = 600, kSeconds = 3 * kEvery;
  store::CounterId id = 0;
  {
    store::Store db(dir / "store.sqlite");
    id = db.RegisterCounter({"ZQT-400 V4.2", "8", "ZQT-400", "", "", "", ""}, kStart);
    std::vector<store::Second> seconds;
    for (int64_t t = 0; t < kSeconds; ++t) seconds.push_back({kStart + t, t < kEvery ? uint32_t(t % 3) : 4u});
    db.AppendSeconds(id, seconds);
  }
  testing::RecordingNotifier notifier;
  std::mutex mutex;
  std::vector<QualityReading> verdicts;
  {
    QualityWatch watch((dir / "store.sqlite").string(), notifier, [&](store::CounterId counter, const QualityReading& q) {
      EXPECT_EQ(counter, id);
      std::lock_guard lock(mutex);
      verdicts.push_back(q);
    }, kEvery);
    for (int64_t t = 0; t < kSeconds; ++t) watch.Second(id, kStart + t);
  }  // the watch judges what was due before it stops
  ASSERT_EQ(verdicts.size(), 3u);
  for (size_t i = 0; i < verdicts.size(); ++i) {
    EXPECT_EQ(verdicts[i].to, kStart + int64_t(i) * kEvery + 1);
    EXPECT_EQ(verdicts[i].to - verdicts[i].from, kQualityStretch);
  }
  EXPECT_TRUE(verdicts[0].ok());
  EXPECT_FALSE(verdicts[2].ok());
  EXPECT_TRUE(notifier.messages().empty());
}

}  // namespace
}  // namespace norvane::publish
