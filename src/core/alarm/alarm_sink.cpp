#include "core/alarm/alarm_sink.h"

#include <memory>

#include "core/store/counter_store.h"

namespace norvane::alarm {

AlarmSink::Watched& AlarmSink::Find(const store::CounterInfo& counter, int64_t now) {
  if (auto it = watched_.find(counter.version); it != watched_.end()) return it->second;
  Watched& watched = watched_.emplace(counter.version, Watched{AlarmDetector(options_), std::nullopt}).first->second;
  if (store_.empty()) return watched;
  // The minutes before this one; the live seconds follow them.
  const int64_t to = now - (now % 60 + 60) % 60;
  const int64_t from = to - static_cast<int64_t>(options_.background_days) * 86400;
  try {
    // The journals of ended writers are the seconds' writer's to fold, and to tell what was lost.
    const std::unique_ptr<store::CounterStore> db =
        store::OpenStore(store_.string(), store::StoreAccess::kReadWrite, store::EndedJournals::kLeave);
    const store::CounterId id = db->RegisterCounter(counter, now);
    const store::Series minutes = db->Query(id, from, to, static_cast<size_t>((to - from) / 60));
    for (const store::SeriesPoint& p : minutes.points)
      watched.detector.LearnMinute(p.start, p.values.sum, p.values.measured);
  } catch (const store::StoreError& e) {
    // The alarm then learns from the live seconds, as a new station's does.
    notifier_.Status(std::string("The alarm could not learn the background from the long-term store: ") + e.what());
  }
  return watched;
}

void AlarmSink::OnSecond(const store::CounterInfo& counter, const LiveSecond& second) {
  std::optional<AlarmEvent> event;
  bool first = false;
  {
    std::lock_guard lock(mutex_);
    first = !watched_.contains(counter.version);
    Watched& watched = Find(counter, second.utc);
    event = watched.detector.OnSecond(second.utc, second.count, second.usv_h);
    if (event) watched.last = event;
  }
  for (AlarmListener* listener : listeners_) {
    if (first) listener->OnWatched(counter);
    if (event) listener->OnAlarm(counter, *event);
  }
}

std::optional<AlarmStatus> AlarmSink::Status(const std::string& version) const {
  std::lock_guard lock(mutex_);
  auto it = watched_.find(version);
  if (it == watched_.end()) return std::nullopt;
  const AlarmDetector& d = it->second.detector;
  return AlarmStatus{d.active(), it->second.last, d.background_cpm(), d.windows()};
}

}  // namespace norvane::alarm
