#include "core/platform/serial_device.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <system_error>
#include <vector>

namespace norvane {
namespace {

namespace fs = std::filesystem;

// A command word as programs name their subcommands ("record", "store"): the global options'
// values before it (paths, numbers, model names) never look like one.
bool IsCommandWord(const std::string& text) {
  const auto plain = [](char c) { return (c >= 'a' && c <= 'z') || c == '-'; };
  return !text.empty() && text.front() != '-' && std::all_of(text.begin(), text.end(), plain);
}

}  // namespace

std::optional<PortHolder> FindPortHolder(const std::string& path) {
  struct stat node {};
  if (::stat(path.c_str(), &node) != 0) return std::nullopt;
  // Each line: "1: FLOCK  ADVISORY  WRITE 4711 00:19:3 0 EOF", the device as hex major:minor of
  // the file system holding the node, then its inode. Waiters ("1: -> FLOCK ...") hold nothing.
  char wanted[64];
  std::snprintf(wanted, sizeof wanted, "%02x:%02x:%llu", ::major(node.st_dev), ::minor(node.st_dev),
                static_cast<unsigned long long>(node.st_ino));
  std::ifstream locks("/proc/locks");
  std::string line;
  while (std::getline(locks, line)) {
    std::istringstream fields(line);
    std::vector<std::string> words{std::istream_iterator<std::string>(fields), std::istream_iterator<std::string>()};
    if (words.size() < 6 || words[1] == "->") continue;
    const auto device = std::find(words.begin(), words.end(), std::string(wanted));
    if (device == words.end() || device == words.begin()) continue;
    PortHolder holder;
    // -1 for locks owned by no process, 0 for a process outside this one's view.
    holder.pid = std::max(std::atoi(std::prev(device)->c_str()), 0);
    if (holder.pid > 0) holder.command = ProcessCommand(holder.pid);
    return holder;
  }
  return std::nullopt;
}

std::string ProcessCommand(int pid) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
  std::vector<std::string> args;
  for (std::string arg; std::getline(file, arg, '\0');) args.push_back(arg);
  if (args.empty() || args.front().empty()) return {};
  std::string command = fs::path(args.front()).filename().string();
  const auto word = std::find_if(args.begin() + 1, args.end(), IsCommandWord);
  if (word != args.end()) command += " " + *word;
  return command;
}

std::string StableDevicePath(const std::string& path, const fs::path& by_id) {
  std::error_code ec;
  std::vector<fs::path> names;
  for (fs::directory_iterator it(by_id, ec), end; !ec && it != end; it.increment(ec)) names.push_back(it->path());
  std::sort(names.begin(), names.end());
  for (const fs::path& name : names) {
    std::error_code same_ec;
    if (fs::equivalent(name, path, same_ec)) return name.string();
  }
  return {};
}

}  // namespace norvane
