// Simulated counters on simulated ports in virtual time: the live engine's link for tests that
// run minutes of polling in milliseconds, with unplugs, other programs on a port and replies that
// the line cuts in two.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/live/live_clock.h"
#include "core/live/live_link.h"
#include "sim/simulated_counter.h"

namespace norvane::sim {

class VirtualLine final : public live::LiveLink {
 public:
  explicit VirtualLine(live::VirtualLiveClock& clock) : clock_(clock) {}

  // A counter on `path` from now on, switched on now; its own clock is `clock`, or the line's.
  SimulatedCounter& Plug(const std::string& path, CounterOptions options, const Clock* clock = nullptr);
  void Unplug(const std::string& path);
  // Another program holds `path` (empty: nobody); opening it is refused with this reason.
  void Hold(const std::string& path, std::string reason) { held_[path] = std::move(reason); }
  // Of every batch of reply bytes, the line holds back the rest after a random byte for `delay`
  // when `cut` says so (USB serial bridges hand replies over in pieces).
  void SplitReplies(std::function<bool()> cut, std::chrono::milliseconds delay, uint32_t seed = 1);

  std::vector<std::string> Candidates() override;
  live::LinkOpen Open(const std::string& path, int baud) override;
  void Close() override { open_.clear(); }
  void Discard() override;
  bool Send(std::span<const uint8_t> frame, int delay_ms) override;
  size_t Read(std::vector<uint8_t>& into, live::Steady::time_point deadline) override;
  bool Present() override { return !open_.empty() && ports_.count(open_) > 0; }
  std::string StablePath(const std::string& path) override { return path; }

  // How often `path` was opened, by anyone asking this line.
  int opens(const std::string& path) const { return opens_.count(path) ? opens_.at(path) : 0; }

 private:
  struct Port {
    std::unique_ptr<SimulatedCounter> counter;
    live::Steady::time_point switched_on;
  };
  struct Pending {
    live::Steady::time_point due;
    uint8_t byte;
  };
  SimTime CounterTime(const Port& port) const { return clock_.Now() - port.switched_on; }
  // Moves the counter's reply bytes due by now onto the line, cut where the line cuts them.
  void Pump();

  live::VirtualLiveClock& clock_;
  FixedClock device_clock_{LocalTime{2026, 12, 7, 12, 0, 0}};
  std::map<std::string, Port> ports_;
  std::map<std::string, std::string> held_;
  std::map<std::string, int> opens_;
  std::string open_;
  int baud_ = 0;
  std::vector<Pending> line_;
  std::function<bool()> cut_;
  std::chrono::milliseconds cut_delay_{0};
  std::mt19937 cut_rng_;
};

}  // namespace norvane::sim
