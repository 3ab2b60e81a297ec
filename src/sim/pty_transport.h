// Puts a simulated counter on a pseudo-terminal, so the program opens it like a serial port.
#pragma once

#include <atomic>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "sim/simulated_counter.h"

namespace norvane::sim {

class PtyTransport {
 public:
  // Creates the pseudo-terminal (raw, at the counter's baud rate) and, when asked, a symbolic
  // link to it; an old link at that path is replaced, anything else there is left alone and
  // reported. Empty with `*error` set on failure. `counter` must outlive the transport.
  static std::unique_ptr<PtyTransport> Open(SimulatedCounter& counter, std::string* error,
                                            const std::optional<std::filesystem::path>& link = std::nullopt);
  ~PtyTransport();
  PtyTransport(const PtyTransport&) = delete;
  PtyTransport& operator=(const PtyTransport&) = delete;

  // The device to open, e.g. /dev/pts/7.
  const std::string& device_path() const { return device_path_; }
  const std::optional<std::filesystem::path>& link() const { return link_; }

  // Starts the thread that serves the line; Stop ends it and is called by the destructor, which
  // also removes the link.
  bool Start(std::string* error);
  void Stop();

  // Runs `f` on the counter while the serving thread keeps its hands off it.
  template <typename F>
  auto Inspect(F&& f) {
    std::lock_guard lock(mutex_);
    return f(counter_);
  }

 private:
  PtyTransport(SimulatedCounter& counter) : counter_(counter) {}
  void Serve();
  int LineBaud() const;

  SimulatedCounter& counter_;
  std::mutex mutex_;
  int master_ = -1;
  int slave_ = -1;  // held open so the line survives the program closing and reopening it
  int wake_ = -1;
  std::string device_path_;
  std::optional<std::filesystem::path> link_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
};

}  // namespace norvane::sim
