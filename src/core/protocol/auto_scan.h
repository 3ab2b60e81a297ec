// The automatic port scan, one candidate port per step, driven by a timer or a loop.
#pragma once

#include <chrono>

#include "core/protocol/device_session.h"

namespace norvane {

inline constexpr int kScanLastPort = 256;
// The user is asked whether to go on before every 16th port.
inline constexpr int kScanQuestionEvery = 16;

class AutoScan {
 public:
  enum class Outcome { kContinue, kFound, kNotDetected, kDeclined };
  struct Step {
    Outcome outcome = Outcome::kContinue;
    std::chrono::milliseconds next{0};  // when kContinue: wait this long, then call RunStep again
  };

  explicit AutoScan(DeviceSession& session) : session_(session) {}

  // Frees the port and starts at port 1; the first step is due after the returned delay.
  std::chrono::milliseconds Start();
  // Tries the current candidate. A counter found is connected and identified before this returns.
  Step RunStep();
  bool active() const { return active_; }
  // What connect-and-identify made of the counter found.
  const IdentifyResult& identified() const { return identified_; }
  // The timer was killed (Connect pressed, window closing).
  void Cancel() { active_ = false; }

 private:
  Step Finish(Outcome outcome);

  DeviceSession& session_;
  bool active_ = false;
  IdentifyResult identified_;
};

}  // namespace norvane
