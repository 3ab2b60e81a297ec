// The counter's line as every device job sees it: one link and one clock, so a download, a
// configuration transfer or a clock exchange runs the same on a real port as on a simulated
// counter in virtual time, and between two polls of the live engine on the engine's own port.
#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "core/common/user_notifier.h"
#include "core/live/live_clock.h"
#include "core/live/live_link.h"
#include "core/serial/port_catalogue.h"
#include "core/serial/serial_link.h"

namespace norvane {

class DeviceLine {
 public:
  DeviceLine(live::LiveLink& link, live::LiveClock& clock, const PortCatalogue& ports, UserNotifier& notifier)
      : link_(link), clock_(clock), ports_(ports), notifier_(notifier) {}
  DeviceLine(const DeviceLine&) = delete;
  DeviceLine& operator=(const DeviceLine&) = delete;

  // Opens the catalogue's port `number` (or `path`) exclusively at `baud`, 8-N-1, closing what
  // was open. On failure last_failure() says why, naming the holder of a busy port.
  bool Open(int number, int baud);
  bool OpenPath(const std::string& path, int baud);
  void Close();
  bool IsOpen() const { return open_; }
  // Open, but the device went away under it.
  bool Gone();
  const std::string& last_failure() const { return last_failure_; }
  bool last_failure_busy() const { return last_busy_; }
  const std::string& path() const { return path_; }

  // Drops whatever arrived and was not read.
  void ClearLine();
  // Sends with `delay_ms` after each byte. The count sent; 0 on a closed or vanished port; -1,
  // with a message, when the frame is too long for the family.
  int SendData(std::span<const uint8_t> bytes, int delay_ms, int model_family);
  // At most `limit` of the bytes that have arrived by now; never waits.
  int ReadAvailable(std::span<uint8_t> destination, int limit);
  int ReadAvailable(std::span<uint8_t> destination) {
    return ReadAvailable(destination, static_cast<int>(destination.size()));
  }
  // Waits up to `limit` for input; true once some has arrived.
  bool WaitForInput(std::chrono::microseconds limit);
  // Fills `destination` from the line until it is full or `wait` has passed; the count read.
  size_t Collect(std::span<uint8_t> destination, std::chrono::milliseconds wait);
  // Waits on the line's clock; Wake() cuts it short.
  void Pause(std::chrono::microseconds length);
  void Wake() { clock_.Wake(); }

  live::LiveClock& clock() { return clock_; }
  live::LiveLink& link() { return link_; }
  const PortCatalogue& ports() const { return ports_; }

 private:
  live::LiveLink& link_;
  live::LiveClock& clock_;
  const PortCatalogue& ports_;
  UserNotifier& notifier_;
  bool open_ = false;
  std::string path_;
  std::string last_failure_;
  bool last_busy_ = false;
  // Bytes read off the link and not yet handed out.
  std::vector<uint8_t> pending_;
};

}  // namespace norvane
