#include "core/tasks/submit_schedule.h"

#include "core/common/text_format.h"

namespace norvane {

bool SubmitSchedule::Tick(bool monitoring, bool enabled, uint32_t period_minutes, uint32_t cpm) {
  if (!monitoring || !enabled) return false;
  const uint32_t before = count_++;
  if (before < uint64_t{period_minutes} * 60 || cpm == 0) return false;
  count_ = 0;
  return true;
}

float AverageCpmForMap(uint64_t total, uint32_t elapsed_seconds, uint32_t cpm) {
  if (elapsed_seconds > 60) return static_cast<float>(total) / (static_cast<float>(elapsed_seconds) / 60.0f);
  return static_cast<float>(cpm);
}

std::string AverageCpmText(float acpm) { return FormatFixed(acpm, 2); }

}  // namespace norvane
