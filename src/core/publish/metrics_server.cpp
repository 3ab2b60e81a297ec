#include "core/publish/metrics_server.h"

#include <httplib.h>
#include <sys/socket.h>

#include <charconv>

namespace norvane::publish {

std::optional<ListenAddress> ParseListenAddress(std::string_view text, std::string* error) {
  const auto fail = [&] {
    if (error)
      *error = "The metrics address \"" + std::string(text) +
               "\" is not usable: give ADDRESS:PORT (such as 127.0.0.1:9750) or a port from 1 to 65535.";
    return std::nullopt;
  };
  ListenAddress address;
  std::string_view port = text;
  if (text.starts_with('[')) {
    const size_t close = text.find("]:");
    if (close == std::string_view::npos) return fail();
    address.host = std::string(text.substr(1, close - 1));
    port = text.substr(close + 2);
  } else if (const size_t colon = text.rfind(':'); colon != std::string_view::npos) {
    address.host = std::string(text.substr(0, colon));
    port = text.substr(colon + 1);
  }
  unsigned number = 0;
  const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), number);
  if (address.host.empty() || port.empty() || ec != std::errc() || end != port.data() + port.size() || number == 0 ||
      number > 65535)
    return fail();
  address.port = static_cast<uint16_t>(number);
  return address;
}

MetricsServer::MetricsServer(ListenAddress address, MetricsRegistry& registry, UserNotifier& notifier)
    : server_(std::make_unique<httplib::Server>()) {
  // One worker is plenty for a scrape every few seconds and keeps the service's footprint small.
  server_->new_task_queue = [] { return new httplib::ThreadPool(1); };
  // The library would also share the port with another program (SO_REUSEPORT); a second service
  // on the same port must be told instead, so only a quick restart's rebind is allowed.
  server_->set_socket_options([](socket_t socket) {
    const int yes = 1;
    setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  server_->Get("/metrics", [&registry](const httplib::Request&, httplib::Response& response) {
    response.set_content(registry.Render(), "text/plain; version=0.0.4; charset=utf-8");
  });
  server_->Get("/", [](const httplib::Request&, httplib::Response& response) {
    response.set_content("Norvane Data Viewer: the metrics are at /metrics\n", "text/plain; charset=utf-8");
  });
  const int bound = address.port == 0 ? server_->bind_to_any_port(address.host)
                                      : (server_->bind_to_port(address.host, address.port) ? address.port : -1);
  if (bound <= 0) {
    notifier.Message("The metrics endpoint cannot listen on " + address.host + ":" + std::to_string(address.port) +
                         " (the port is taken or the address is not this machine's). Logging goes on without it.",
                     "Metrics");
    return;
  }
  port_ = static_cast<uint16_t>(bound);
  thread_ = std::thread([this] {
    server_->listen_after_bind();
    finished_ = true;
  });
}

MetricsServer::~MetricsServer() {
  if (!thread_.joinable()) return;
  // A stop that comes before the thread has begun listening is not seen by the library, so it
  // is repeated until the thread has ended.
  while (!finished_) {
    server_->stop();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  thread_.join();
}

}  // namespace norvane::publish
