// The engine's port lent to the program's own device tools (the clock, the terminal, the
// configuration) and returned: the seconds between are a gap, and monitoring, its recording and
// its views go on afterwards.
#pragma once

#include <chrono>

#include "core/live/live_engine.h"
#include "core/protocol/device_session.h"
#include "core/serial/port_catalogue.h"
#include "core/tools/realtime_control.h"

namespace norvane::live {

class PortLoan final : public RealtimeControl {
 public:
  // How long a tool waits for the engine to finish the poll it is in and let the port go.
  static constexpr std::chrono::seconds kBorrowLimit{3};

  PortLoan(DeviceSession& session, const PortCatalogue& ports) : session_(session), ports_(ports) {}

  // The engine whose port is lent; null while none runs. On the thread that runs device work.
  void Attach(LiveEngine* engine) { engine_ = engine; }

  // Monitoring runs and its port is not lent.
  bool IsMonitoring() const override { return engine_ && !lent_; }
  // Takes the port from the engine and points the session at the counter the engine found.
  void StopMonitoring() override;
  // Closes what the tool opened and gives the port back.
  void StartMonitoring() override;

 private:
  DeviceSession& session_;
  const PortCatalogue& ports_;
  LiveEngine* engine_ = nullptr;
  bool lent_ = false;
};

}  // namespace norvane::live
