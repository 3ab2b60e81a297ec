// A plain HTTP GET on 127.0.0.1 for tests that scrape /metrics, and the value of a metric in a scrape.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace norvane::testing {

// A connected socket to 127.0.0.1:port, or -1. Reads and writes give up after `timeout`, so a
// server that never answers fails the test instead of hanging it.
inline int ConnectLoopback(uint16_t port, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  const timeval limit{static_cast<time_t>(timeout.count() / 1000), static_cast<suseconds_t>(timeout.count() % 1000 * 1000)};
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  if (connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return s;
  close(s);
  return -1;
}

// Empty when nothing listens on the port. `headers`: extra request lines, each ending in \r\n.
inline std::string HttpGet(uint16_t port, const std::string& path, const std::string& headers = "") {
  const int s = ConnectLoopback(port);
  std::string answer;
  if (s >= 0) {
    const std::string request =
        "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + headers + "Connection: close\r\n\r\n";
    if (write(s, request.data(), request.size()) == static_cast<ssize_t>(request.size())) {
      char chunk[4096];
      for (ssize_t n; (n = read(s, chunk, sizeof chunk)) > 0;) answer.append(chunk, static_cast<size_t>(n));
    }
    close(s);
  }
  return answer;
}

// The value of the first sample of a labelled metric (`name{...} value`); empty when there is none.
inline std::optional<double> FirstSample(const std::string& scrape, const std::string& name) {
  const size_t at = scrape.find("\n" + name + "{");
  if (at == std::string::npos) return std::nullopt;
  const size_t value = scrape.find("} ", at);
  if (value == std::string::npos) return std::nullopt;
  return std::stod(scrape.substr(value + 2, scrape.find('\n', value) - value - 2));
}

}  // namespace norvane::testing
