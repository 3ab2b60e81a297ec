// A counter's side written by hand: answers each frame that ends in ">>" with a canned reply.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/core/serial/pty_pair.h"

namespace norvane::testing {

class ScriptedCounter {
 public:
  // `answer` gets each frame (from "<" to ">>") and returns the bytes to send back.
  ScriptedCounter(const PtyPair& pty, std::function<std::vector<uint8_t>(const std::string& frame)> answer)
      : pty_(pty), answer_(std::move(answer)), thread_([this] { Serve(); }) {}
  ~ScriptedCounter() {
    stop_ = true;
    thread_.join();
  }

  std::vector<std::string> frames() const {
    std::lock_guard lock(mutex_);
    return frames_;
  }

 private:
  void Serve() {
    std::string pending;
    while (!stop_) {
      const std::vector<uint8_t> got = pty_.Read(1, std::chrono::milliseconds(20));
      if (got.empty()) continue;
      pending += static_cast<char>(got[0]);
      if (pending.size() >= 3 && pending.ends_with(">>")) {
        const size_t start = pending.rfind('<');
        const std::string frame = start == std::string::npos ? pending : pending.substr(start);
        pending.clear();
        {
          std::lock_guard lock(mutex_);
          frames_.push_back(frame);
        }
        pty_.Write(answer_(frame));
      }
    }
  }

  const PtyPair& pty_;
  std::function<std::vector<uint8_t>(const std::string&)> answer_;
  mutable std::mutex mutex_;
  std::vector<std::string> frames_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// A version reply padded with zeros to the 20 bytes the counter sends.
inline std::vector<uint8_t> VersionReply(std::string_view text) {
  std::vector<uint8_t> reply(text.begin(), text.end());
  reply.resize(20, 0);
  return reply;
}

}  // namespace norvane::testing
