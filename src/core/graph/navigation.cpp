#include "core/graph/navigation.h"

#include <algorithm>

namespace norvane {

std::optional<float> ZoomFactorFor(std::string_view text) {
  for (const ZoomEntry& entry : kZoomList) {
    if (entry.text == text) return entry.factor;
  }
  return std::nullopt;
}

size_t WindowOffset(double scroll_position) {
  if (!(scroll_position >= static_cast<double>(kWindowStartSnap))) return 0;
  return static_cast<size_t>(scroll_position);
}

double StepBackPosition(ImageView image, double position) {
  const size_t offset = WindowOffset(position);
  if (offset == 0) return position;
  for (size_t back = 1; back < kStampLength && back <= offset; ++back) {
    const int64_t at = static_cast<int64_t>(offset - back);
    if (IsMarker(image, at, kCodeStamp)) return static_cast<double>(at);
  }
  return position;
}

void AdvancePlaybackClock(StampTime& clock, uint8_t save_type) {
  if (save_type == static_cast<uint8_t>(SaveType::kEveryHour)) {
    clock.minute = 59;
    clock.second = 59;
  } else if (save_type == static_cast<uint8_t>(SaveType::kEveryMinute)) {
    clock.second = 59;
  }
  // A clock read from damaged flash may hold a month outside 1-12; AdvanceStamp copes with it.
  AdvanceStamp(clock, StampUnit::kSecond);
}

bool AdvanceShownTime(WindowReadout& readout, uint8_t save_type) {
  if (!readout.clock_known) return false;
  AdvancePlaybackClock(readout.shown, save_type);
  readout.time = FormatShownTime(readout.shown);
  return true;
}

PlayTickPlan PlanPlayTick(const HistoryWindow& window, bool end_of_data_mode, double position, size_t image_size) {
  PlayTickPlan plan;
  const bool all_zero = std::all_of(window.values.begin(), window.values.end(), [](uint32_t v) { return v == 0; });
  if (end_of_data_mode && all_zero) plan.stop = true;
  plan.position = position + 1;
  if (!(plan.position < static_cast<double>(image_size))) plan.stop = true;
  plan.advance = !plan.stop;
  return plan;
}

}  // namespace norvane
