#include "core/publish/quality_watch.h"

#include <filesystem>

#include "core/i18n/language_dictionary.h"
#include "core/i18n/window_texts.h"

namespace norvane::publish {

QualityWatch::QualityWatch(std::string store, UserNotifier& notifier, Report report, int64_t every)
    : location_(std::move(store)), notifier_(notifier), report_(std::move(report)), every_(every), thread_([this] { Run(); }) {}

QualityWatch::~QualityWatch() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void QualityWatch::Second(store::CounterId counter, int64_t utc) {
  {
    std::lock_guard lock(mutex_);
    const auto next = next_.find(counter);
    if (next != next_.end() && utc < next->second) return;
    next_[counter] = utc + every_;
    due_.emplace_back(counter, utc);
  }
  wake_.notify_all();
}

void QualityWatch::Run() {
  std::unique_lock lock(mutex_);
  while (true) {
    wake_.wait(lock, [&] { return stop_ || !due_.empty(); });
    // What was due is judged before stopping, so the last verdict of a run is not lost.
    if (due_.empty()) return;
    const auto [counter, utc] = due_.front();
    due_.pop_front();
    lock.unlock();
    Judge(counter, utc);
    lock.lock();
  }
}

void QualityWatch::Judge(store::CounterId counter, int64_t utc) {
  QualityReading reading;
  reading.utc = utc;
  reading.from = utc + 1 - kQualityStretch;
  reading.to = utc + 1;
  // A store its writer has not made yet holds nothing to judge; that is not a fault to tell.
  std::error_code ignored;
  if (!store_ && !store::IsServerLocation(location_) && !std::filesystem::exists(location_, ignored)) return;
  try {
    if (!store_) store_ = store::OpenStore(location_, store::StoreAccess::kReadOnly);
    const std::optional<store::DayQuality> quality = store::StretchQuality(*store_, counter, reading.from, reading.to);
    told_ = false;
    if (!quality) return;  // nothing measured to judge
    reading.rules = quality->rules;
  } catch (const std::exception& e) {
    store_.reset();
    if (!told_) notifier_.Message(EnglishText(kTextMsgQualityUnreadable, {e.what()}), EnglishText(kTextCaptionQuality));
    told_ = true;
    return;
  }
  report_(counter, reading);
}

}  // namespace norvane::publish
