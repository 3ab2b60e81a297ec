// The embedded HTTP server that answers Prometheus' scrapes of /metrics.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/common/user_notifier.h"
#include "core/publish/metrics_registry.h"

struct MHD_Daemon;

namespace norvane::publish {

struct ListenAddress {
  std::string host = "127.0.0.1";
  uint16_t port = 0;  // 0: any free port
};

// "ADDR:PORT", "[v6]:PORT", or a bare "PORT" on 127.0.0.1, so nothing is exposed unless asked.
std::optional<ListenAddress> ParseListenAddress(std::string_view text, std::string* error);

// Serves on a few threads of its own, each waiting on many connections at once, so a client that
// sends or reads slowly, or keeps an idle connection open, never holds up another's scrape; a
// connection idle for kIdleTimeoutSeconds is closed. A scrape reads the registry and never waits for the
// polling. Stopping closes every connection at once, whatever the clients are doing.
class MetricsServer {
 public:
  static constexpr unsigned kIdleTimeoutSeconds = 5;

  // Tells the user through the notifier when the address cannot be bound; logging goes on.
  MetricsServer(ListenAddress address, MetricsRegistry& registry, UserNotifier& notifier);
  ~MetricsServer();
  MetricsServer(const MetricsServer&) = delete;
  MetricsServer& operator=(const MetricsServer&) = delete;

  bool listening() const { return daemon_ != nullptr; }
  uint16_t port() const { return port_; }

 private:
  MetricsRegistry& registry_;
  MHD_Daemon* daemon_ = nullptr;
  uint16_t port_ = 0;
};

}  // namespace norvane::publish
