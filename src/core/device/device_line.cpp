#include "core/device/device_line.h"

#include <algorithm>

#include "core/common/text_format.h"

namespace norvane {

bool DeviceLine::Open(int number, int baud) {
  const auto path = ports_.PathOf(number);
  if (!path) {
    Close();
    last_busy_ = false;
    last_failure_ = Format("COM%d is not in the port list (%zu ports known; 'norvane-cli ports' lists them)", number,
                           ports_.ports().size());
    return false;
  }
  return OpenPath(*path, baud);
}

bool DeviceLine::OpenPath(const std::string& path, int baud) {
  Close();
  const live::LinkOpen opened = link_.Open(path, baud);
  last_failure_ = opened.ok ? std::string() : opened.reason;
  last_busy_ = opened.busy;
  open_ = opened.ok;
  if (open_) path_ = path;
  return open_;
}

void DeviceLine::Close() {
  if (open_) link_.Close();
  open_ = false;
  pending_.clear();
}

bool DeviceLine::Gone() { return open_ && !link_.Present(); }

void DeviceLine::ClearLine() {
  pending_.clear();
  if (open_) link_.Discard();
}

int DeviceLine::SendData(std::span<const uint8_t> bytes, int delay_ms, int model_family) {
  if (model_family < 8 && bytes.size() > static_cast<size_t>(kShortFrameLimit)) {
    notifier_.Message("Data too long to send! (Maximum 32 bytes)");
    return -1;
  }
  if (bytes.size() > static_cast<size_t>(kLongFrameLimit)) {
    notifier_.Message("Data too long to send! (Maximum 256 bytes)");
    return -1;
  }
  if (!open_ || !link_.Send(bytes, delay_ms)) return 0;
  return static_cast<int>(bytes.size());
}

int DeviceLine::ReadAvailable(std::span<uint8_t> destination, int limit) {
  if (pending_.empty() && open_) link_.Read(pending_, clock_.Now());
  const size_t n = std::min({pending_.size(), destination.size(), static_cast<size_t>(std::max(limit, 0))});
  std::copy_n(pending_.begin(), n, destination.begin());
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(n));
  return static_cast<int>(n);
}

bool DeviceLine::WaitForInput(std::chrono::microseconds limit) {
  if (!pending_.empty()) return true;
  if (!open_) {
    Pause(limit);
    return false;
  }
  return link_.Read(pending_, clock_.Now() + limit) > 0;
}

size_t DeviceLine::Collect(std::span<uint8_t> destination, std::chrono::milliseconds wait) {
  const auto deadline = clock_.Now() + wait;
  size_t have = 0;
  while (have < destination.size()) {
    have += static_cast<size_t>(ReadAvailable(destination.subspan(have)));
    if (have == destination.size() || !open_ || clock_.Now() >= deadline) break;
    if (pending_.empty() && link_.Read(pending_, deadline) == 0 && !link_.Present()) break;
  }
  return have;
}

void DeviceLine::Pause(std::chrono::microseconds length) { clock_.WaitUntil(clock_.Now() + length); }

}  // namespace norvane
