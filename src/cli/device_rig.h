// What a device command sets up: the port list, the serial link, the reader and a session.
#pragma once

#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/command.h"
#include "core/common/user_notifier.h"
#include "core/protocol/device_session.h"
#include "core/serial/link_trace.h"
#include "core/serial/port_catalogue.h"
#include "core/store/store.h"

namespace norvane::cli {

// Built in the order it must be torn down in reverse: the reader stops before the link closes,
// the link closes before the trace goes. The notifier belongs to the command, so a command may
// put its own in front of stderr (a progress display, say).
struct DeviceRig {
  DeviceRig(PortCatalogue catalogue, UserNotifier& user);
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

// The --trace file. The stream and the trace outlive the rig.
struct TraceFile {
  std::ofstream stream;
  std::unique_ptr<LinkTrace> trace;
};

// Opens the --trace file when one is asked for; the problem in words when it cannot.
std::optional<std::string> OpenTrace(const CommandContext& context, TraceFile& file);

// A --port given as a path joins the port list.
std::vector<std::string> ExtraPaths(const CommandContext& context);

// The model list entry to apply before connecting, as the Connect button does: --model, else
// the one the settings remember. Empty for an unknown --model.
std::optional<int> ChosenModel(const CommandContext& context);

// The counter the rig identified on `port`, as the long-term store knows it.
store::CounterInfo IdentifiedCounter(const DeviceRig& rig, int port);

}  // namespace norvane::cli
