#include "core/live/live_run.h"

#include "core/live/demo_link.h"
#include "core/live/serial_live_link.h"

namespace norvane::live {
namespace {

std::unique_ptr<LiveLink> MakeLink(LiveClock& clock, const RunSetup& setup) {
  if (setup.demo_version) return std::make_unique<DemoLink>(clock, *setup.demo_version);
  auto serial = std::make_unique<SerialLiveLink>(setup.extra_paths);
  serial->SetTrace(setup.trace);
  return serial;
}

EngineOptions OptionsFor(const RunSetup& setup) {
  EngineOptions options = setup.options;
  if (setup.demo_version) options.port = DemoLink::kPath;
  return options;
}

}  // namespace

LiveRun::LiveRun(RunSetup setup, EngineLog& log, store::SecondsWriter* writer, std::vector<LiveSink*> sinks)
    : link_(MakeLink(clock_, setup)),
      engine_({*link_, clock_, log, writer, std::move(sinks), setup.conversion, std::move(setup.recent)}, OptionsFor(setup)),
      thread_([this, ended = std::move(setup.ended)] {
        engine_.Run();
        if (ended) ended();
      }) {}

LiveRun::~LiveRun() {
  engine_.Stop();
  thread_.join();
}

}  // namespace norvane::live
