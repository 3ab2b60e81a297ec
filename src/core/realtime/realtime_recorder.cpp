#include "core/realtime/realtime_recorder.h"

#include <algorithm>
#include <filesystem>

#include "core/common/text_format.h"
#include "core/files/file_naming.h"
#include "core/files/local_time.h"

namespace norvane {

void RealtimeRecorder::StartSession() {
  data_.realtime.StartSession(StampFromLocal(clock_.LocalNow()));
  FillMinuteWindow();
}

void RealtimeRecorder::ResetData() {
  data_.realtime.Reset(clock_.Now());
  // The start record follows the new start time, so the next file says when its data began.
  data_.realtime.StartSession(StampFromLocal(clock_.LocalNow()));
  FillMinuteWindow();
}

RecordedSecond RealtimeRecorder::Record(std::optional<uint32_t> count) {
  RecordedSecond second;
  RealtimeSeries& series = data_.realtime;
  if (count) {
    second.recorded = true;
    second.count = *count;
    second.cpm = series.Cpm();
    series.Append(*count);
    if (series.full()) {
      second.day_saves = SaveRecording();
      notifier_.Status("24 hours data auto saved.");
      const uint32_t elapsed = series.elapsed();
      ResetData();
      series.set_elapsed(elapsed);
    }
  } else {
    second.cpm = series.Cpm();
  }
  second.cpm_text = Format("CPM:%d", static_cast<int>(second.cpm));
  second.dose_text = FormatFixed(DoseRateFromCpm(data_.conversion, second.cpm), 3) + " uSv/h";
  FillMinuteWindow();
  return second;
}

std::vector<SaveResult> RealtimeRecorder::SaveRecording() {
  std::vector<SaveResult> results;
  if (recorded_seconds() == 0) return results;
  std::string name = DefaultFileName(prefix_, clock_.LocalNow());
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
