// The alarm in the live engine: one detector per counter, taught the counter's recent background
// from the long-term store when it is first seen, telling its listeners of each alarm and
// all-clear, and keeping the state a window or a publisher shows.
#pragma once

#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/alarm/alarm_detector.h"
#include "core/common/user_notifier.h"
#include "core/realtime/live_sink.h"

namespace norvane::alarm {

// Called on the live engine's thread: a listener that does slow work hands it on.
class AlarmListener {
 public:
  virtual ~AlarmListener() = default;
  virtual void OnAlarm(const store::CounterInfo& counter, const AlarmEvent& event) = 0;
  // The counter is watched from now on, its alarm off: a state left from an earlier run is over.
  virtual void OnWatched(const store::CounterInfo& /*counter*/) {}
};

struct AlarmStatus {
  bool active = false;
  std::optional<AlarmEvent> last;  // the last alarm or all-clear
  double background_cpm = 0;
  std::vector<WindowState> windows;
};

class AlarmSink final : public LiveSink {
 public:
  // `store` empty: the background is learnt from the live seconds alone. `holder`: the token of
  // the program's writer into that store, which finds the counters it holds.
  AlarmSink(AlarmOptions options, std::filesystem::path store, UserNotifier& notifier, std::string holder = {})
      : options_(std::move(options)), store_(std::move(store)), notifier_(notifier), holder_(std::move(holder)) {}

  // Before the engine runs.
  void AddListener(AlarmListener& listener) { listeners_.push_back(&listener); }

  void OnSecond(const store::CounterInfo& counter, const LiveSecond& second) override;
  void OnLinkState(const store::CounterInfo&, LinkState) override {}

  // The state of a counter, from any thread; nothing before its first second.
  std::optional<AlarmStatus> Status(const store::CounterInfo& counter) const;

 private:
  struct Watched {
    AlarmDetector detector;
    std::optional<AlarmEvent> last;
  };
  Watched& Find(const store::CounterInfo& counter, int64_t now);

  const AlarmOptions options_;
  const std::filesystem::path store_;
  UserNotifier& notifier_;
  const std::string holder_;
  std::vector<AlarmListener*> listeners_;
  mutable std::mutex mutex_;
  // By the counter's identity: two counters of one model and firmware are judged apart.
  std::map<std::string, Watched> watched_;
};

}  // namespace norvane::alarm
