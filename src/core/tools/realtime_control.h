// How device tools pause realtime monitoring around their own use of the port.
#pragma once

namespace norvane {

// Implemented by realtime monitoring; the clock sync stops it before it takes the port and
// starts it again afterwards.
class RealtimeControl {
 public:
  virtual ~RealtimeControl() = default;
  // Whether monitoring runs now (the window's "Realtime Monitoring" box is ticked).
  virtual bool IsMonitoring() const = 0;
  virtual void StopMonitoring() = 0;
  // Called once the reader runs again on the reopened port.
  virtual void StartMonitoring() = 0;
};

}  // namespace norvane
