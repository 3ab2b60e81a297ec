// A device line on the machine's ports and clock, for tests that speak to a pseudo-terminal.
#pragma once

#include "core/device/device_line.h"
#include "core/live/serial_live_link.h"

namespace norvane::testing {

struct MachineLine {
  MachineLine(const PortCatalogue& ports, UserNotifier& notifier) : line(link, clock, ports, notifier) {}

  live::SerialLiveLink link{{}};
  live::SystemLiveClock clock;
  DeviceLine line;
};

}  // namespace norvane::testing
