// Live publishing on a thread of its own, for a caller that must never wait: the window's GUI thread.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

#include "core/alarm/alarm_sink.h"
#include "core/common/user_notifier.h"
#include "core/publish/live_publishing.h"
#include "core/realtime/live_sink.h"

namespace norvane::publish {

// Building the publishers looks the broker's name up on the building thread (libmosquitto does,
// and an unreachable name server holds it for seconds), a counter's first reading registers it in
// the store, and stopping waits a moment for the broker to take the last message. All of that
// happens on this thread; the caller's calls only queue. Readings handed in before the publishers
// are built wait for them. The notifier is called from this thread and the publishers' own, so it
// must not wait for the caller.
class PublishingThread final : public LiveSink, public alarm::AlarmListener {
 public:
  PublishingThread(PublishingOptions options, UserNotifier& notifier);
  // Hands what is queued to the publishers, then stops them.
  ~PublishingThread() override;
  PublishingThread(const PublishingThread&) = delete;
  PublishingThread& operator=(const PublishingThread&) = delete;

  void OnSecond(const store::CounterInfo& counter, const LiveSecond& second) override;
  void OnLinkState(const store::CounterInfo& counter, LinkState state) override;
  void OnAlarm(const store::CounterInfo& counter, const alarm::AlarmEvent& event) override;

 private:
  struct Event {
    store::CounterInfo counter;
    std::optional<LiveSecond> second;  // none: the link changed to `state`, or an alarm
    LinkState state = LinkState::kConnected;
    std::optional<alarm::AlarmEvent> alarm;
  };
  void Queue(Event event);
  void Run(const PublishingOptions& options, UserNotifier& notifier);

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Event> events_;
  bool stop_ = false;
  std::thread thread_;  // last: it starts once the queue exists
};

}  // namespace norvane::publish
