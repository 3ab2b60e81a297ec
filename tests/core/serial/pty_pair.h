// A bare pseudo-terminal for serial tests: the test writes the counter's side by hand.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace norvane::testing {

class PtyPair {
 public:
  PtyPair() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) return;
    char name[128];
    if (::ptsname_r(master_, name, sizeof name) != 0) return;
    path_ = name;
    // Raw on the counter's side too, so bytes pass unchanged in both directions.
    termios tio{};
    ::tcgetattr(master_, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(master_, TCSANOW, &tio);
    // Held open so the line survives the link closing and reopening it.
    hold_ = ::open(path_.c_str(), O_RDWR | O_NOCTTY);
  }
  ~PtyPair() {
    if (hold_ >= 0) ::close(hold_);
    if (master_ >= 0) ::close(master_);
  }
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  bool ok() const { return master_ >= 0 && hold_ >= 0; }
  const std::string& path() const { return path_; }

  void Write(const std::vector<uint8_t>& bytes) const {
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
      if (n <= 0) return;
      done += static_cast<size_t>(n);
    }
  }

  // What the link sent, collecting until `count` bytes or `wait` has passed.
  std::vector<uint8_t> Read(size_t count, std::chrono::milliseconds wait = std::chrono::milliseconds(500)) const {
    std::vector<uint8_t> out;
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (out.size() < count) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      pollfd p{master_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
      uint8_t buffer[512];
      const ssize_t n = ::read(master_, buffer, std::min(sizeof buffer, count - out.size()));
      if (n <= 0) break;
      out.insert(out.end(), buffer, buffer + n);
    }
    return out;
  }

  // The line settings the link made, seen from the counter's side.
  termios LineSettings() const {
    termios tio{};
    ::tcgetattr(master_, &tio);
    return tio;
  }

 private:
  int master_ = -1;
  int hold_ = -1;
  std::string path_;
};

// Open descriptors of this process, to see that a failed open leaves none behind.
inline int OpenDescriptorCount() {
  int count = 0;
  for (int fd = 0; fd < 1024; ++fd)
    if (::fcntl(fd, F_GETFD) != -1) ++count;
  return count;
}

}  // namespace norvane::testing
