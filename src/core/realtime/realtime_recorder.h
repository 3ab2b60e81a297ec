// Recording one polled second into the day of realtime counts, and saving a full day.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/common/clock.h"
#include "core/common/user_notifier.h"
#include "core/files/file_saver.h"
#include "core/history/data_set.h"

namespace norvane {

// What became of one polled second.
struct RecordedSecond {
  bool recorded = false;  // false: the reply was dropped
  uint32_t count = 0;
  std::vector<SaveResult> day_saves;  // filled on the second that saved the full day
  bool day_restarted = false;         // every file of the day was written and recording began anew
};

// The patterns a completed day, and a recording cut short, are saved as.
inline constexpr const char* kDaySavePatterns[] = {"*.rbn", "*.csv", "*.html"};

class RealtimeRecorder {
 public:
  RealtimeRecorder(DataSet& data, FileSaver& saver, const Clock& clock, UserNotifier& notifier)
      : data_(data), saver_(saver), clock_(clock), notifier_(notifier) {}

  // The folder (with its separator) automatic file names start with.
  void set_name_prefix(std::string prefix) { prefix_ = std::move(prefix); }
  const std::string& name_prefix() const { return prefix_; }

  // A full day whose save failed is saved again after this many seconds that found no room.
  static constexpr uint32_t kDaySaveRetrySeconds = 60;

  // Monitoring starts: slots from 59, nothing counted, the series stamped now.
  void StartSession();
  // Resets the realtime data after an automatic save: start time now, elapsed 0, slots from 59.
  void ResetData();

  // Records one second's reply (empty when dropped). The first second of a recording stamps it. A full day is saved and, only when every file was written, recording starts anew; until
  // then the day is kept whole and the seconds that find no room are dropped.
  RecordedSecond Record(std::optional<uint32_t> count);

  // Saves the seconds recorded so far under the automatic name in the prefix's folder (or the
  // given one); empty when nothing was recorded.
  std::vector<SaveResult> SaveRecording() { return SaveRecording(prefix_); }
  std::vector<SaveResult> SaveRecording(const std::string& prefix);

  // Seconds stored since the start or the last day-full save.
  uint32_t recorded_seconds() const { return data_.realtime.measured_count(); }

 private:
  void SaveFullDay(RecordedSecond& second);
  void FillMinuteWindow();

  DataSet& data_;
  FileSaver& saver_;
  const Clock& clock_;
  UserNotifier& notifier_;
  std::string prefix_;
  uint32_t seconds_without_room_ = 0;
};

}  // namespace norvane
