// The port as the live engine sees it: open one device exclusively, send a frame, read what
// arrives until a deadline. The serial port implements it, and so does a simulated counter in
// virtual time for tests.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "core/live/live_clock.h"

namespace norvane::live {

struct LinkOpen {
  bool ok = false;
  std::string reason;  // why not, in words: also who holds the port when another program does
  bool busy = false;   // another program holds the port
};

class LiveLink {
 public:
  virtual ~LiveLink() = default;

  // The ports a counter may be on, for a search.
  virtual std::vector<std::string> Candidates() = 0;
  // Opens `path` exclusively at `baud` (8-N-1), closing whatever was open.
  virtual LinkOpen Open(const std::string& path, int baud) = 0;
  virtual void Close() = 0;
  // Drops whatever arrived and was not read: it belongs to no request that is still waited for.
  virtual void Discard() = 0;
  // Sends a frame with `delay_ms` after each byte; false when the port is gone.
  virtual bool Send(std::span<const uint8_t> frame, int delay_ms) = 0;
  // Waits until bytes arrive or `deadline` passes, and appends what arrived to `into`. Returns
  // the count appended.
  virtual size_t Read(std::vector<uint8_t>& into, Steady::time_point deadline) = 0;
  // False once the device went away (unplugged, the other end closed).
  virtual bool Present() = 0;
  // A name for the device that outlives a re-plug into another socket (/dev/serial/by-id/…),
  // else the path itself.
  virtual std::string StablePath(const std::string& path) = 0;
};

}  // namespace norvane::live
