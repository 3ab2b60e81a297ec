// A plain HTTP GET on 127.0.0.1 for tests that scrape /metrics, and the value of a metric in a scrape.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <optional>
#include <string>

namespace norvane::testing {

// Empty when nothing listens on the port.
inline std::string HttpGet(uint16_t port, const std::string& path) {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  std::string answer;
  if (connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    const std::string request = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    if (write(s, request.data(), request.size()) == static_cast<ssize_t>(request.size())) {
      char chunk[4096];
      for (ssize_t n; (n = read(s, chunk, sizeof chunk)) > 0;) answer.append(chunk, static_cast<size_t>(n));
    }
  }
  close(s);
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
