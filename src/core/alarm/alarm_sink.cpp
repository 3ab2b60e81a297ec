#include "core/alarm/alarm_sink.h"

#include <algorithm>
#include <memory>

#include "core/store/counter_store.h"

namespace norvane::alarm {

AlarmSink::Watched& AlarmSink::Find(const store::CounterInfo& counter, int64_t now) {
  if (auto it = watched_.find(store::IdentityKey(counter)); it != watched_.end()) return it->second;
  Watched& watched = watched_.emplace(store::IdentityKey(counter), Watched{AlarmDetector(options_), std::nullopt}).first->second;
  if (store_.empty()) return watched;
  // The minutes before this one; the live seconds follow them.
  const int64_t to = now - (now % 60 + 60) % 60;
  const int64_t from = to - static_cast<int64_t>(options_.background_days) * 86400;
  try {
    // The journals of ended writers are the seconds' writer's to fold, and to tell what was lost.
    const std::unique_ptr<store::CounterStore> db =
        store::OpenStore(store_.string(), store::StoreAccess::kReadWrite, store::EndedJournals::kLeave);
    db->HoldAs(holder_, 0);
    const store::CounterId id = db->RegisterCounter(counter, now);
    const store::Series minutes = db->Query(id, from, to, static_cast<size_t>((to - from) / 60));
    for (const store::SeriesPoint& p : minutes.points)
      watched.detector.LearnMinute(p.start, p.values.sum, p.values.measured);
    // The windows go on from the seconds an earlier run measured (one stopped, paused or killed a
    // moment ago), each at its own time, so they neither start empty nor see a second twice.
    const int64_t longest = options_.windows.empty() ? 0 : *std::max_element(options_.windows.begin(), options_.windows.end());
    for (const store::Second& s : db->ReadSeconds(id, now - longest, now))
      watched.detector.Prime(s.time, s.count, s.time >= to);
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
    first = !watched_.contains(store::IdentityKey(counter));
    Watched& watched = Find(counter, second.utc);
    event = watched.detector.OnSecond(second.utc, second.count, second.usv_h);
    if (event) watched.last = event;
  }
  for (AlarmListener* listener : listeners_) {
    if (first) listener->OnWatched(counter);
    if (event) listener->OnAlarm(counter, *event);
  }
}

std::optional<AlarmStatus> AlarmSink::Status(const store::CounterInfo& counter) const {
  std::lock_guard lock(mutex_);
  auto it = watched_.find(store::IdentityKey(counter));
  if (it == watched_.end()) return std::nullopt;
  const AlarmDetector& d = it->second.detector;
  return AlarmStatus{d.active(), it->second.last, d.background_cpm(), d.windows()};
}

}  // namespace norvane::alarm
