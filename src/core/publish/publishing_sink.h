// Connects live readings, the logging service's or the window's, to the MQTT and Prometheus publishers.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>

#include "core/alarm/alarm_sink.h"
#include "core/publish/live_publishing.h"
#include "core/realtime/live_sink.h"

namespace norvane::publish {

// The publishers name a counter by its number in the long-term store, so that topics and metric
// labels stay the same when it comes back on another port; the number is looked up (or the counter
// added) once, when the counter is first seen. ACPM runs over the seconds handed in since the
// counter was first seen or last stopped. It also publishes the counter's alarm, when one listens.
class PublishingSink final : public LiveSink, public alarm::AlarmListener {
 public:
  // `holder`: the token of the program's writer into `store` (see CounterStore::HoldAs).
  PublishingSink(LivePublishing& publishing, std::filesystem::path store, UserNotifier& notifier,
                 std::string holder = {})
      : publishing_(publishing), store_(std::move(store)), notifier_(notifier), holder_(std::move(holder)) {}

  void OnSecond(const store::CounterInfo& counter, const LiveSecond& second) override;
  void OnLinkState(const store::CounterInfo& counter, LinkState state) override;
  void OnAlarm(const store::CounterInfo& counter, const alarm::AlarmEvent& event) override;
  void OnWatched(const store::CounterInfo& counter) override;

 private:
  struct Known {
    store::CounterId id = 0;
    uint64_t counts = 0;
    uint64_t seconds = 0;
  };
  Known* Find(const store::CounterInfo& counter, int64_t now);

  LivePublishing& publishing_;
  const std::filesystem::path store_;
  UserNotifier& notifier_;
  const std::string holder_;
  std::map<std::string, Known> known_;  // by IdentityKey
};

}  // namespace norvane::publish
