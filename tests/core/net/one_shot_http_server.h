// A tiny HTTP server on 127.0.0.1 for tests: answers each request with a chosen status and body
// and keeps what it received.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace norvane::testing {

class OneShotHttpServer {
 public:
  // Serves `answers` requests, one connection each, with `status_line` (e.g. "200 OK").
  OneShotHttpServer(std::string status_line, std::string body, int answers = 1)
      : status_line_(std::move(status_line)), body_(std::move(body)) {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listener_, 4) != 0)
      return;
    socklen_t length = sizeof address;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this, answers] {
      for (int i = 0; i < answers && !stop_; ++i) ServeOne();
    });
  }
  ~OneShotHttpServer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (listener_ >= 0) close(listener_);
  }

  int port() const { return port_; }
  std::string base() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }
  std::vector<std::string> requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
  }

 private:
  void ServeOne() {
    pollfd p{listener_, POLLIN, 0};
    while (!stop_) {
      if (poll(&p, 1, 50) > 0) break;
    }
    if (stop_) return;
    const int client = accept(listener_, nullptr, nullptr);
    if (client < 0) return;
    std::string request;
    char chunk[1024];
    // Reads the head, then as much body as Content-Length says.
    for (;;) {
      pollfd c{client, POLLIN, 0};
      if (poll(&c, 1, 2000) <= 0) break;
      const ssize_t n = read(client, chunk, sizeof chunk);
      if (n <= 0) break;
      request.append(chunk, static_cast<size_t>(n));
      const size_t head_end = request.find("\r\n\r\n");
      if (head_end == std::string::npos) continue;
      size_t length = 0;
      const size_t at = request.find("Content-Length: ");
      if (at != std::string::npos && at < head_end) length = std::stoul(request.substr(at + 16));
      if (request.size() >= head_end + 4 + length) break;
    }
    {
      std::lock_guard lock(mutex_);
      requests_.push_back(request);
    }
    const std::string answer = "HTTP/1.1 " + status_line_ + "\r\nContent-Type: text/html\r\nContent-Length: " +
                               std::to_string(body_.size()) + "\r\nConnection: close\r\n\r\n" + body_;
    (void)!write(client, answer.data(), answer.size());
    close(client);
  }

  std::string status_line_;
  std::string body_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::vector<std::string> requests_;
  std::thread thread_;
};

// A port on 127.0.0.1 that nobody listens on: bound, then closed.
inline int RefusingPort() {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
  close(s);
  return ntohs(address.sin_port);
}

}  // namespace norvane::testing
