#include "core/platform/command_start.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <string_view>

extern char** environ;

namespace norvane {

std::optional<std::string> StartCommand(const std::string& command,
                                        const std::vector<std::pair<std::string, std::string>>& variables,
                                        const std::vector<std::string>& withheld) {
  // Everything the child needs is made before the fork: after it, a threaded program may only
  // make async-signal-safe calls.
  std::vector<std::string> texts;
  for (char** e = environ; *e; ++e) {
    const std::string_view entry(*e);
    const auto named = [&](std::string_view name) {
      return entry.size() > name.size() && entry.starts_with(name) && entry[name.size()] == '=';
    };
    const bool replaced = std::any_of(variables.begin(), variables.end(), [&](const auto& v) { return named(v.first); });
    if (!replaced && std::none_of(withheld.begin(), withheld.end(), named)) texts.emplace_back(entry);
  }
  for (const auto& [name, value] : variables) texts.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (std::string& t : texts) envp.push_back(t.data());
  envp.push_back(nullptr);
  const char* argv[] = {"sh", "-c", command.c_str(), nullptr};

  const pid_t child = fork();
  if (child < 0) return std::string("cannot start a process: ") + std::strerror(errno);
  if (child == 0) {
    if (fork() != 0) _exit(0);
    // The signals our watchers block stay blocked across exec unless unblocked here, and the
    // counter's port and the store are not the command's to hold open.
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    signal(SIGPIPE, SIG_DFL);
    close_range(3, ~0U, 0);
    execve("/bin/sh", const_cast<char* const*>(argv), envp.data());
    _exit(127);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return std::nullopt;
}

}  // namespace norvane
