#include "core/alarm/alarm_text.h"

#include "core/common/text_format.h"

namespace norvane::alarm {

std::string DescribeAlarm(const AlarmEvent& e, std::optional<double> fixed_usv_h) {
  if (e.kind == AlarmKind::kCleared)
    return Format("All clear: %.1f CPM in the last %d s (background %.1f CPM).", e.level_cpm, e.window,
                  e.background_cpm);
  if (e.window == 0)
    return Format("Alarm: %.3f µSv/h, at or above the fixed threshold of %.3f µSv/h (background %.1f CPM).", e.usv_h,
                  fixed_usv_h.value_or(0), e.background_cpm);
  return Format("Alarm: %.1f CPM in the last %d s, at or above its threshold of %.1f CPM (background %.1f CPM).",
                e.level_cpm, e.window, e.threshold_cpm, e.background_cpm);
}

}  // namespace norvane::alarm
