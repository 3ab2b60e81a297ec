// The embedded HTTP server that answers Prometheus' scrapes of /metrics.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "core/common/user_notifier.h"
#include "core/publish/metrics_registry.h"

namespace httplib {
class Server;
}

namespace norvane::publish {

struct ListenAddress {
  std::string host = "127.0.0.1";
  uint16_t port = 0;  // 0: any free port
};

// "ADDR:PORT", "[v6]:PORT", or a bare "PORT" on 127.0.0.1, so nothing is exposed unless asked.
std::optional<ListenAddress> ParseListenAddress(std::string_view text, std::string* error);

// Serves on a thread of its own; a scrape reads the registry and never waits for the polling.
class MetricsServer {
 public:
  // Tells the user through the notifier when the address cannot be bound; logging goes on.
  MetricsServer(ListenAddress address, MetricsRegistry& registry, UserNotifier& notifier);
  ~MetricsServer();
  MetricsServer(const MetricsServer&) = delete;
  MetricsServer& operator=(const MetricsServer&) = delete;

  bool listening() const { return port_ != 0; }
  uint16_t port() const { return port_; }

 private:
  std::unique_ptr<httplib::Server> server_;
  uint16_t port_ = 0;
  std::atomic<bool> finished_{false};
  std::thread thread_;
};

}  // namespace norvane::publish
