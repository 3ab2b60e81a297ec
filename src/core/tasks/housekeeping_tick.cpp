#include "core/tasks/housekeeping_tick.h"

#include "core/files/file_naming.h"
#include "core/net/map_urls.h"

namespace norvane {

TickReport HousekeepingTick::Run(bool monitoring, uint32_t cpm) {
  TickReport report;
  if (settings_.auto_save_enabled != 0 && save_.Tick(settings_.AutoSavePeriodSeconds())) {
    report.save_name = DefaultFileName(prefix_, clock_.LocalNow());
    bool all_written = true;
    for (std::string_view pattern : AutoSavePatterns(settings_.auto_save_file_type))
      if (actions_.save && !actions_.save(pattern, report.save_name)) all_written = false;
    report.saved = all_written;
    // A failed save keeps everything, so the next one tries again with the whole recording.
    if (all_written && settings_.auto_save_restart_counter != 0 && actions_.reset_realtime) actions_.reset_realtime();
  }

  if (submit_.Tick(monitoring, settings_.AutoSubmitOn(), settings_.auto_submit_period, cpm)) {
    const RealtimeSeries& series = data_.realtime;
    const float acpm = AverageCpmForMap(series.total(), series.elapsed(), cpm);
    const float usv = DoseRateFromCpm(data_.conversion, cpm);
    report.submitted = true;
    report.submit_url = SubmissionUrl(settings_.zqt_map_server, settings_.zqt_map_user_account_id,
                                      settings_.zqt_map_geiger_counter_id, cpm, acpm, usv);
    if (actions_.submit) actions_.submit(report.submit_url);
  }
  return report;
}

}  // namespace norvane
