// Test helpers: a simulated counter on its own pseudo-terminal, and the program's side of the line.
#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "core/common/clock.h"
#include "core/protocol/device_session.h"
#include "core/protocol/model_table.h"
#include "sim/pty_transport.h"
#include "sim/simulated_counter.h"
#include "sim/virtual_line.h"
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

// Says a simulated line runs in virtual time: the counter lives on a line in this process, and
// every wait of the program's side costs no real time.
struct InVirtualTime {};

// A simulated counter serving a pseudo-terminal, or a line in virtual time, remembering every
// frame it understood.
class SimulatedLine {
 public:
  // `clock` is the counter's own clock; the machine's when not given.
  explicit SimulatedLine(sim::CounterOptions options, std::unique_ptr<Clock> clock = std::make_unique<SystemClock>())
      : clock_(std::move(clock)) {
    if (!options.model) return;
    counter_ = std::make_unique<sim::SimulatedCounter>(std::move(options), *clock_);
    Observe(*counter_);
    std::string error;
    transport_ = sim::PtyTransport::Open(*counter_, &error);
    if (transport_ && !transport_->Start(&error)) transport_.reset();
  }
  explicit SimulatedLine(std::string_view model, sim::Faults faults = {})
      : SimulatedLine(CounterFor(model, faults)) {}
  SimulatedLine(sim::CounterOptions options, InVirtualTime, std::unique_ptr<Clock> clock = std::make_unique<SystemClock>())
      : clock_(std::move(clock)), live_clock_(std::make_unique<live::VirtualLiveClock>(0)),
        virtual_line_(std::make_unique<sim::VirtualLine>(*live_clock_)) {
    if (!options.model) return;
    plugged_ = &virtual_line_->Plug(kVirtualPath, std::move(options), clock_.get());
    Observe(*plugged_);
  }

  bool ok() const { return transport_ != nullptr || plugged_ != nullptr; }
  const std::string& path() const { return plugged_ ? kVirtualPath : transport_->device_path(); }
  const sim::SimulatedCounter& counter() const { return plugged_ ? *plugged_ : *counter_; }
  std::string_view list_entry() const { return counter().model().list_entry; }
  sim::PtyTransport& transport() { return *transport_; }
  const Clock& clock() const { return *clock_; }
  std::vector<uint8_t> flash() { return Inspect([](sim::SimulatedCounter& c) { return c.flash(); }); }
  std::vector<uint8_t> config() { return Inspect([](sim::SimulatedCounter& c) { return c.config(); }); }
  // Runs `f` on the counter while it answers nothing else.
  template <typename F>
  std::invoke_result_t<F, sim::SimulatedCounter&> Inspect(F f) {
    return plugged_ ? f(*plugged_) : transport_->Inspect(f);
  }
  // The line and the clock of a line in virtual time; null on a pseudo-terminal.
  live::LiveLink* virtual_link() { return virtual_line_.get(); }
  live::LiveClock* virtual_clock() { return live_clock_.get(); }
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
  inline static const std::string kVirtualPath = "/dev/ttySIM0";

  void Observe(sim::SimulatedCounter& counter) {
    counter.SetFrameObserver([this](const sim::Frame& f) {
      std::lock_guard lock(mutex_);
      // Seen at the line's time: virtual time when the line runs in it.
      frames_.push_back({f.kind, f.index, f.arguments, live_clock_ ? live_clock_->Now() : std::chrono::steady_clock::now()});
    });
  }

  // Members go in reverse order: the transport's thread, which feeds the counter and through it
  // the frame list, must stop before any of them is destroyed.
  mutable std::mutex mutex_;
  std::vector<SeenFrame> frames_;
  std::unique_ptr<Clock> clock_;
  std::unique_ptr<live::VirtualLiveClock> live_clock_;
  std::unique_ptr<sim::VirtualLine> virtual_line_;
  sim::SimulatedCounter* plugged_ = nullptr;
  std::unique_ptr<sim::SimulatedCounter> counter_;
  std::unique_ptr<sim::PtyTransport> transport_;
};

// The program's side: the objects the window owns, wired together, on the machine's ports and
// clock, or on the line of a simulated line in virtual time.
struct Program {
  Program() : Program(nullptr) {}
  explicit Program(SimulatedLine& line) : Program(&line) {}

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
  std::unique_ptr<MachineLine> machine;
  std::unique_ptr<DeviceLine> virtual_line;
  DeviceLine& link;
  DeviceState state;
  DeviceSession session;

 private:
  explicit Program(SimulatedLine* line)
      : machine(line && line->virtual_link() ? nullptr : std::make_unique<MachineLine>(ports, notifier)),
        virtual_line(line && line->virtual_link()
                         ? std::make_unique<DeviceLine>(*line->virtual_link(), *line->virtual_clock(), ports, notifier)
                         : nullptr),
        link(machine ? machine->line : *virtual_line), session({link, notifier, state, nullptr, nullptr}) {}
};

}  // namespace norvane::testing
