#include "core/publish/metrics_server.h"

#include <microhttpd.h>
#include <netdb.h>
#include <sys/socket.h>

#include <charconv>

#include "core/i18n/language_dictionary.h"
#include "core/i18n/window_texts.h"

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

namespace {

// Two threads: a scrape that reads the store for the first time never stalls the other.
constexpr unsigned kThreads = 2;
// A burst of scrapers (or a reconnecting crowd) queues in the kernel instead of being refused.
constexpr unsigned kBacklog = 1024;

bool WantsOpenMetrics(MHD_Connection* connection) {
  const char* accept = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_ACCEPT);
  return accept && std::string_view(accept).find("application/openmetrics-text") != std::string_view::npos;
}

MHD_Result Reply(MHD_Connection* connection, unsigned status, const std::string& body, const char* type) {
  MHD_Response* response = MHD_create_response_from_buffer(body.size(), const_cast<char*>(body.data()),
                                                           MHD_RESPMEM_MUST_COPY);
  if (!response) return MHD_NO;
  MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, type);
  if (status == MHD_HTTP_METHOD_NOT_ALLOWED) MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, "GET, HEAD");
  MHD_add_response_header(response, MHD_HTTP_HEADER_VARY, MHD_HTTP_HEADER_ACCEPT);
  const MHD_Result queued = MHD_queue_response(connection, status, response);
  MHD_destroy_response(response);
  return queued;
}

MHD_Result Answer(void* self, MHD_Connection* connection, const char* url, const char* method, const char*,
                  const char*, size_t* upload_size, void** request) {
  // The library calls once with the headers and again once the body (if any) has been read; an
  // answer given at the first call would close the connection instead of keeping it alive.
  if (!*request) {
    *request = self;  // any mark will do
    return MHD_YES;
  }
  if (*upload_size != 0) {
    *upload_size = 0;  // a body is read and dropped: nothing here takes one
    return MHD_YES;
  }
  auto& registry = *static_cast<MetricsRegistry*>(self);
  const std::string_view path(url);
  if (std::string_view(method) != MHD_HTTP_METHOD_GET && std::string_view(method) != MHD_HTTP_METHOD_HEAD)
    return Reply(connection, MHD_HTTP_METHOD_NOT_ALLOWED, "Only GET is answered here.\n", "text/plain; charset=utf-8");
  if (path == "/metrics") {
    if (WantsOpenMetrics(connection))
      return Reply(connection, MHD_HTTP_OK, registry.Render(MetricsRegistry::Format::kOpenMetrics),
                   "application/openmetrics-text; version=1.0.0; charset=utf-8");
    return Reply(connection, MHD_HTTP_OK, registry.Render(MetricsRegistry::Format::kText),
                 "text/plain; version=0.0.4; charset=utf-8");
  }
  if (path == "/")
    return Reply(connection, MHD_HTTP_OK, "Norvane Data Viewer: the metrics are at /metrics\n",
                 "text/plain; charset=utf-8");
  return Reply(connection, MHD_HTTP_NOT_FOUND, "Not found: the metrics are at /metrics\n", "text/plain; charset=utf-8");
}

}  // namespace

MetricsServer::MetricsServer(ListenAddress address, MetricsRegistry& registry, UserNotifier& notifier)
    : registry_(registry) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(address.port);
  if (getaddrinfo(address.host.c_str(), service.c_str(), &hints, &found) == 0 && found) {
    // The library sets SO_REUSEADDR, so a quick restart rebinds, but never SO_REUSEPORT unless
    // asked: a second service on the same port is told instead of sharing it.
    daemon_ = MHD_start_daemon(
        MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_AUTO | (found->ai_family == AF_INET6 ? MHD_USE_IPv6 : 0), 0,
        nullptr, nullptr, &Answer, &registry_,
        MHD_OPTION_SOCK_ADDR, found->ai_addr,
        MHD_OPTION_THREAD_POOL_SIZE, kThreads,
        MHD_OPTION_CONNECTION_TIMEOUT, kIdleTimeoutSeconds,
        MHD_OPTION_LISTEN_BACKLOG_SIZE, kBacklog,
        MHD_OPTION_END);
    freeaddrinfo(found);
  }
  if (daemon_) {
    const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_BIND_PORT);
    port_ = info ? info->port : address.port;
    return;
  }
  notifier.Message(EnglishText(kTextMsgMetricsCannotListen, {address.host + ":" + std::to_string(address.port)}),
                   EnglishText(kTextCaptionMetrics));
}

MetricsServer::~MetricsServer() {
  if (daemon_) MHD_stop_daemon(daemon_);
}

}  // namespace norvane::publish
