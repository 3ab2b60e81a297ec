#include "core/upload/upload_station.h"

#include <chrono>
#include <memory>

#include "core/store/store.h"
#include "core/upload/upload_scheduler.h"

namespace norvane::upload {
namespace {

// A store that cannot be opened or written is tried again after this long.
constexpr int64_t kStoreRetry = 30;
// The thread looks again at least this often, so a changed clock cannot put it to sleep for long.
constexpr int64_t kLongestSleep = 60;

}  // namespace

UploadStation::UploadStation(std::vector<NetworkSetup> setups, std::filesystem::path store, std::string holder,
                             UserNotifier& notifier)
    : setups_(std::move(setups)), store_(std::move(store)), holder_(std::move(holder)), notifier_(notifier) {
  thread_ = std::thread([this] { Run(); });
}

UploadStation::~UploadStation() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void UploadStation::OnSecond(const store::CounterInfo& counter, const LiveSecond& /*second*/) {
  {
    std::lock_guard lock(mutex_);
    if (counter_) return;
    counter_ = counter;
  }
  wake_.notify_all();
}

void UploadStation::Run() {
  SystemClock clock;
  store::CounterInfo counter;
  {
    std::unique_lock lock(mutex_);
    wake_.wait(lock, [&] { return stop_ || counter_; });
    if (stop_) return;
    counter = *counter_;
  }
  std::unique_ptr<store::Store> db;
  std::optional<UploadScheduler> scheduler;
  for (;;) {
    int64_t wake = clock.Now() + kStoreRetry;
    try {
      if (!scheduler) {
        // The journals of ended writers are the seconds' writer's to fold, and to tell what was lost.
        db = std::make_unique<store::Store>(store_, store::Store::Access::kReadWrite, store::Store::Journals::kLeave);
        db->HoldAs(holder_, 0);
        const store::CounterId id = db->RegisterCounter(counter, clock.Now());
        scheduler.emplace(*db, id, setups_, clock, notifier_);
      }
      wake = scheduler->Step();
    } catch (const store::StoreError& e) {
      notifier_.Status(std::string("Uploads to the public maps wait for the store: ") + e.what());
      scheduler.reset();
      db.reset();
    }
    wake = std::min(wake, clock.Now() + kLongestSleep);
    std::unique_lock lock(mutex_);
    const auto until = std::chrono::system_clock::from_time_t(static_cast<std::time_t>(wake));
    if (wake_.wait_until(lock, until, [&] { return stop_; })) return;
  }
}

}  // namespace norvane::upload
