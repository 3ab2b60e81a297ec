// Test helper: a simulated counter fed whole frames, with its replies collected at once.
#pragma once

#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "core/common/clock.h"
#include "core/protocol/command_catalogue.h"
#include "sim/simulated_counter.h"

namespace norvane::testing {

inline std::vector<uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

inline std::vector<uint8_t> FrameOf(const CommandSpec& command, std::vector<uint8_t> arguments = {}) {
  return BuildFrame(command, arguments);
}

class CounterBench {
 public:
  explicit CounterBench(sim::CounterOptions options = {}, std::string_view model = "ZQT-400")
      : clock_(LocalTime{2026, 3, 7, 9, 5, 4}) {
    if (!options.model) options.model = sim::FindCounterModel(model);
    counter_ = std::make_unique<sim::SimulatedCounter>(std::move(options), clock_);
  }

  // Sends `frame` at the bench's time and returns every reply byte, however long it takes.
  std::vector<uint8_t> Ask(std::span<const uint8_t> frame, int line_baud = 0) {
    counter_->Receive(frame, now_, line_baud);
    return counter_->TakeDue(now_ + std::chrono::hours(1));
  }
  std::vector<uint8_t> Ask(const CommandSpec& command, std::vector<uint8_t> arguments = {}) {
    return Ask(BuildFrame(command, arguments));
  }
  void Wait(sim::SimTime t) {
    now_ += t;
    clock_.Advance(std::chrono::duration_cast<std::chrono::seconds>(t).count());
  }

  sim::SimulatedCounter& counter() { return *counter_; }
  FixedClock& clock() { return clock_; }
  sim::SimTime now() const { return now_; }

 private:
  FixedClock clock_;
  sim::SimTime now_{std::chrono::seconds(10)};
  std::unique_ptr<sim::SimulatedCounter> counter_;
};

}  // namespace norvane::testing
