#include "core/publish/quality_watch.h"

#include <vector>

namespace norvane::publish {

QualityWatch::QualityWatch(std::string store, const Clock& clock, UserNotifier& notifier, Report report,
                           std::chrono::milliseconds every)
    : location_(std::move(store)),
      clock_(clock),
      notifier_(notifier),
      report_(std::move(report)),
      every_(every),
      thread_([this] { Run(); }) {}

QualityWatch::~QualityWatch() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void QualityWatch::Watch(store::CounterId counter) {
  {
    std::lock_guard lock(mutex_);
    if (!counters_.insert(counter).second) return;
    fresh_.insert(counter);
  }
  wake_.notify_all();
}

void QualityWatch::Run() {
  std::unique_lock lock(mutex_);
  auto next_round = std::chrono::steady_clock::now() + every_;
  while (!stop_) {
    std::vector<store::CounterId> due;
    if (std::chrono::steady_clock::now() >= next_round) {
      due.assign(counters_.begin(), counters_.end());
      next_round = std::chrono::steady_clock::now() + every_;
    } else {
      due.assign(fresh_.begin(), fresh_.end());
    }
    fresh_.clear();
    if (due.empty()) {
      wake_.wait_until(lock, next_round, [&] { return stop_ || !fresh_.empty(); });
      continue;
    }
    lock.unlock();
    for (store::CounterId counter : due) Judge(counter);
    lock.lock();
  }
}

void QualityWatch::Judge(store::CounterId counter) {
  const int64_t now = clock_.Now();
  QualityReading reading;
  reading.utc = now;
  reading.from = now + 1 - kQualityStretch;
  reading.to = now + 1;
  try {
    if (!store_) store_ = store::OpenStore(location_, store::StoreAccess::kReadOnly);
    const std::optional<store::DayQuality> quality = store::StretchQuality(*store_, counter, reading.from, reading.to);
    told_ = false;
    if (!quality) return;  // nothing measured to judge
    reading.rules = quality->rules;
  } catch (const std::exception& e) {
    store_.reset();
    if (!told_) notifier_.Message(std::string("The data quality cannot be read from the store: ") + e.what(), "Quality");
    told_ = true;
    return;
  }
  report_(counter, reading);
}

}  // namespace norvane::publish
