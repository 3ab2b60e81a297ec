#include "core/live/serial_live_link.h"

#include <array>
#include <cerrno>
#include <filesystem>

#include "core/platform/serial_device.h"

namespace norvane::live {

SerialLiveLink::SerialLiveLink(std::vector<std::string> extra_paths)
    : extra_paths_(std::move(extra_paths)), ports_(PortCatalogue::DiscoverMachine(extra_paths_)),
      link_(ports_, quiet_) {}

SerialLiveLink::~SerialLiveLink() { link_.Close(); }

std::vector<std::string> SerialLiveLink::Candidates() {
  const PortCatalogue now = PortCatalogue::DiscoverMachine(extra_paths_);
  std::vector<std::string> paths;
  for (const PortEntry& entry : now.ports()) paths.push_back(entry.path);
  return paths;
}

LinkOpen SerialLiveLink::Open(const std::string& path, int baud) {
  link_.Close();
  path_ = path;
  LinkOpen result;
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) {
    result.reason = path + " does not exist";
    return result;
  }
  result.ok = link_.OpenPath(path, baud);
  if (!result.ok) {
    result.reason = link_.last_failure().reason;
    result.busy = link_.last_failure().error_number == EBUSY;
  }
  return result;
}

void SerialLiveLink::Close() { link_.Close(); }

void SerialLiveLink::Discard() {
  std::array<uint8_t, 256> scratch{};
  while (link_.ReadAvailable(scratch) > 0) {
  }
}

bool SerialLiveLink::Send(std::span<const uint8_t> frame, int delay_ms) {
  // The family only bounds the frame's length, and the engine's frames are short.
  return link_.SendData(frame, delay_ms, 8) == static_cast<int>(frame.size());
}

size_t SerialLiveLink::Read(std::vector<uint8_t>& into, Steady::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Steady::now());
  if (left.count() > 0 && link_.AwaitInput(left) != CSerialLink::InputWait::kReady) return 0;
  std::array<uint8_t, 256> bytes{};
  const int got = link_.ReadAvailable(bytes);
  if (got <= 0) return 0;
  into.insert(into.end(), bytes.begin(), bytes.begin() + got);
  return static_cast<size_t>(got);
}

bool SerialLiveLink::Present() {
  std::error_code ec;
  return link_.IsOpen() && !link_.Gone() && std::filesystem::exists(path_, ec);
}

std::string SerialLiveLink::StablePath(const std::string& path) {
  const std::string stable = StableDevicePath(path);
  return stable.empty() ? path : stable;
}

}  // namespace norvane::live
