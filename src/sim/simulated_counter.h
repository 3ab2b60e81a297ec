// The counter's side of the serial protocol: frames in, timed reply bytes out, no I/O.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "core/common/clock.h"
#include "sim/counter_model.h"
#include "sim/faults.h"
#include "sim/frame_parser.h"
#include "sim/screen_image.h"

namespace norvane::sim {

// Time since the counter was switched on; the transport supplies it, tests make it up.
using SimTime = std::chrono::nanoseconds;

// The raw reply to "<GETSERIAL>>".
using SerialNumber = std::array<uint8_t, 8>;

struct CounterOptions {
  const CounterModel* model = nullptr;  // a ZQT-400 when not given
  std::optional<std::string> version;   // overrides the model's version reply
  std::optional<std::vector<uint8_t>> history;  // flash contents; a generated history when empty
  std::optional<std::vector<uint8_t>> config;   // start of the configuration area; defaults when empty
  double cpm = 24;                      // mean of the Poisson counts per second, times 60
  uint32_t seed = 1;
  bool pace = false;                    // send at the line rate, 10 bits per byte
  SimTime reply_latency{0};             // from the end of a frame to the first reply byte
  SimTime restart_time{0};              // deaf after a factory reset
  Faults faults;
  SimTime grow_every{0};                // logs one more sample into the flash each period; 0: never
  // The counter's serial number; drawn from the system's entropy when not given, so that two
  // simulators are two counters whatever their seeds.
  std::optional<SerialNumber> serial;
  // Told the count of each "<GETCPS>>" reply once its last byte is on the line, for measuring
  // how long the program takes from the reply to what it does with it.
  std::function<void(uint32_t count)> counts_sent;
};

struct Screenshot {
  bool stored = false;
  LocalTime taken;
  ScreenImage image{};
};

class SimulatedCounter {
 public:
  // `clock` drives the counter's own clock and must outlive it.
  SimulatedCounter(CounterOptions options, const Clock& clock);

  // Bytes that arrived at `now`. `line_baud` is the rate the line is set to, 0 when unknown.
  void Receive(std::span<const uint8_t> bytes, SimTime now, int line_baud = 0);
  // Reply bytes due on the line at or before `now`, in order.
  std::vector<uint8_t> TakeDue(SimTime now);
  // When the next reply byte falls due; empty when nothing waits.
  std::optional<SimTime> NextDue() const;

  // Called for every frame taken, before it is answered (for logs and tests).
  void SetFrameObserver(std::function<void(const Frame&)> observer) { observer_ = std::move(observer); }

  const CounterModel& model() const { return *options_.model; }
  int family() const { return family_; }
  int baud() const { return LineBaud(family_); }
  const std::string& version() const { return version_; }
  const SerialNumber& serial() const { return serial_; }
  const std::vector<uint8_t>& flash() const { return flash_; }
  const std::vector<uint8_t>& config() const { return config_; }
  // Families 7 and above write into a staged copy that "<CFGUPDATE>>" applies.
  const std::vector<uint8_t>& staged_config() const { return staged_; }
  LocalTime DeviceTime() const;
  const std::array<Screenshot, 4>& screenshots() const { return screenshots_; }
  // Puts a known capture into slot `slot` (0-3), for tests that check the picture itself.
  void SetScreenshot(size_t slot, const Screenshot& shot) { screenshots_.at(slot) = shot; }
  bool download_mode() const { return download_mode_; }

 private:
  void Handle(const Frame& frame, SimTime now);
  void Reply(std::vector<uint8_t> bytes, SimTime now);
  void Ack(SimTime now) { Reply({0xAA}, now); }
  bool Deaf(SimTime now, int line_baud) const;
  void SetDeviceTime(const LocalTime& t);
  void StoreNetworkValue(int index, std::span<const uint8_t> value);
  std::vector<uint8_t> CountsReply(uint32_t count);
  // Holds back the rest of the reply just queued, as the split-counts fault asks.
  void SplitLastReply();
  // Count of whole second `second` since switch-on; asked in rising order, as polls come.
  uint32_t CountForSecond(int64_t second);
  std::vector<uint8_t> FlashReply(uint32_t address, uint32_t length);
  // The samples logged since switch-on up to `now`, appended to the history.
  void Grow(SimTime now);

  CounterOptions options_;
  const Clock& clock_;
  int family_;
  std::string version_;
  SerialNumber serial_;
  FrameParser parser_;
  std::function<void(const Frame&)> observer_;

  std::vector<uint8_t> flash_;
  uint32_t history_end_ = 0;
  int64_t grown_ = 0;  // samples logged since switch-on
  std::mt19937 grow_rng_;
  std::vector<uint8_t> config_;
  std::vector<uint8_t> staged_;
  std::vector<uint8_t> factory_config_;
  std::array<Screenshot, 4> screenshots_;
  int64_t clock_offset_ = 0;  // device wall time minus the host's, seconds
  std::time_t clock_set_at_ = 0;  // the host's time when the clock was last set: a drift counts from here
  bool download_mode_ = false;
  int flash_requests_ = 0;
  int count_replies_ = 0;
  int factory_resets_ = 0;
  SimTime last_input_{0};
  SimTime deaf_until_{0};

  std::mt19937 count_rng_;
  std::mt19937 split_rng_;
  int64_t counted_up_to_ = -1;  // the last second whose count is drawn
  uint32_t last_count_ = 0;

  struct Chunk {
    SimTime start;
    std::vector<uint8_t> bytes;
    size_t sent = 0;
    std::optional<uint32_t> counts;  // a "<GETCPS>>" reply carrying this count
  };
  SimTime DueTime(const Chunk& chunk, size_t index) const;
  std::deque<Chunk> output_;
  SimTime line_free_{0};
};

}  // namespace norvane::sim
