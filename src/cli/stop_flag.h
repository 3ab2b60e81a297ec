// A stop request from a signal watch that ends the long-running commands' waits early.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace norvane::cli {

class StopFlag {
 public:
  void Raise() {
    {
      std::lock_guard lock(mutex_);
      raised_ = true;
    }
    wake_.notify_all();
  }
  bool raised() {
    std::lock_guard lock(mutex_);
    return raised_;
  }
  void Wait() {
    std::unique_lock lock(mutex_);
    wake_.wait(lock, [this] { return raised_; });
  }
  // False when the stop came first.
  bool WaitUntil(std::chrono::steady_clock::time_point at) {
    std::unique_lock lock(mutex_);
    return !wake_.wait_until(lock, at, [this] { return raised_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable wake_;
  bool raised_ = false;
};

}  // namespace norvane::cli
