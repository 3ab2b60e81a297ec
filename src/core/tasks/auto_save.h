// The housekeeping tick's automatic save: its schedule and which files each type text means.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace norvane {

// Counts ticks towards the next automatic save. The count is compared before it is incremented,
// so with a period of T seconds the saves come every T + 1 ticks.
class AutoSaveSchedule {
 public:
  // True on the tick that saves; the count then starts again at 0.
  bool Tick(int64_t period_seconds);
  uint32_t count() const { return count_; }

 private:
  uint32_t count_ = 0;
};

// The patterns saved, in order, for an `AutoSaveFileType` text (compared exactly). "ALL" saves
// the data files first, then the pictures, then the minute log; an unknown text saves a CSV.
std::vector<std::string_view> AutoSavePatterns(std::string_view file_type);

// Pictures need the window's chart; the save dispatcher hands them to whoever draws it.
bool IsPicturePattern(std::string_view pattern);

}  // namespace norvane
