// A counter that is not there: the demonstration's made-up counts of 0 to 2 a second, answered
// through the same engine as a real counter's, so the demonstration shows what monitoring shows.
#pragma once

#include <random>
#include <string>
#include <vector>

#include "core/live/live_link.h"

namespace norvane::live {

class DemoLink final : public LiveLink {
 public:
  // `version` is what the demonstration answers to the version request: the selected model's name.
  DemoLink(LiveClock& clock, std::string version);

  std::vector<std::string> Candidates() override { return {kPath}; }
  LinkOpen Open(const std::string& path, int baud) override;
  void Close() override { pending_.clear(); }
  void Discard() override { pending_.clear(); }
  bool Send(std::span<const uint8_t> frame, int delay_ms) override;
  size_t Read(std::vector<uint8_t>& into, Steady::time_point deadline) override;
  bool Present() override { return true; }
  std::string StablePath(const std::string& path) override { return path; }

  static constexpr const char* kPath = "demo";

 private:
  LiveClock& clock_;
  const std::string version_;
  std::vector<uint8_t> pending_;
  std::minstd_rand random_;
};

}  // namespace norvane::live
