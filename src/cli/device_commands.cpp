// ports, identify and scan: finding a counter and telling what it is.
#include <fstream>
#include <memory>
#include <ostream>

#include "cli/command.h"
#include "cli/device_rig.h"
#include "cli/stream_notifier.h"
#include "cli/text_output.h"
#include "core/common/clock.h"
#include "core/common/text_format.h"
#include "core/protocol/auto_scan.h"
#include "core/protocol/device_session.h"
#include "core/protocol/model_table.h"
#include "core/serial/link_trace.h"
#include "core/serial/port_access.h"
#include "core/serial/port_catalogue.h"
#include "core/settings/settings_store.h"

namespace norvane::cli {
namespace {

// The one option of ports and identify, with no other word.
bool OnlyJsonFlag(const CommandContext& context, bool& json) {
  json = context.options.Has("--json");
  return context.args.empty();
}

}  // namespace

int RunPorts(CommandContext& context) {
  bool json = false;
  if (!OnlyJsonFlag(context, json)) return context.Usage("unexpected argument '" + context.args.front() + "'");
  PortCatalogue ports = PortCatalogue::DiscoverMachine(ExtraPaths(context));
  std::vector<CheckedPort> checked;
  for (const PortEntry& p : ports.ports()) checked.push_back({p.path, CheckPortAccess(p.path)});
  if (json) {
    Json list = Json::array();
    for (const PortEntry& p : ports.ports()) {
      const PortAccess& access = checked[static_cast<size_t>(p.number - 1)].access;
      Json entry = {{"number", p.number},
                    {"path", JsonText(p.path)},
                    {"description", JsonText(p.description)},
                    {"access", std::string(PortAccessKeyword(access.state))}};
      if (access.state != PortAccessState::kOpenable) entry["problem"] = JsonText(DescribePortAccess(access));
      if (access.holder.pid > 0) {
        entry["holder_pid"] = access.holder.pid;
        entry["holder_command"] = JsonText(access.holder.command);
      }
      list.push_back(std::move(entry));
    }
    PrintJson(context.out, list);
  } else {
    if (ports.ports().empty()) context.out << "no serial ports found\n";
    for (const PortEntry& p : ports.ports()) {
      const PortAccess& access = checked[static_cast<size_t>(p.number - 1)].access;
      context.out << Format("%3d  %-20s  ", p.number, p.path.c_str()) << p.description;
      if (access.state == PortAccessState::kBusy) context.out << "  [" << DescribePortAccess(access) << "]";
      else if (access.state != PortAccessState::kOpenable)
        context.out << "  [cannot open: " << DescribePortAccess(access) << "]";
      context.out << "\n";
    }
  }
  if (auto advice = PortAccessAdvice(checked, InspectSerialSystem())) context.err << *advice << "\n";
  return kExitOk;
}

int RunIdentify(CommandContext& context) {
  bool json = false;
  if (!OnlyJsonFlag(context, json)) return context.Usage("unexpected argument '" + context.args.front() + "'");
  if (!context.port) return context.Usage("identify needs --port DEV");
  const std::optional<int> model = ChosenModel(context);
  if (!model) return context.Fail("unknown model '" + *context.model + "' (see the model list in the README)");
  TraceFile trace;
  if (auto problem = OpenTrace(context, trace)) return context.Fail(*problem);

  StreamNotifier notifier(context.err);
  DeviceRig rig(PortCatalogue::DiscoverMachine(ExtraPaths(context)), notifier);
  const std::optional<int> port = rig.ports.Resolve(*context.port);
  if (!port) return context.Usage("--port needs a port number or a device path, not '" + *context.port + "'");
  rig.SetTrace(trace.trace.get());

  rig.session.SelectModelFromList(*model);
  const IdentifyResult result = rig.session.ConnectAndIdentify(*port);
  if (!result.port_open) return context.Fail(Format("COM%d could not be opened", *port));
  if (!result.family) return context.Fail("Please try again!");

  const std::string_view entry = ModelListEntry(static_cast<uint32_t>(rig.state.selected_model));
  const uint32_t memory = ModelForName(entry).image_size;
  const int version = rig.state.firmware_version.load();
  if (json) {
    PrintJson(context.out, {{"reply", JsonText(result.reply)},
                            {"family", *result.family},
                            {"version", version},
                            {"model", JsonText(entry)},
                            {"memory_size", memory}});
  } else {
    context.out << "reply        " << Printable(result.reply) << "\nfamily       " << *result.family
                << "\nversion      " << version << "\nmodel        " << entry << "\nmemory_size  " << memory << "\n";
  }
  return kExitOk;
}

int RunScan(CommandContext& context) {
  if (!context.args.empty()) return context.Usage("unexpected argument '" + context.args.front() + "'");
  const std::optional<int> model = ChosenModel(context);
  if (!model) return context.Fail("unknown model '" + *context.model + "' (see the model list in the README)");
  TraceFile trace;
  if (auto problem = OpenTrace(context, trace)) return context.Fail(*problem);

  // Every 16 ports the window asks whether to go on; here the answer is yes while the next
  // candidate is still a port of the list.
  DeviceState* state = nullptr;
  size_t listed = 0;
  StreamNotifier notifier(context.err, [&state, &listed](std::string_view) {
    return state && state->current_port >= 1 && static_cast<size_t>(state->current_port) <= listed;
  });
  DeviceRig rig(PortCatalogue::DiscoverMachine(ExtraPaths(context)), notifier);
  state = &rig.state;
  listed = rig.ports.ports().size();
  rig.SetTrace(trace.trace.get());

  rig.session.SelectModelFromList(*model);
  AutoScan scan(rig.session);
  rig.line.Pause(scan.Start());
  for (;;) {
    const AutoScan::Step step = scan.RunStep();
    if (step.outcome == AutoScan::Outcome::kContinue) {
      rig.line.Pause(step.next);
      continue;
    }
    if (step.outcome != AutoScan::Outcome::kFound) return context.Fail("no counter found");
    break;
  }
  const IdentifyResult& found = scan.identified();
  if (!found.port_open) return context.Fail(Format("COM%d could not be opened", rig.state.current_port));
  if (!found.family) return context.Fail("Please try again!");
  const int port = rig.state.current_port;
  const auto path = rig.ports.PathOf(port);
  context.out << "port         " << port << "\npath         " << (path ? *path : std::string("-"))
              << "\nreply        " << Printable(found.reply) << "\nfamily       " << *found.family
              << "\nversion      " << rig.state.firmware_version.load() << "\nmodel        "
              << ModelListEntry(static_cast<uint32_t>(rig.state.selected_model)) << "\n";
  return kExitOk;
}

}  // namespace norvane::cli
