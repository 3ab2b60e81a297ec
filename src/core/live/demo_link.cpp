#include "core/live/demo_link.h"

#include <string_view>

#include "core/protocol/command_catalogue.h"

namespace norvane::live {

DemoLink::DemoLink(LiveClock& clock, std::string version)
    : clock_(clock), version_(std::move(version)), random_(std::random_device{}()) {}

LinkOpen DemoLink::Open(const std::string& path, int) {
  pending_.clear();
  if (path == kPath) return {true, ""};
  return {false, path + " is not the demonstration"};
}

bool DemoLink::Send(std::span<const uint8_t> frame, int) {
  const std::string_view text(reinterpret_cast<const char*>(frame.data()), frame.size());
  if (text.find(commands::kGetCps.word) != std::string_view::npos) {
    // Mostly quiet seconds with the odd count or two, as a background's would look.
    const unsigned x = static_cast<unsigned>(random_()) % 10;
    pending_ = {0, 0, 0, static_cast<uint8_t>(x > 5 ? x % 3 : 0)};
  } else if (text.find(commands::kGetVer.word) != std::string_view::npos) {
    pending_.assign(version_.begin(), version_.end());
  } else if (text.find(commands::kGetSerial.word) != std::string_view::npos) {
    // A serial number of its own, so it is never taken for a real counter.
    pending_ = {'D', 'E', 'M', 'O'};
  }
  return true;
}

size_t DemoLink::Read(std::vector<uint8_t>& into, Steady::time_point deadline) {
  if (pending_.empty()) {
    clock_.WaitUntil(deadline);
    return 0;
  }
  into.insert(into.end(), pending_.begin(), pending_.end());
  const size_t got = pending_.size();
  pending_.clear();
  return got;
}

}  // namespace norvane::live
