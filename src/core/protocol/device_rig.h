// The device objects every front end sets up alike: the port list, the line to the counter and
// a session on it.
#pragma once

#include <memory>

#include "core/live/serial_live_link.h"
#include "core/protocol/device_session.h"
#include "core/serial/port_catalogue.h"
#include "core/common/counter_info.h"

namespace norvane {

// The notifier belongs to the front end, so a command may put its own in front of stderr (a
// progress display, say) and the window its status log.
struct DeviceRig {
  // On the machine's serial ports and clock. The dump and the settings store are the window's:
  // its history buffer and the user's settings.
  DeviceRig(PortCatalogue catalogue, UserNotifier& user, HistoryDump* dump = nullptr, SettingsStore* settings = nullptr);
  // On another line and clock, such as simulated counters in virtual time.
  DeviceRig(PortCatalogue catalogue, live::LiveLink& link, live::LiveClock& clock, UserNotifier& user,
            HistoryDump* dump = nullptr, SettingsStore* settings = nullptr);
  ~DeviceRig();
  DeviceRig(const DeviceRig&) = delete;
  DeviceRig& operator=(const DeviceRig&) = delete;

  // Every byte in and out on the machine's port, for a bug report; must outlive the rig or be
  // detached.
  void SetTrace(LinkTrace* trace);

 private:
  std::unique_ptr<live::SerialLiveLink> serial_;
  std::unique_ptr<live::SystemLiveClock> system_clock_;

 public:
  PortCatalogue ports;
  UserNotifier& notifier;
  DeviceLine line;
  DeviceState state;
  DeviceSession session;
};

// The counter identified on `port`, as the long-term store files it: the same for the window, the
// commands and every kind of record they keep of it.
store::CounterInfo IdentifiedCounter(const DeviceState& state, const PortCatalogue& ports, int port);

}  // namespace norvane
