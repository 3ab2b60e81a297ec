// Test helper: norvane-cli run as a real child process, its output read as it comes.
#pragma once

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "tests/common/temp_dir.h"

namespace norvane::testing {

#ifdef NORVANE_CLI_PATH
class ChildCli {
 public:
  explicit ChildCli(std::vector<std::string> args, const std::vector<std::string>& extra_environment = {}) {
    args.insert(args.begin(), NORVANE_CLI_PATH);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    // Unless the test says otherwise, the child's default store is its own, never the user's, and
    // so is the folder its journal would be kept in (never the machine's /dev/shm).
    std::vector<std::string> environment{"XDG_DATA_HOME=" + data_home_.path().string(),
                                         "RUNTIME_DIRECTORY=" + data_home_.path().string()};
    environment.insert(environment.begin(), extra_environment.begin(), extra_environment.end());
    for (char** e = environ; *e; ++e) environment.emplace_back(*e);
    std::vector<char*> envp;
    for (std::string& e : environment) envp.push_back(e.data());
    envp.push_back(nullptr);
    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addclose(&actions, err[0]);
    if (posix_spawn(&pid_, NORVANE_CLI_PATH, &actions, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    out_ = out[0];
    err_ = err[0];
  }
  ~ChildCli() {
    if (pid_ > 0 && !ended_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
    if (err_ >= 0) close(err_);
  }
  ChildCli(const ChildCli&) = delete;
  ChildCli& operator=(const ChildCli&) = delete;

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }

  // The next line of standard output without its newline; empty after `limit` without one.
  std::string ReadLine(std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
      if (const size_t nl = pending_.find('\n'); nl != std::string::npos) {
        std::string line = pending_.substr(0, nl);
        pending_.erase(0, nl + 1);
        printed.push_back(line);
        return line;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
      if (left.count() <= 0 || !ReadSome(out_, pending_, static_cast<int>(left.count()))) return {};
    }
  }
  // Reads standard error until the child has said `text`; false after `limit` without it.
  bool WaitToSay(const std::string& text, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (said.find(text) == std::string::npos) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
      if (left.count() <= 0 || !ReadSome(err_, said, static_cast<int>(left.count()))) return false;
    }
    return true;
  }
  void Signal(int number) { kill(pid_, number); }
  // Waits for the end and reads what is left of both outputs; the exit code, or -signal. With a
  // limit, a child still running after it is killed and the result is -SIGKILL.
  int Wait(std::chrono::milliseconds limit = std::chrono::milliseconds::max()) {
    int status = 0;
    const bool limited = limit != std::chrono::milliseconds::max();
    const auto end = std::chrono::steady_clock::now() + (limited ? limit : std::chrono::milliseconds(0));
    while (waitpid(pid_, &status, limited ? WNOHANG : 0) == 0) {
      if (std::chrono::steady_clock::now() >= end) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
        break;
      }
      usleep(10000);
    }
    ended_ = true;
    while (ReadSome(out_, pending_, -1)) {}
    while (ReadSome(err_, said, -1)) {}
    for (size_t nl; (nl = pending_.find('\n')) != std::string::npos; pending_.erase(0, nl + 1))
      printed.push_back(pending_.substr(0, nl));
    return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
  }

  std::vector<std::string> printed;  // whole lines of standard output so far
  std::string said;                  // standard error, read by WaitToSay and Wait: keep it short

 private:
  static bool ReadSome(int fd, std::string& into, int timeout_ms) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, timeout_ms) <= 0) return false;
    char buffer[512];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) return false;
    into.append(buffer, static_cast<size_t>(n));
    return true;
  }

  TempDir data_home_;
  pid_t pid_ = -1;
  int out_ = -1;
  int err_ = -1;
  bool ended_ = false;
  std::string pending_;
};
#endif

}  // namespace norvane::testing
