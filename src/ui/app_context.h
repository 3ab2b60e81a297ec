// Everything the window shares with its dialogs and workers: one instance of each piece of
// program state, owned here and handed out by reference.
#pragma once

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/common/clock.h"
#include "core/files/file_saver.h"
#include "core/history/data_set.h"
#include "core/history/download.h"
#include "core/i18n/language_dictionary.h"
#include "core/net/map_submission.h"
#include "core/protocol/auto_scan.h"
#include "core/protocol/device_rig.h"
#include "core/publish/publishing_thread.h"
#include "core/live/live_run.h"
#include "core/live/port_loan.h"
#include "core/realtime/live_sink.h"
#include "core/realtime/realtime_recorder.h"
#include "core/serial/port_catalogue.h"
#include "core/settings/settings_store.h"
#include "core/store/seconds_writer.h"
#include "core/tasks/housekeeping_tick.h"
#include "core/tools/clock_sync.h"

namespace norvane {

// What the window plugs into the parts that call back: they run on worker threads (the download,
// the store, the publishers), so the window decides where the work lands.
struct AppHooks {
  DownloadProgress* download_progress = nullptr;
  HousekeepingActions housekeeping;
  UserNotifier* save_notifier = nullptr;       // the saver's status lines (deferred by the window)
  // The long-term store (empty: off), and who hears of the trouble of the store and the
  // publishers: they report from threads of their own, so this notifier must not wait for the window.
  std::filesystem::path store_path;
  UserNotifier* background_notifier = nullptr;
};

// The settings value that turns the long-term store off for the window (0), on by default.
inline constexpr char kLongTermStoreSetting[] = "LongTermStore";
// The settings values that publish the window's monitoring as `record` does; empty or absent: off.
inline constexpr char kMqttUrlSetting[] = "MqttUrl";
// The broker's password kept out of the settings, as record's --mqtt-password-file.
inline constexpr char kMqttPasswordFileSetting[] = "MqttPasswordFile";
inline constexpr char kMqttCaFileSetting[] = "MqttCaFile";
inline constexpr char kMqttEverySetting[] = "MqttEvery";
inline constexpr char kMqttDiscoveryPrefixSetting[] = "MqttDiscoveryPrefix";
inline constexpr char kMetricsAddressSetting[] = "MetricsAddress";
// The alarm's false alarms a year per counter and its fixed dose threshold in µSv/h, as text
// ("0.5", "0.3"); absent: one a year and no fixed threshold.
inline constexpr char kAlarmRateSetting[] = "AlarmFalseAlarmsPerYear";
inline constexpr char kAlarmUsvSetting[] = "AlarmUsvH";

struct AppContext {
  AppContext(UserNotifier& notifier, const std::filesystem::path& settings_path,
             const std::vector<std::string>& extra_ports, AppHooks hooks);
  ~AppContext();
  AppContext(const AppContext&) = delete;
  AppContext& operator=(const AppContext&) = delete;

  UserNotifier& notifier;
  SystemClock clock;
  SettingsStore store;
  Settings settings;
  LanguageDictionary dictionary;
  // Set up as every device command sets it up; the names below are the window's for its parts.
  DeviceRig device;
  PortCatalogue& ports = device.ports;
  DeviceLine& link = device.line;
  DeviceState& state = device.state;
  DeviceSession& session = device.session;
  DataSet data;
  FileSaver saver;
  RealtimeRecorder recorder;
  std::atomic<bool> sync_retry{false};
  live::PortLoan loan;
  ClockSync clock_sync;
  HistoryDownload download;
  AutoScan scan;
  MapSubmitter submitter;
  HousekeepingTick tick;

  // Monitoring's engine, started when the box is ticked and stopped when it is unticked; both on
  // the device worker's thread, which also runs every tool that borrows the engine's port. The
  // engine hands each second to the store first, then to the publishers, the alarm and `window`;
  // the alarm tells the publishers and `alarms` of each alarm and all-clear.
  struct LiveStart {
    std::string port;  // empty: wherever a counter answers
    int family = 1;
    bool demo = false;
    std::string demo_version;
    ConversionTable conversion;
  };
  void StartLive(const LiveStart& start, LiveSink& window, live::EngineLog& log, alarm::AlarmListener& alarms);
  void StopLive();
  // Builds the publishers from the settings again, as "Publishing..." left them; the result
  // reaches the log as the publishers connect. Only while no monitoring run holds them.
  void ApplyPublishing();
  // The image this counter's last download kept in the store, for "Download New"; empty when
  // there is none or the store is off.
  std::vector<uint8_t> LastDownload();
  // After a download's dump was saved: its records into the store, and the image kept for the
  // next "Download New". Runs on a worker thread.
  void ImportDownload();
  // After a whole download: one reading of the counter's clock into the store, so that a counter
  // which is only ever downloaded still has its clock judged. Runs on a worker thread.
  void ReadClockAfterDownload();
  bool store_on() const { return !store_path_.empty(); }
  const alarm::AlarmOptions& alarm_options() const { return alarm_options_; }

 private:
  // Every reading the clock dialogs, the periodic sync and downloads take, on their worker thread.
  void KeepClockReading(const store::ClockReading& reading);

  std::filesystem::path store_path_;
  UserNotifier& background_notifier_;
  const std::vector<std::string> extra_ports_;
  // Off without the store: the publishers name a counter by its number there.
  std::unique_ptr<publish::PublishingThread> publishing_;
  // Last, so it stops (committing what is queued) before anything it reports to goes.
  std::unique_ptr<store::SecondsWriter> seconds_writer_;
  alarm::AlarmOptions alarm_options_;
  std::unique_ptr<alarm::AlarmSink> alarms_;
  // After the writer, the publishers and the alarm it hands seconds to, so it stops first.
  std::unique_ptr<live::LiveRun> live_;
};

}  // namespace norvane
