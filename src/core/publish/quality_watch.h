// Judges the data quality of the publishers' counters from the store, on a thread of its own.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "core/common/clock.h"
#include "core/common/user_notifier.h"
#include "core/publish/live_reading.h"

namespace norvane::publish {

// Quality is a slow thing: a tube sticks for hours, coverage is of a day. Judging every ten
// minutes keeps the store's read of a day of seconds per counter rare.
inline constexpr std::chrono::minutes kQualityEvery{10};
inline constexpr int64_t kQualityStretch = 86400;  // seconds judged, up to the clock's now

// A counter handed in is judged at once, then with the others every `every`: the last
// kQualityStretch seconds of the store, each rule of store_quality.h. Reading a day of seconds
// takes a moment, so it never happens on the polling thread; `report` is called from the watch's
// thread. A store that cannot be read is told once and tried again next round.
class QualityWatch {
 public:
  using Report = std::function<void(store::CounterId, const QualityReading&)>;
  // `store`: a SQLite file's path or a PostgreSQL URL, opened read-only on the watch's thread.
  QualityWatch(std::string store, const Clock& clock, UserNotifier& notifier, Report report,
               std::chrono::milliseconds every = kQualityEvery);
  ~QualityWatch();
  QualityWatch(const QualityWatch&) = delete;
  QualityWatch& operator=(const QualityWatch&) = delete;

  void Watch(store::CounterId counter);

 private:
  void Run();
  void Judge(store::CounterId counter);

  const std::string location_;
  const Clock& clock_;
  UserNotifier& notifier_;
  const Report report_;
  const std::chrono::milliseconds every_;
  std::unique_ptr<store::CounterStore> store_;  // the watch thread's own
  bool told_ = false;

  std::mutex mutex_;
  std::condition_variable wake_;
  std::set<store::CounterId> counters_;
  std::set<store::CounterId> fresh_;  // not judged yet
  bool stop_ = false;
  std::thread thread_;  // last: it starts once the rest exists
};

}  // namespace norvane::publish
