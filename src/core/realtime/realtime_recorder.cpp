#include "core/realtime/realtime_recorder.h"

#include <algorithm>
#include <filesystem>

#include "core/common/text_format.h"
#include "core/files/file_naming.h"
#include "core/files/local_time.h"

namespace norvane {

void RealtimeRecorder::StartSession() {
  const std::time_t now = clock_.Now();
  data_.realtime.StartSession(now, StampFromLocal(clock_.ToLocal(now)));
  seconds_without_room_ = 0;
  FillMinuteWindow();
}

void RealtimeRecorder::ResetData() {
  const std::time_t now = clock_.Now();
  data_.realtime.Reset(now);
  data_.realtime.StartSession(now, StampFromLocal(clock_.ToLocal(now)));
  seconds_without_room_ = 0;
  FillMinuteWindow();
}

RecordedSecond RealtimeRecorder::Record(std::optional<uint32_t> count) {
  RecordedSecond second;
  RealtimeSeries& series = data_.realtime;
  if (count && series.full() && ++seconds_without_room_ >= kDaySaveRetrySeconds) SaveFullDay(second);
  if (count && !series.full()) {
    if (series.measured_count() == 0) {
      const std::time_t now = clock_.Now();
      series.Stamp(now, StampFromLocal(clock_.ToLocal(now)));
    }
    second.recorded = true;
    second.count = *count;
    series.Append(*count);
    if (series.full()) SaveFullDay(second);
  }
  FillMinuteWindow();
  return second;
}

void RealtimeRecorder::SaveFullDay(RecordedSecond& second) {
  RealtimeSeries& series = data_.realtime;
  seconds_without_room_ = 0;
  second.day_saves = SaveRecording();
  // Restarting after a failed save would throw the only copy of the day away.
  if (!AllSaved(second.day_saves)) {
    notifier_.Status(Format("24 hours data could not be saved: the day is kept and saved again in %u seconds.",
                            kDaySaveRetrySeconds));
    return;
  }
  notifier_.Status("24 hours data auto saved.");
  const uint32_t elapsed = series.elapsed();
  ResetData();
  series.set_elapsed(elapsed);
  second.day_restarted = true;
}

std::vector<SaveResult> RealtimeRecorder::SaveRecording(const std::string& prefix) {
  std::vector<SaveResult> results;
  if (recorded_seconds() == 0) return results;
  std::string name = DefaultFileName(prefix, clock_.LocalNow());
  // An automatic save in the same second would otherwise be overwritten by this one.
  const std::string base = name;
  for (int n = 1; std::filesystem::exists(name + ".rbn") || std::filesystem::exists(name + ".csv"); ++n)
    name = base + "_" + std::to_string(n);
  for (const char* pattern : kDaySavePatterns) results.push_back(saver_.SaveByType(pattern, name));
  return results;
}

void RealtimeRecorder::FillMinuteWindow() {
  const RealtimeSeries& series = data_.realtime;
  HistoryWindow& window = data_.window;
  const uint32_t end = series.count();
  const uint32_t first = end > HistoryWindow::kSamples ? end - static_cast<uint32_t>(HistoryWindow::kSamples) : 0;
  window.values.fill(0);
  window.sum = 0;
  for (uint32_t i = first; i < end; ++i) {
    window.values[i - first] = series.at(i);
    window.sum += series.at(i);
  }
}

}  // namespace norvane
