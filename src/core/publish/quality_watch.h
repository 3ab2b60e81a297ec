// Judges the data quality of the publishers' counters from the store, on a thread of its own.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "core/common/user_notifier.h"
#include "core/publish/live_reading.h"

namespace norvane::publish {

// Quality is a slow thing: a tube sticks for hours, coverage is of a day. Judging every ten
// minutes keeps the store's read of a day of seconds per counter rare.
inline constexpr int64_t kQualityEvery = 600;      // seconds of a counter's own time
inline constexpr int64_t kQualityStretch = 86400;  // seconds judged, up to the newest one

// A counter is judged when its first second is handed in and then each time its seconds have moved
// on by `every`: the last kQualityStretch seconds of the store, by each rule of store_quality.h.
// The counter's own seconds keep the time, so a run in virtual time is judged on virtual time.
// Reading a day of seconds takes a moment, so it never happens on the caller's (the polling)
// thread; `report` is called from the watch's thread, also for what is due when it stops. A store that cannot be read is told once
// and tried again next time.
class QualityWatch {
 public:
  using Report = std::function<void(store::CounterId, const QualityReading&)>;
  // `store`: a SQLite file's path or a PostgreSQL URL, opened read-only on the watch's thread.
  QualityWatch(std::string store, UserNotifier& notifier, Report report, int64_t every = kQualityEvery);
  ~QualityWatch();
  QualityWatch(const QualityWatch&) = delete;
  QualityWatch& operator=(const QualityWatch&) = delete;

  // The counter measured the second `utc`; cheap enough for every second.
  void Second(store::CounterId counter, int64_t utc);

 private:
  void Run();
  void Judge(store::CounterId counter, int64_t utc);

  const std::string location_;
  UserNotifier& notifier_;
  const Report report_;
  const int64_t every_;
  std::unique_ptr<store::CounterStore> store_;  // the watch thread's own
  bool told_ = false;

  std::mutex mutex_;
  std::condition_variable wake_;
  std::map<store::CounterId, int64_t> next_;            // per counter, the second it is judged again
  std::deque<std::pair<store::CounterId, int64_t>> due_;  // counters to judge, up to which second
  bool stop_ = false;
  std::thread thread_;  // last: it starts once the rest exists
};

}  // namespace norvane::publish
