// A real Mosquitto broker on 127.0.0.1 for tests, and a subscriber that keeps what it receives.
#pragma once

#include <arpa/inet.h>
#include <mosquitto.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/core/net/one_shot_http_server.h"

extern char** environ;

namespace norvane::testing {

inline std::filesystem::path FindProgram(const std::string& name) {
  for (const char* dir : {"/usr/sbin", "/usr/bin", "/usr/local/sbin", "/usr/local/bin"}) {
    const std::filesystem::path candidate = std::filesystem::path(dir) / name;
    if (std::filesystem::exists(candidate)) return candidate;
  }
  return {};
}

// A port on 127.0.0.1 that nobody listens on yet.
inline uint16_t FreePort() { return static_cast<uint16_t>(RefusingPort()); }

inline bool Accepts(uint16_t port) {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  const bool ok = connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(s);
  return ok;
}

// Keeps retained messages and sessions across a restart, as a broker in service does.
class MosquittoBroker {
 public:
  // `users`: "name:password" lines; none means anyone may connect. `acl`: the lines of an ACL
  // file (as "pattern write norvane/%u/#"); none means every user may read and write anything.
  MosquittoBroker(const std::filesystem::path& dir, std::vector<std::string> users = {},
                  const std::vector<std::string>& acl = {})
      : dir_(dir), program_(FindProgram("mosquitto")), port_(FreePort()) {
    std::filesystem::create_directories(dir_);
    std::ofstream config(dir_ / "mosquitto.conf");
    config << "listener " << port_ << " 127.0.0.1\n"
           << "persistence true\npersistence_location " << dir_.string() << "/\n"
           // A consumer away while the gap is sent would otherwise lose all but the first 1000.
           << "max_queued_messages 1000000\n"
           << "log_dest file " << (dir_ / "broker.log").string() << "\n"
           // As root the broker would switch to its own user and lose access to this folder.
           << "user " << (geteuid() == 0 ? "root" : "mosquitto") << "\n";
    if (users.empty()) {
      config << "allow_anonymous true\n";
    } else {
      const auto passwords = dir_ / "passwords";
      std::ofstream(passwords).close();
      for (const std::string& user : users) {
        const size_t colon = user.find(':');
        const std::string command = FindProgram("mosquitto_passwd").string() + " -b " + passwords.string() + " " +
                                    user.substr(0, colon) + " " + user.substr(colon + 1);
        if (std::system(command.c_str()) != 0) program_.clear();
      }
      config << "allow_anonymous false\npassword_file " << passwords.string() << "\n";
    }
    if (!acl.empty()) {
      std::ofstream lines(dir_ / "acl");
      for (const std::string& line : acl) lines << line << "\n";
      config << "acl_file " << (dir_ / "acl").string() << "\n";
    }
  }
  ~MosquittoBroker() { Stop(); }

  bool available() const { return !program_.empty(); }
  uint16_t port() const { return port_; }
  // What the broker logged: its clients' connections, takeovers and disconnections.
  std::string Log() const {
    std::ifstream in(dir_ / "broker.log");
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::string url(const std::string& login = {}) const {
    return "mqtt://" + (login.empty() ? "" : login + "@") + "127.0.0.1:" + std::to_string(port_) + "/station";
  }

  bool Start() {
    const std::string config = (dir_ / "mosquitto.conf").string();
    std::vector<char*> argv{const_cast<char*>(program_.c_str()), const_cast<char*>("-c"),
                            const_cast<char*>(config.c_str()), nullptr};
    if (posix_spawn(&pid_, program_.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return false;
    for (int i = 0; i < 200; ++i) {
      if (Accepts(port_)) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return false;
  }
  // Ends the broker as a service stop does; it saves its sessions and retained messages first.
  void Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
  }

 private:
  std::filesystem::path dir_;
  std::filesystem::path program_;
  uint16_t port_;
  pid_t pid_ = -1;
};

// Subscribes to everything, with a lasting session unless told, so messages sent while it was away
// (the broker restarting) still reach it.
class Subscriber {
 public:
  struct Received {
    std::string topic;
    std::string payload;
    bool retained = false;
    std::chrono::steady_clock::time_point arrived{};
  };

  // `user`, `password`: the login a guarded broker asks for. `lasting`: off, the session starts
  // afresh at each connection, as Home Assistant's does.
  explicit Subscriber(uint16_t port, const std::string& id = "norvane-test-subscriber", const std::string& user = {},
                      const std::string& password = {}, bool lasting = true) {
    mosquitto_lib_init();
    client_ = mosquitto_new(id.c_str(), !lasting, this);
    if (!user.empty()) mosquitto_username_pw_set(client_, user.c_str(), password.c_str());
    mosquitto_connect_callback_set(client_, [](mosquitto* client, void*, int rc) {
      if (rc == 0) mosquitto_subscribe(client, nullptr, "#", 1);
    });
    mosquitto_subscribe_callback_set(client_, [](mosquitto*, void* self, int, int, const int*) {
      auto* me = static_cast<Subscriber*>(self);
      std::lock_guard lock(me->mutex_);
      me->subscribed_ = true;
      me->changed_.notify_all();
    });
    mosquitto_message_callback_set(client_, [](mosquitto*, void* self, const mosquitto_message* m) {
      auto* me = static_cast<Subscriber*>(self);
      std::lock_guard lock(me->mutex_);
      me->received_.push_back({m->topic, std::string(static_cast<const char*>(m->payload), m->payloadlen), m->retain,
                               std::chrono::steady_clock::now()});
      me->changed_.notify_all();
    });
    mosquitto_reconnect_delay_set(client_, 1, 1, false);
    mosquitto_connect(client_, "127.0.0.1", port, 30);
    mosquitto_loop_start(client_);
  }
  ~Subscriber() {
    mosquitto_disconnect(client_);
    mosquitto_loop_stop(client_, false);
    mosquitto_destroy(client_);
    mosquitto_lib_cleanup();
  }

  // As another program would, such as Home Assistant announcing its start.
  bool Publish(const std::string& topic, const std::string& payload) {
    return mosquitto_publish(client_, nullptr, topic.c_str(), static_cast<int>(payload.size()), payload.data(), 1,
                             false) == MOSQ_ERR_SUCCESS;
  }
  bool WaitSubscribed(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return subscribed_; });
  }
  // Waits until `done` holds for what was received so far.
  bool WaitFor(std::chrono::milliseconds timeout, const std::function<bool(const std::vector<Received>&)>& done) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return done(received_); });
  }
  std::vector<Received> received() const {
    std::lock_guard lock(mutex_);
    return received_;
  }
  std::vector<Received> On(const std::string& topic) const {
    std::vector<Received> out;
    for (const Received& r : received())
      if (r.topic == topic) out.push_back(r);
    return out;
  }

 private:
  mosquitto* client_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool subscribed_ = false;
  std::vector<Received> received_;
};

// What a consumer that comes later finds under the discovery prefix, once `configs` messages are
// there; empty when they do not come within 10 s.
inline std::vector<Subscriber::Received> LaterDiscovery(uint16_t port, size_t configs,
                                                        const std::string& prefix = "homeassistant/",
                                                        const std::string& user = {}, const std::string& password = {}) {
  Subscriber later(port, "norvane-later-subscriber", user, password);
  const auto under = [&](const std::vector<Subscriber::Received>& received) {
    std::vector<Subscriber::Received> found;
    for (const auto& m : received)
      if (m.topic.starts_with(prefix)) found.push_back(m);
    return found;
  };
  if (!later.WaitFor(std::chrono::seconds(10), [&](const auto& received) { return under(received).size() == configs; }))
    return {};
  return under(later.received());
}

}  // namespace norvane::testing
