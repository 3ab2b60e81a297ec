// The live engine on a thread of its own, with the clock and the port it runs on: what the window
// starts when its monitoring box is ticked and `monitor` runs beside its housekeeping.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/live/live_engine.h"
#include "core/serial/link_trace.h"

namespace norvane::live {

struct RunSetup {
  EngineOptions options;
  // Paths that join the machine's ports in a search (a --port path, NORVANE_PORTS).
  std::vector<std::string> extra_paths;
  // A demonstration answers with this version and made-up counts instead of a port.
  std::optional<std::string> demo_version;
  LinkTrace* trace = nullptr;  // every byte in and out; must outlive the run
  ConversionTable conversion;
  RecentSeconds recent;  // where the CPM goes on from (see LiveEngine::Parts)
  // Called on the engine's thread when the engine returns by itself (poll limit, counter lost).
  std::function<void()> ended;
};

class LiveRun {
 public:
  LiveRun(RunSetup setup, EngineLog& log, store::SecondsWriter* writer, std::vector<LiveSink*> sinks);
  // Stops the engine and waits for its thread: the port is closed when this returns.
  ~LiveRun();
  LiveRun(const LiveRun&) = delete;
  LiveRun& operator=(const LiveRun&) = delete;

  LiveEngine& engine() { return engine_; }

 private:
  SystemLiveClock clock_;
  std::unique_ptr<LiveLink> link_;
  LiveEngine engine_;
  std::thread thread_;
};

}  // namespace norvane::live
