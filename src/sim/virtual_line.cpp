#include "sim/virtual_line.h"

#include <algorithm>

namespace norvane::sim {

SimulatedCounter& VirtualLine::Plug(const std::string& path, CounterOptions options, const Clock* clock) {
  Port& port = ports_[path];
  port.counter = std::make_unique<SimulatedCounter>(std::move(options), clock ? *clock : device_clock_);
  port.switched_on = clock_.Now();
  return *port.counter;
}

void VirtualLine::Unplug(const std::string& path) {
  ports_.erase(path);
  if (open_ == path) line_.clear();
}

void VirtualLine::SplitReplies(std::function<bool()> cut, std::chrono::milliseconds delay, uint32_t seed) {
  cut_ = std::move(cut);
  cut_delay_ = delay;
  cut_rng_.seed(seed);
}

std::vector<std::string> VirtualLine::Candidates() {
  std::vector<std::string> paths;
  for (const auto& [path, port] : ports_) paths.push_back(path);
  return paths;
}

live::LinkOpen VirtualLine::Open(const std::string& path, int baud) {
  Close();
  live::LinkOpen result;
  ++opens_[path];
  if (const auto held = held_.find(path); held != held_.end() && !held->second.empty()) {
    result.reason = held->second;
    result.busy = true;
    return result;
  }
  if (!ports_.count(path)) {
    result.reason = path + " does not exist";
    return result;
  }
  open_ = path;
  baud_ = baud;
  line_.clear();
  result.ok = true;
  return result;
}

void VirtualLine::Pump() {
  const auto port = ports_.find(open_);
  if (port == ports_.end()) return;
  const std::vector<uint8_t> due = port->second.counter->TakeDue(CounterTime(port->second));
  if (due.empty()) return;
  size_t cut_at = due.size();
  if (due.size() > 1 && cut_ && cut_())
    cut_at = std::uniform_int_distribution<size_t>(1, due.size() - 1)(cut_rng_);
  // Bytes cut off wait behind the rest of the line: a line never reorders.
  live::Steady::time_point at = clock_.Now();
  if (!line_.empty()) at = std::max(at, line_.back().due);
  for (size_t i = 0; i < due.size(); ++i) line_.push_back({i < cut_at ? at : at + cut_delay_, due[i]});
}

void VirtualLine::Discard() {
  Pump();
  const auto now = clock_.Now();
  line_.erase(std::remove_if(line_.begin(), line_.end(), [&](const Pending& p) { return p.due <= now; }), line_.end());
}

bool VirtualLine::Send(std::span<const uint8_t> frame, int delay_ms) {
  const auto port = ports_.find(open_);
  if (port == ports_.end()) return false;
  // Each byte takes its 10 bits on the line, and the sender's pause after it.
  const auto per_byte = std::chrono::microseconds(10'000'000 / std::max(baud_, 1)) + std::chrono::milliseconds(delay_ms);
  clock_.Advance(per_byte * static_cast<int>(frame.size()));
  port->second.counter->Receive(frame, CounterTime(port->second), baud_);
  return true;
}

size_t VirtualLine::Read(std::vector<uint8_t>& into, live::Steady::time_point deadline) {
  for (;;) {
    Pump();
    const auto port = ports_.find(open_);
    if (port == ports_.end()) {
      clock_.AdvanceTo(deadline);
      return 0;
    }
    // The earliest byte: one already on the line, or the counter's next.
    std::optional<live::Steady::time_point> next;
    if (!line_.empty()) next = line_.front().due;
    if (const std::optional<SimTime> due = port->second.counter->NextDue()) {
      const live::Steady::time_point at = port->second.switched_on + *due;
      if (!next || at < *next) next = at;
    }
    if (!next || *next > deadline) {
      clock_.AdvanceTo(deadline);
      return 0;
    }
    clock_.AdvanceTo(*next);
    Pump();
    const auto now = clock_.Now();
    size_t n = 0;
    while (!line_.empty() && line_.front().due <= now) {
      into.push_back(line_.front().byte);
      line_.erase(line_.begin());
      ++n;
    }
    if (n > 0) return n;
  }
}

}  // namespace norvane::sim
