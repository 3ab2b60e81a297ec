// How device tools pause realtime monitoring around their own use of the port.
#pragma once

namespace norvane {

// Implemented by the live engine's port loan; the clock sync stops monitoring before it takes the
// port and starts it again afterwards.
class RealtimeControl {
 public:
  virtual ~RealtimeControl() = default;
  // Whether monitoring runs now and holds the port.
  virtual bool IsMonitoring() const = 0;
  virtual void StopMonitoring() = 0;
  // Called once the tool is done with the port.
  virtual void StartMonitoring() = 0;
};

}  // namespace norvane
