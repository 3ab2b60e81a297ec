// The one-second housekeeping tick: the automatic save, then the web map submission.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "core/common/clock.h"
#include "core/history/data_set.h"
#include "core/settings/settings_store.h"
#include "core/tasks/auto_save.h"
#include "core/tasks/submit_schedule.h"

namespace norvane {

// What the tick hands on; the window and the CLI supply their own.
struct HousekeepingActions {
  // The save dispatcher: a type pattern and the file name without extension. False when the file
  // could not be written.
  std::function<bool(std::string_view pattern, const std::string& name)> save;
  // Resets the realtime data (AutoSaveRestartCounter), only after a save that wrote every file.
  std::function<void()> reset_realtime;
  // Starts a submission worker with the URL.
  std::function<void(const std::string& url)> submit;
};

struct TickReport {
  bool saved = false;  // an automatic save ran and wrote every file
  std::string save_name;
  bool submitted = false;
  std::string submit_url;
};

class HousekeepingTick {
 public:
  HousekeepingTick(const Settings& settings, const DataSet& data, const Clock& clock, HousekeepingActions actions)
      : settings_(settings), data_(data), clock_(clock), actions_(std::move(actions)) {}

  // The folder (with its separator) automatic file names start with.
  void set_name_prefix(std::string prefix) { prefix_ = std::move(prefix); }

  // One tick. `monitoring` is the realtime-active flag; `cpm` the CPM the poll last showed.
  TickReport Run(bool monitoring, uint32_t cpm);

  const AutoSaveSchedule& save_schedule() const { return save_; }
  const SubmitSchedule& submit_schedule() const { return submit_; }

 private:
  const Settings& settings_;
  const DataSet& data_;
  const Clock& clock_;
  HousekeepingActions actions_;
  std::string prefix_;
  AutoSaveSchedule save_;
  SubmitSchedule submit_;
};

}  // namespace norvane
