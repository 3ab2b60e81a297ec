// The device objects every front end sets up alike: the port list, the serial link, the reader
// and a session on them.
#pragma once

#include "core/protocol/device_session.h"
#include "core/serial/port_catalogue.h"
#include "core/common/counter_info.h"

namespace norvane {

// Built in the order it must be torn down in reverse: the reader stops before the link closes.
// The notifier belongs to the front end, so a command may put its own in front of stderr (a
// progress display, say) and the window its status log.
struct DeviceRig {
  // The dump and the settings store are the window's: its history buffer and the user's settings.
  DeviceRig(PortCatalogue catalogue, UserNotifier& user, HistoryDump* dump = nullptr, SettingsStore* settings = nullptr);
  ~DeviceRig();
  DeviceRig(const DeviceRig&) = delete;
  DeviceRig& operator=(const DeviceRig&) = delete;

  PortCatalogue ports;
  UserNotifier& notifier;
  CSerialLink link;
  ReceiveBuffer buffer;
  DeviceState state;
  ReaderThread reader;
  DeviceSession session;
};

// The counter identified on `port`, as the long-term store files it: the same for the window, the
// commands and every kind of record they keep of it.
store::CounterInfo IdentifiedCounter(const DeviceState& state, const PortCatalogue& ports, int port);

}  // namespace norvane
