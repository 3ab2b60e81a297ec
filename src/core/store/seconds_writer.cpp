#include "core/store/seconds_writer.h"

#include <algorithm>

namespace norvane::store {

SecondsWriter::SecondsWriter(std::filesystem::path path, UserNotifier& notifier, WriterPauses pauses)
    : path_(std::move(path)), notifier_(notifier), pauses_(pauses), pause_(pauses.first) {
  thread_ = std::thread([this] { Run(); });
}

SecondsWriter::~SecondsWriter() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

SecondsWriter::Handle SecondsWriter::AddCounter(const CounterInfo& info, int64_t now) {
  std::lock_guard lock(mutex_);
  counters_.push_back({info, now, std::nullopt});
  return counters_.size() - 1;
}

void SecondsWriter::Append(Handle counter, int64_t utc, uint32_t count) {
  {
    std::lock_guard lock(mutex_);
    incoming_[counter].push_back({utc, count});
    ++appended_;
    ++health_.queued;
  }
  wake_.notify_one();
}

bool SecondsWriter::Flush(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  const uint64_t target = appended_;
  return done_.wait_for(lock, timeout, [&] { return health_.committed + health_.dropped >= target; });
}

SecondsWriter::Health SecondsWriter::health() const {
  std::lock_guard lock(mutex_);
  return health_;
}

std::optional<CounterId> SecondsWriter::StoreId(Handle counter) const {
  std::lock_guard lock(mutex_);
  return counter < counters_.size() ? counters_[counter].id : std::nullopt;
}

void SecondsWriter::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    const auto ready = [&] { return stop_ || !incoming_.empty(); };
    if (health_.failing) wake_.wait_for(lock, pause_, [&] { return stop_; });
    else wake_.wait(lock, ready);
    const bool stopping = stop_;
    for (auto& [handle, seconds] : incoming_) {
      auto& into = held_[handle];
      into.insert(into.end(), seconds.begin(), seconds.end());
    }
    incoming_.clear();
    lock.unlock();
    CommitAll(held_);
    lock.lock();
    done_.notify_all();
    if (stopping) return;
  }
}

void SecondsWriter::CommitAll(std::map<Handle, std::vector<Second>>& batch) {
  if (batch.empty()) return;
  try {
    if (!store_) store_ = std::make_unique<Store>(path_);
    for (auto it = batch.begin(); it != batch.end();) {
      std::optional<CounterId> id;
      Counter counter;
      {
        std::lock_guard lock(mutex_);
        counter = counters_.at(it->first);
      }
      id = counter.id ? counter.id : store_->RegisterCounter(counter.info, counter.seen);
      {
        std::lock_guard lock(mutex_);
        counters_[it->first].id = id;
      }
      store_->AppendSeconds(*id, it->second);
      const uint64_t written = it->second.size();
      it = batch.erase(it);
      std::lock_guard lock(mutex_);
      health_.committed += written;
      health_.queued -= written;
    }
    if (reported_) notifier_.Status("The long-term store " + path_.string() + " is written again.");
    std::lock_guard lock(mutex_);
    reported_ = false;
    pause_ = pauses_.first;
    health_.failing = false;
  } catch (const StoreError& e) {
    Failed(e.what());
  } catch (const std::exception& e) {
    Failed(e.what());
  }
}

void SecondsWriter::Failed(const std::string& reason) {
  // A connection that failed may hold a broken transaction or a stale view of a replaced file;
  // the next try starts afresh.
  store_.reset();
  uint64_t dropped = 0;
  uint64_t queued = 0;
  for (auto& [handle, seconds] : held_) queued += seconds.size();
  for (auto& [handle, seconds] : held_) {
    if (queued <= kMaxQueued) break;
    const uint64_t cut = std::min<uint64_t>(seconds.size(), queued - kMaxQueued);
    seconds.erase(seconds.begin(), seconds.begin() + static_cast<std::ptrdiff_t>(cut));
    queued -= cut;
    dropped += cut;
  }
  const bool first = !reported_;
  reported_ = true;
  {
    std::lock_guard lock(mutex_);
    ++health_.failures;
    health_.dropped += dropped;
    health_.queued -= dropped;
    health_.failing = true;
    pause_ = first ? pauses_.first : std::min(pauses_.longest, pause_ * 2);
  }
  if (first)
    notifier_.Message("The long-term store " + path_.string() + " cannot be written: " + reason +
                          "\nMonitoring goes on; the seconds are kept and written as soon as the store can take them.",
                      "Long-term store");
}

}  // namespace norvane::store
