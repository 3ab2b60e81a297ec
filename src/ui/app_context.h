// Everything the window shares with its dialogs and workers: one instance of each piece of
// program state, owned here and handed out by reference.
#pragma once

#include <atomic>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "core/common/clock.h"
#include "core/files/file_saver.h"
#include "core/history/data_set.h"
#include "core/history/download.h"
#include "core/i18n/language_dictionary.h"
#include "core/net/map_submission.h"
#include "core/protocol/auto_scan.h"
#include "core/protocol/device_session.h"
#include "core/realtime/realtime_monitor.h"
#include "core/realtime/realtime_recorder.h"
#include "core/serial/port_catalogue.h"
#include "core/settings/settings_store.h"
#include "core/tasks/housekeeping_tick.h"
#include "core/tools/clock_sync.h"

namespace norvane {

// What the window plugs into the parts that call back: they run on worker threads (the reader,
// the download) or inside the poll, so the window decides where the work lands.
struct AppHooks {
  std::function<void()> port_error;            // from the reader thread
  std::function<void()> periodic_clock_sync;   // from the poll
  DownloadProgress* download_progress = nullptr;
  HousekeepingActions housekeeping;
  UserNotifier* save_notifier = nullptr;       // the saver's status lines (deferred by the window)
};

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
  PortCatalogue ports;
  CSerialLink link;
  ReceiveBuffer buffer;
  DeviceState state;
  ReaderThread reader;
  DeviceSession session;
  DataSet data;
  FileSaver saver;
  RealtimeRecorder recorder;
  std::atomic<bool> sync_retry{false};
  RealtimeMonitor monitor;
  ClockSync clock_sync;
  HistoryDownload download;
  AutoScan scan;
  MapSubmitter submitter;
  HousekeepingTick tick;
};

}  // namespace norvane
