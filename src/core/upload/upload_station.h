// A station's uploads to the public maps: a thread of their own, fed by the live seconds.
#pragma once

#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/common/user_notifier.h"
#include "core/realtime/live_sink.h"
#include "core/upload/map_network.h"

namespace norvane::upload {

// Uploads the first counter it is told of from the store at `store`, where the seconds' writer
// (token `holder`) keeps them; slow networks never hold up the polling thread.
class UploadStation final : public LiveSink {
 public:
  UploadStation(std::vector<NetworkSetup> setups, std::filesystem::path store, std::string holder,
                UserNotifier& notifier);
  ~UploadStation() override;

  void OnSecond(const store::CounterInfo& counter, const LiveSecond& second) override;
  void OnLinkState(const store::CounterInfo& /*counter*/, LinkState /*state*/) override {}

 private:
  void Run();

  const std::vector<NetworkSetup> setups_;
  const std::filesystem::path store_;
  const std::string holder_;
  UserNotifier& notifier_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::optional<store::CounterInfo> counter_;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace norvane::upload
