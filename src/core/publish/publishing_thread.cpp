#include "core/publish/publishing_thread.h"

#include "core/publish/publishing_sink.h"

namespace norvane::publish {

PublishingThread::PublishingThread(PublishingOptions options, UserNotifier& notifier)
    : thread_([this, options = std::move(options), &notifier] { Run(options, notifier); }) {}

PublishingThread::~PublishingThread() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void PublishingThread::OnSecond(const store::CounterInfo& counter, const LiveSecond& second) {
  Queue({counter, second, LinkState::kConnected, std::nullopt});
}

void PublishingThread::OnLinkState(const store::CounterInfo& counter, LinkState state) {
  Queue({counter, std::nullopt, state, std::nullopt});
}

void PublishingThread::OnAlarm(const store::CounterInfo& counter, const alarm::AlarmEvent& event) {
  Queue({counter, std::nullopt, LinkState::kConnected, event});
}

void PublishingThread::Queue(Event event) {
  {
    std::lock_guard lock(mutex_);
    events_.push_back(std::move(event));
  }
  wake_.notify_all();
}

void PublishingThread::Run(const PublishingOptions& options, UserNotifier& notifier) {
  LivePublishing publishing(options, notifier);
  PublishingSink sink(publishing, options.store, notifier, options.store_holder);
  std::unique_lock lock(mutex_);
  while (true) {
    wake_.wait(lock, [this] { return stop_ || !events_.empty(); });
    if (events_.empty()) return;
    std::deque<Event> batch;
    batch.swap(events_);
    lock.unlock();
    for (const Event& event : batch) {
      if (event.second) sink.OnSecond(event.counter, *event.second);
      else if (event.alarm) sink.OnAlarm(event.counter, *event.alarm);
      else sink.OnLinkState(event.counter, event.state);
    }
    lock.lock();
  }
}

}  // namespace norvane::publish
