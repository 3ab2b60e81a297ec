// Which 60 samples the chart shows: the zoom list, the play speeds, the playback clock and the
// decisions of a playback tick, kept apart from the window that drives them.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

#include "core/graph/chart_drawing.h"
#include "core/history/history_window.h"
#include "core/history/record_stream.h"

namespace norvane {

struct ZoomEntry {
  std::string_view text;
  float factor;
};

// The scale list, in its order; "AUTO" (100) is the automatic scale and the start selection.
inline constexpr std::array<ZoomEntry, 7> kZoomList = {{
    {"x0.1", 0.1f}, {"x0.5", 0.5f}, {"x1", 1.0f}, {"x2", 2.0f}, {"x5", 5.0f}, {"x10", 10.0f}, {"AUTO", 100.0f},
}};
inline constexpr size_t kZoomAutoIndex = 6;

// The factor of a scale list text, compared exactly; empty for a text not in the list.
std::optional<float> ZoomFactorFor(std::string_view text);

struct PlaySpeed {
  std::string_view caption;
  int period_ms;
};

// Index 1 is "x1"; each press of the speed button moves on one row, after "x64" back to "x1".
inline constexpr std::array<PlaySpeed, 7> kPlaySpeeds = {{
    {"x1", 1000}, {"x2", 500}, {"x4", 250}, {"x8", 125}, {"x16", 60}, {"x32", 30}, {"x64", 15},
}};

class PlaySpeedSelector {
 public:
  int index() const { return index_; }  // 1..7
  const PlaySpeed& speed() const { return kPlaySpeeds[static_cast<size_t>(index_ - 1)]; }
  void Next() { index_ = index_ % static_cast<int>(kPlaySpeeds.size()) + 1; }

 private:
  int index_ = 1;
};

// The image offset a scroll position shows: truncated, and the first 30 bytes all show the start.
size_t WindowOffset(double scroll_position);

// Where a step back of the scroll bar shows the window from. A refill creeps forward past the
// first record in its window, which would undo any step back and leave the samples before a
// stamp out of reach; so a step back does not creep, and one that lands inside a stamp goes to
// the stamp's first byte, from where the next step reaches the sample before it.
double StepBackPosition(ImageView image, double position);

// One step of the playback clock for the save type shown: an hourly sample first sets minute and
// second to 59, a per-minute sample the second, then one second is added with carries.
void AdvancePlaybackClock(StampTime& clock, uint8_t save_type);
// The playback clock's step in the window's texts. Data without a time of its own has no clock
// to run, so nothing changes; returns whether the time text did.
bool AdvanceShownTime(WindowReadout& readout, uint8_t save_type);

struct PlayTickPlan {
  bool stop = false;        // playback ends on this tick ("Play ended!")
  double position = 0;      // where the scroll bar goes before the refill
  bool advance = true;      // the elapsed seconds and the playback clock move on
};

// A playback tick. An all-zero window stops playback only when the download stops at the end of
// data (end mode 0); reaching the image end always does. The tick that stops still moves and
// refills, but the clock no longer advances.
PlayTickPlan PlanPlayTick(const HistoryWindow& window, bool end_of_data_mode, double position, size_t image_size);

}  // namespace norvane
