// What a device command sets up beside the device objects: the trace file, the ports named on
// the command line and the model to connect as.
#pragma once

#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/command.h"
#include "core/common/user_notifier.h"
#include "core/protocol/device_rig.h"
#include "core/serial/link_trace.h"
#include "core/serial/port_catalogue.h"
#include "core/tools/clock_sync.h"

namespace norvane::cli {

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

// Each reading of the counter's clock into the --store, under the counter the rig has identified
// (where a tool borrowed the port from monitoring, the one monitoring found); none without a store.
ClockReadingSink KeepClockReadings(const CommandContext& context, const DeviceRig& rig, UserNotifier& notifier);

}  // namespace norvane::cli
