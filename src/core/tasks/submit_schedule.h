// When the housekeeping tick posts the readings to the web map, and the average it posts.
#pragma once

#include <cstdint>
#include <string>

namespace norvane {

// Counts ticks while monitoring runs with submission on. The count is compared before it is
// incremented and only reset by a submission, so a CPM of 0 postpones it to the first tick with
// counts.
class SubmitSchedule {
 public:
  bool Tick(bool monitoring, bool enabled, uint32_t period_minutes, uint32_t cpm);
  uint32_t count() const { return count_; }

 private:
  uint32_t count_ = 0;
};

// Total counts over elapsed minutes once more than a minute has passed, else the CPM; single
// precision, as posted.
float AverageCpmForMap(uint64_t total, uint32_t elapsed_seconds, uint32_t cpm);

// "%.2f" of the average, whatever the process locale.
std::string AverageCpmText(float acpm);

}  // namespace norvane
