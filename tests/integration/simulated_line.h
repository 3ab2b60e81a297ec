// Test helpers: a simulated counter on its own pseudo-terminal, and the program's side of the line.
#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/common/clock.h"
#include "core/protocol/device_session.h"
#include "core/protocol/model_table.h"
#include "sim/pty_transport.h"
#include "sim/simulated_counter.h"
#include "tests/common/machine_line.h"
#include "tests/common/recording_notifier.h"

namespace norvane::testing {

struct SeenFrame {
  sim::CommandKind kind;
  int index;
  std::vector<uint8_t> arguments;
  std::chrono::steady_clock::time_point at;
};

inline sim::CounterOptions CounterFor(std::string_view model, sim::Faults faults = {}) {
  sim::CounterOptions options;
  options.model = sim::FindCounterModel(model);
  options.faults = faults;
  return options;
}

// A simulated counter serving a pseudo-terminal, remembering every frame it understood.
class SimulatedLine {
 public:
  // `clock` is the counter's own clock; the machine's when not given.
  explicit SimulatedLine(sim::CounterOptions options, std::unique_ptr<Clock> clock = std::make_unique<SystemClock>())
      : clock_(std::move(clock)) {
    if (!options.model) return;
    counter_ = std::make_unique<sim::SimulatedCounter>(std::move(options), *clock_);
    counter_->SetFrameObserver([this](const sim::Frame& f) {
      std::lock_guard lock(mutex_);
      frames_.push_back({f.kind, f.index, f.arguments, std::chrono::steady_clock::now()});
    });
    std::string error;
    transport_ = sim::PtyTransport::Open(*counter_, &error);
    if (transport_ && !transport_->Start(&error)) transport_.reset();
  }
  explicit SimulatedLine(std::string_view model, sim::Faults faults = {})
      : SimulatedLine(CounterFor(model, faults)) {}

  bool ok() const { return transport_ != nullptr; }
  const std::string& path() const { return transport_->device_path(); }
  const sim::SimulatedCounter& counter() const { return *counter_; }
  std::string_view list_entry() const { return counter_->model().list_entry; }
  sim::PtyTransport& transport() { return *transport_; }
  const Clock& clock() const { return *clock_; }
  std::vector<uint8_t> flash() { return transport_->Inspect([](sim::SimulatedCounter& c) { return c.flash(); }); }
  std::vector<uint8_t> config() { return transport_->Inspect([](sim::SimulatedCounter& c) { return c.config(); }); }
  // The counter unplugged: the pseudo-terminal goes away.
  void Unplug() { transport_.reset(); }

  std::vector<SeenFrame> Frames() const {
    std::lock_guard lock(mutex_);
    return frames_;
  }
  std::vector<SeenFrame> FramesOf(sim::CommandKind kind) const {
    std::vector<SeenFrame> out;
    for (SeenFrame& f : Frames())
      if (f.kind == kind) out.push_back(std::move(f));
    return out;
  }
  void Forget() {
    std::lock_guard lock(mutex_);
    frames_.clear();
  }

 private:
  // Members go in reverse order: the transport's thread, which feeds the counter and through it
  // the frame list, must stop before any of them is destroyed.
  mutable std::mutex mutex_;
  std::vector<SeenFrame> frames_;
  std::unique_ptr<Clock> clock_;
  std::unique_ptr<sim::SimulatedCounter> counter_;
  std::unique_ptr<sim::PtyTransport> transport_;
};

// The program's side: the objects the window owns, wired together.
struct Program {
  Program() : session({link, notifier, state, nullptr, nullptr}) {}

  // As the Connect button does: the model list entry first, then open and identify.
  bool Connect(const std::string& path, std::string_view list_entry) {
    const int port = ports.Add(path, "simulated");
    session.SelectModelFromList(ModelListIndex(list_entry));
    const IdentifyResult result = session.ConnectAndIdentify(port);
    return result.port_open && result.family;
  }
  std::vector<std::string> Messages() const {
    std::vector<std::string> out;
    for (const auto& m : notifier.messages()) out.push_back(m.text);
    return out;
  }

  PortCatalogue ports;
  RecordingNotifier notifier;
  MachineLine machine{ports, notifier};
  DeviceLine& link = machine.line;
  DeviceState state;
  DeviceSession session;
};

}  // namespace norvane::testing
