// A local HTTP server that answers as one of the public radiation maps does: its keys, its
// refusals of repeats and of too-frequent posts, its failures; for the upload tests and bench.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <atomic>
#include <ctime>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/upload/map_network.h"

namespace norvane::testing {

class MapServer {
 public:
  enum class Mode { kUp, kDown, kSilent };  // kDown: 503; kSilent: keeps the request unanswered
  struct Reading {
    int64_t arrival = 0;
    int64_t time = 0;  // the reading's own time, else its arrival
    double value = 0;
  };

  // `now`: the time the server judges posts by (the test's virtual clock).
  MapServer(upload::MapNetwork network, std::string key, std::function<int64_t()> now)
      : network_(network), key_(std::move(key)), now_(std::move(now)) {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listener_, 16) != 0)
      return;
    socklen_t length = sizeof address;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] {
      while (!stop_) ServeOne();
    });
  }
  ~MapServer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (listener_ >= 0) close(listener_);
  }

  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }
  void set_mode(Mode mode) { mode_ = mode; }

  // Every reading taken, in order of arrival.
  std::vector<Reading> readings() const { return Locked(readings_); }
  std::vector<int64_t> arrivals() const { return Locked(arrivals_); }  // of every request
  int too_soon() const { return too_soon_; }
  int repeats() const { return repeats_; }        // exact repeats refused (Safecast)
  int duplicates() const { return duplicates_; }  // a time taken twice
  int refused_keys() const { return refused_keys_; }
  // The shortest time between two requests, from the answer of one to the next.
  int64_t shortest_spacing() const { return Locked(shortest_); }

 private:
  template <typename T>
  T Locked(const T& value) const {
    std::lock_guard lock(mutex_);
    return value;
  }

  static std::string Decode(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '%' && i + 2 < text.size()) {
        out += static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16));
        i += 2;
      } else {
        out += text[i] == '+' ? ' ' : text[i];
      }
    }
    return out;
  }
  static std::map<std::string, std::string> Query(const std::string& target) {
    std::map<std::string, std::string> out;
    const size_t q = target.find('?');
    if (q == std::string::npos) return out;
    std::string_view rest(target);
    rest.remove_prefix(q + 1);
    while (!rest.empty()) {
      const size_t amp = rest.find('&');
      const std::string_view pair = rest.substr(0, amp);
      const size_t eq = pair.find('=');
      out[std::string(pair.substr(0, eq))] = eq == std::string_view::npos ? "" : Decode(pair.substr(eq + 1));
      rest.remove_prefix(amp == std::string_view::npos ? rest.size() : amp + 1);
    }
    return out;
  }
  // "2026-12-09 01:05:00" or "2026-12-09T01:05:00Z", UTC.
  static int64_t ParseUtc(const std::string& text) {
    std::tm tm{};
    if (sscanf(text.c_str(), "%d-%d-%d%*c%d:%d:%d", &tm.tm_year, &tm.tm_mon, &tm.tm_mday, &tm.tm_hour, &tm.tm_min,
               &tm.tm_sec) != 6)
      return -1;
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    return timegm(&tm);
  }

  // Takes a reading unless its time is held already, which counts as a duplicate.
  void Take(int64_t arrival, int64_t time, double value) {
    std::lock_guard lock(mutex_);
    for (const Reading& r : readings_)
      if (r.time == time) ++duplicates_;
    readings_.push_back({arrival, time, value});
  }
  bool Holds(int64_t time, double value) const {
    std::lock_guard lock(mutex_);
    for (const Reading& r : readings_)
      if (r.time == time && r.value == value) return true;
    return false;
  }

  struct Answer {
    int status;
    std::string body;
  };
  Answer Handle(const std::string& target, const std::map<std::string, std::string>& headers,
                const std::string& body, int64_t arrival) {
    using upload::MapNetwork;
    const auto header = [&](const char* name) {
      const auto it = headers.find(name);
      return it == headers.end() ? std::string() : it->second;
    };
    switch (network_) {
      case MapNetwork::kRadmon: {
        const auto q = Query(target);
        if (q.count("password") == 0 || q.at("password") != key_) {
          ++refused_keys_;
          return {200, "Incorrect login."};
        }
        if (last_radmon_ && arrival - *last_radmon_ < 30) {
          ++too_soon_;
          return {200, "Too soon"};
        }
        last_radmon_ = arrival;
        const auto when = q.find("datetime");
        Take(arrival, when == q.end() ? arrival : ParseUtc(when->second), std::stod(q.at("value")));
        return {200, "OK<br>"};
      }
      case MapNetwork::kSafecast: {
        const auto q = Query(target);
        if (q.count("api_key") == 0 || q.at("api_key") != key_) {
          ++refused_keys_;
          return {401, R"({"error":"You need to sign in or sign up before continuing."})"};
        }
        const auto json = nlohmann::json::parse(body);
        const int64_t time = ParseUtc(json.at("captured_at").get<std::string>());
        const double value = json.at("value").get<double>();
        if (Holds(time, value)) {
          ++repeats_;
          return {422, R"({"errors":{"base":["duplicate measurement: already taken"]}})"};
        }
        Take(arrival, time, value);
        return {201, body};
      }
      case MapNetwork::kOpenSenseMap: {
        if (header("authorization") != key_) {
          ++refused_keys_;
          return {401, R"({"code":"Unauthorized","message":"Box access token not valid!"})"};
        }
        const auto json = nlohmann::json::parse(body);
        for (const auto& one : json)
          if (ParseUtc(one.at("createdAt").get<std::string>()) > arrival + 60)
            return {422, R"({"code":"UnprocessableEntity","message":"timestamp in the future"})"};
        for (const auto& one : json)
          Take(arrival, ParseUtc(one.at("createdAt").get<std::string>()), std::stod(one.at("value").get<std::string>()));
        return {201, "Measurements saved in box"};
      }
      case MapNetwork::kSensorCommunity: {
        if (header("x-sensor") != key_ || header("x-pin") != "19") {
          ++refused_keys_;
          return {403, "sensor unknown"};
        }
        const auto json = nlohmann::json::parse(body);
        for (const auto& one : json.at("sensordatavalues"))
          if (one.at("value_type") == "counts_per_minute") Take(arrival, arrival, std::stod(one.at("value").get<std::string>()));
        return {201, "OK"};
      }
    }
    return {500, ""};
  }

  void ServeOne() {
    pollfd p{listener_, POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) return;
    const int client = accept(listener_, nullptr, nullptr);
    if (client < 0) return;
    std::string request;
    char chunk[4096];
    size_t head_end = std::string::npos, length = 0;
    for (;;) {
      pollfd c{client, POLLIN, 0};
      if (poll(&c, 1, 2000) <= 0) break;
      const ssize_t n = read(client, chunk, sizeof chunk);
      if (n <= 0) break;
      request.append(chunk, static_cast<size_t>(n));
      head_end = request.find("\r\n\r\n");
      if (head_end == std::string::npos) continue;
      std::string lower = request.substr(0, head_end);
      for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
      const size_t at = lower.find("content-length: ");
      length = at == std::string::npos ? 0 : std::stoul(lower.substr(at + 16));
      if (request.size() >= head_end + 4 + length) break;
    }
    const int64_t arrival = now_();
    if (mode_ == Mode::kSilent) {
      {
        std::lock_guard lock(mutex_);
        arrivals_.push_back(arrival);
      }
      // Holds the connection until the client gives up.
      pollfd c{client, POLLIN, 0};
      while (!stop_ && poll(&c, 1, 50) == 0) {}
      close(client);
      return;
    }
    Answer answer{503, "Service Unavailable"};
    if (head_end != std::string::npos && mode_ == Mode::kUp) {
      const size_t line_end = request.find("\r\n");
      const std::string line = request.substr(0, line_end);
      const size_t sp1 = line.find(' '), sp2 = line.find(' ', sp1 + 1);
      const std::string target = line.substr(sp1 + 1, sp2 - sp1 - 1);
      std::map<std::string, std::string> headers;
      size_t at = line_end + 2;
      while (at < head_end) {
        const size_t end = request.find("\r\n", at);
        const std::string h = request.substr(at, end - at);
        const size_t colon = h.find(':');
        std::string name = h.substr(0, colon);
        for (char& ch : name) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        headers[name] = colon == std::string::npos ? "" : h.substr(h.find_first_not_of(' ', colon + 1));
        at = end + 2;
      }
      answer = Handle(target, headers, request.substr(head_end + 4, length), arrival);
    }
    {
      std::lock_guard lock(mutex_);
      if (last_answer_) shortest_ = std::min(shortest_, arrival - *last_answer_);
      arrivals_.push_back(arrival);
      // Before the client has its answer, and with it the chance to move the clock on.
      last_answer_ = now_();
    }
    const std::string reply = "HTTP/1.1 " + std::to_string(answer.status) + " X\r\nContent-Length: " +
                              std::to_string(answer.body.size()) + "\r\nConnection: close\r\n\r\n" + answer.body;
    (void)!write(client, reply.data(), reply.size());
    close(client);
  }

  const upload::MapNetwork network_;
  const std::string key_;
  const std::function<int64_t()> now_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<Mode> mode_{Mode::kUp};
  mutable std::mutex mutex_;
  std::vector<Reading> readings_;
  std::vector<int64_t> arrivals_;
  std::optional<int64_t> last_radmon_, last_answer_;
  std::atomic<int> too_soon_{0}, repeats_{0}, duplicates_{0}, refused_keys_{0};
  int64_t shortest_ = INT64_MAX;
  std::thread thread_;
};

}  // namespace norvane::testing
