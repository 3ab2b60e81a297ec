// The window's device side: connecting, the port scan, the history download and realtime
// monitoring. Blocking exchanges run on the device worker; the window only starts and listens.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSystemTrayIcon>

#include "core/alarm/alarm_text.h"
#include "core/common/text_format.h"
#include "core/files/dump_after_download.h"
#include "core/files/file_filters.h"
#include "core/files/file_naming.h"
#include "core/files/local_time.h"
#include "core/history/download_new.h"
#include "core/platform/folder_check.h"
#include "core/protocol/model_identification.h"
#include "core/tasks/elapsed_text.h"
#include "core/tools/clock_rules.h"
#include "ui/download_dialogs.h"
#include "ui/main_window.h"
#include "ui/qt_text.h"
#include "ui/scroll_bar_ex.h"

namespace norvane {

void CMainViewerDlg::RunDevice(std::function<void()> work, std::function<void()> done) {
  worker_->Run(std::move(work), std::move(done));
}

bool CMainViewerDlg::PortBusy() const { return worker_->busy() || ctx_->download.running(); }

bool CMainViewerDlg::RefuseWhilePortBusy() {
  if (!PortBusy()) return false;
  notifier_->Message(ctx_->dictionary.GetText(124));
  return true;
}

void CMainViewerDlg::UpdateDeviceControls() {
  // One device operation at a time: what would start a second waits until the first is done.
  const bool idle = !PortBusy();
  connect_button_->setEnabled(idle);
  port_list_->setEnabled(idle);
  model_list_->setEnabled(idle);
  // Every command that talks to the counter: auto detect, the serial port, the settings,
  // terminal and configuration dialogs, and the four screenshots.
  for (int id : {32796, 32789, 32795, 32797, 32798, 32801, 32802, 32804, 32806}) commands_[id]->setEnabled(idle);
  commands_[32774]->setEnabled(idle && !monitoring_);
  realtime_box_->setEnabled(idle && !ctx_->state.demo.load());
  demo_box_->setEnabled(idle);
  // The download takes the port from monitoring and the image from playback.
  download_button_->setEnabled(idle && !playing_ && !monitoring_);
}

void CMainViewerDlg::SelectModel(int index) {
  if (index < 0 || index >= static_cast<int>(kModelList.size())) return;
  // A new model resizes the image a download is writing into.
  if (ctx_->download.running()) {
    RefuseWhilePortBusy();
    model_list_->setCurrentIndex(ctx_->state.selected_model);
    return;
  }
  model_list_->setCurrentIndex(index);
  views_frozen_ = true;
  RunDevice([this, index] { ctx_->session.SelectModelFromList(index); },
            [this] {
              views_frozen_ = false;
              model_label_->setText(ToQString(ctx_->state.model_text));
            });
}

void CMainViewerDlg::AfterIdentify(const IdentifyResult& result) {
  ShowConnectCaption(result.port_open);
  model_list_->setCurrentIndex(ctx_->state.selected_model);
  model_label_->setText(ToQString(ctx_->state.model_text));
  ShowPort(ctx_->state.current_port);
}

void CMainViewerDlg::ConnectSelectedPort(bool queued, std::function<void(const IdentifyResult&)> then) {
  if (!queued && RefuseWhilePortBusy()) return;
  const int port = SelectedPort();
  scan_timer_.stop();
  ctx_->scan.Cancel();
  auto result = std::make_shared<IdentifyResult>();
  RunDevice([this, port, result] { *result = ctx_->session.ConnectAndIdentify(port); },
            [this, result, then] {
              AfterIdentify(*result);
              if (then) then(*result);
            });
}

void CMainViewerDlg::PressConnect() {
  if (RefuseWhilePortBusy()) return;
  // Monitoring holds the port: disconnecting ends it first.
  if (monitoring_) StopMonitoring();
  // The device session judges the English caption.
  const std::string caption = shows_disconnect_ ? "Disconnect" : "Connect";
  const int model = model_list_->currentIndex();
  const int port = SelectedPort();
  scan_timer_.stop();
  ctx_->scan.Cancel();
  auto new_caption = std::make_shared<std::string>();
  RunDevice(
      [this, caption, model, port, new_caption] {
        if (caption.find("Connect") != std::string::npos && caption.find("Disconnect") == std::string::npos) {
          ctx_->session.SelectModelFromList(model);
          ctx_->state.current_port = port;
        }
        *new_caption = ctx_->session.PressConnectButton(caption);
      },
      [this, new_caption] {
        ShowConnectCaption(*new_caption == "Disconnect");
        model_list_->setCurrentIndex(ctx_->state.selected_model);
        model_label_->setText(ToQString(ctx_->state.model_text));
      });
}

void CMainViewerDlg::StartAutoDetect(bool queued) {
  if (!queued && RefuseWhilePortBusy()) return;
  // The scan opens every port in turn, the monitored one too.
  if (monitoring_) StopMonitoring();
  auto first = std::make_shared<std::chrono::milliseconds>();
  RunDevice([this, first] { *first = ctx_->scan.Start(); },
            [this, first] {
              SyncMonitoringUi();
              scan_timer_.start(static_cast<int>(first->count()));
            });
}

void CMainViewerDlg::ScanStep() {
  if (!ctx_->scan.active()) return;
  // The download has the port; the scan has been called off for it.
  if (ctx_->download.running()) return;
  auto step = std::make_shared<AutoScan::Step>();
  RunDevice([this, step] { *step = ctx_->scan.RunStep(); },
            [this, step] {
              if (step->outcome == AutoScan::Outcome::kContinue) {
                if (ctx_->scan.active()) scan_timer_.start(static_cast<int>(step->next.count()));
                return;
              }
              if (step->outcome == AutoScan::Outcome::kFound) AfterIdentify(ctx_->scan.identified());
            });
}

// ---- History download ----

void CMainViewerDlg::StartDownload() {
  if (RefuseWhilePortBusy()) return;
  DownloadOptions current = DownloadOptionsFromSettings(ctx_->settings);
  // A small table's one row: quick enough to look up before the dialog shows.
  std::vector<uint8_t> previous = ctx_->LastDownload();
  current.only_new = !previous.empty();
  std::optional<DownloadOptions> options;
  if (choose_options_) {
    options = choose_options_(current);
  } else {
    DownloadOptionsDialog dialog(current, ctx_->dictionary, this, current.only_new);
    if (dialog.exec() == QDialog::Accepted) options = dialog.options();
  }
  if (!options) return;
  ctx_->settings.download_speed = static_cast<uint32_t>(options->speed);
  ctx_->settings.fast_download = static_cast<uint32_t>(options->end_mode);

  const std::optional<FileAnswer> file =
      ChooseFile(SaveRequest((*captions_)(125), kDownloadFilter, ctx_->settings.file_download_path));
  if (!file) return;
  if (auto folder = ctx_->store.StoreFolderOf(setting_names::kFileDownloadPath, file->path))
    ctx_->settings.file_download_path = *folder;

  const auto expected_end = static_cast<uint32_t>(previous.size());
  if (!options->only_new) previous.clear();
  BeginDownload({*options, file->path, file->type_text, std::move(previous), expected_end});
}

void CMainViewerDlg::BeginDownload(DownloadRequest download) {
  // The download takes the port: realtime monitoring and a scan end here, and playback with it.
  scan_timer_.stop();
  ctx_->scan.Cancel();
  if (playing_) StopPlayback();
  if (monitoring_) StopMonitoring();

  auto started = std::make_shared<bool>(false);
  views_frozen_ = true;
  HoldPlay();
  download_button_->setEnabled(false);
  RunDevice(
      [this, download, started] {
        *started = ctx_->download.StartDownload(download, [this](const DownloadReport& report) {
          QMetaObject::invokeMethod(this, [this, report] {
            DownloadEnded(report);
            if (report.end == DownloadEnd::kPortLost) PortLost();
          }, Qt::QueuedConnection);
        });
      },
      [this, started] {
        if (!*started) {
          views_frozen_ = false;
          ReleasePlay();
          UpdateDeviceControls();
          return;
        }
        progress_->Start(ctx_->state.memory_size);
        progress_->show();
        scroll_->SetRange(0, ctx_->state.memory_size);
        UpdateDeviceControls();
      });
}

void CMainViewerDlg::HoldPlay() {
  // A download that starts again after the first found another history keeps the first state.
  if (!play_held_) play_held_ = play_button_->isEnabled();
  play_button_->setEnabled(false);
}

void CMainViewerDlg::ReleasePlay() {
  if (!play_held_) return;
  play_button_->setEnabled(*play_held_ && !playing_);
  play_held_.reset();
}

void CMainViewerDlg::DownloadEnded(const DownloadReport& report) {
  progress_->hide();
  DownloadRequest request = ctx_->download.request();
  // Never spliced: a cleared counter, or another one on this port, is read from its start.
  if (report.end == DownloadEnd::kHistoryDiffers && !request.previous.empty()) {
    views_frozen_ = false;
    notifier().Message(kHistoryDiffersText, ctx_->dictionary.GetText(68));
    request.previous.clear();
    RunDevice([this] { ctx_->download.Wait(); }, [this, request] { BeginDownload(request); });
    return;
  }
  const ImageView image = ctx_->data.dump.image();
  const bool nothing_new = report.complete() && !request.previous.empty() &&
                           ImageDataEnd({image.data(), image.size()}) == request.previous.size();
  // A download cut short by the line is shown and kept as far as it came, as is a whole one
  // whose file could not be written: minutes of reading are never thrown away.
  const bool cut_short =
      report.bytes > 0 && (report.end == DownloadEnd::kTooManyFailures || report.end == DownloadEnd::kPortLost);
  auto kept_text = std::make_shared<std::string>();
  RunDevice(
      [this, report, request, cut_short, kept_text, nothing_new] {
        ctx_->download.Wait();
        if (nothing_new) {
          ctx_->ReadClockAfterDownload();
          return;
        }
        if (cut_short) {
          const SaveResult kept = KeepPartialDownload(ctx_->data.dump, report.bytes, request.path, TemporaryFolder());
          ctx_->data.RefillFromStart();
          *kept_text = KeptDownloadText(report.bytes, report.image_size, nullptr, kept);
        }
        if (!report.complete()) return;
        // Heartbeat off, the configuration read and the dump: seconds of waiting on the counter.
        const DumpAfterDownload saved =
            SaveDumpAfterDownload(ctx_->link, ctx_->state, ctx_->saver, ctx_->data, request.type_text, request.path);
        if (saved.save.dump.outcome == SaveOutcome::kFileError) {
          const SaveResult kept = KeepUnsavedDownload(ctx_->data.dump, request.path, TemporaryFolder());
          *kept_text = KeptDownloadText(report.bytes, report.image_size, &saved.save.dump, kept);
        }
        if (saved.save.dump.saved()) ctx_->ImportDownload();
        ctx_->ReadClockAfterDownload();
      },
      [this, report, cut_short, kept_text, nothing_new] {
        views_frozen_ = false;
        ReleasePlay();
        if (nothing_new) *kept_text = kNoNewDataText;
        if (report.complete() || cut_short) {
          scroll_->SetRange(0, report.bytes);
          AfterHistoryLoaded();
        }
        if (!kept_text->empty()) notifier().Message(*kept_text, ctx_->dictionary.GetText(68));
        UpdateDeviceControls();
      });
}

// ---- Realtime monitoring ----

void CMainViewerDlg::SetRealtimeTick(bool ticked) { realtime_box_->setChecked(ticked); }

void CMainViewerDlg::ToggleRealtime() {
  // The box has already changed its tick; the monitoring follows it, unless the port is taken.
  if (ctx_->download.running()) {
    SetRealtimeTick(false);
    RefuseWhilePortBusy();
    return;
  }
  if (playing_) StopPlayback();
  SetPlayControls(false, false);
  download_button_->setEnabled(true);
  commands_[32792]->setEnabled(false);
  commands_[32774]->setEnabled(false);
  if (realtime_box_->isChecked()) {
    commands_[32792]->setEnabled(true);
    commands_[32794]->setEnabled(false);
    download_button_->setEnabled(false);
    StartMonitoring();
  } else {
    StopMonitoring();
  }
}

void CMainViewerDlg::ToggleDemo() {
  if (RefuseWhilePortBusy()) {
    demo_box_->setChecked(ctx_->state.demo.load());
    return;
  }
  const bool demo = !ctx_->state.demo.load();
  // A counter's monitoring and the demonstration never share a recording run.
  if (monitoring_) StopMonitoring();
  ctx_->state.demo = demo;
  demo_box_->setChecked(demo);
  SetRealtimeTick(demo);
  realtime_box_->setEnabled(!demo);
  ToggleRealtime();
}

void CMainViewerDlg::StartMonitoring() {
  if (monitoring_) return;
  // Live counts replace the history on screen, and with it the history's note.
  ctx_->data.readout.note.clear();
  info_label_->clear();
  // A new run watches afresh: an alarm of the last one, never cleared, is not this one's.
  alarm_shown_ = false;
  info_label_->setStyleSheet({});
  monitoring_ = true;
  live_state_ = LinkState::kStopped;
  const bool demo = ctx_->state.demo.load();
  // Ticking the box again carries on the same recording: only a save or the user empties it.
  if (ctx_->recorder.recorded_seconds() == 0) ctx_->recorder.StartSession();
  notifier_->Status(ctx_->dictionary.GetText(126));
  notifier_->Status(ctx_->dictionary.GetText(demo ? 127 : 128));
  ctx_->store.StoreNumber(setting_names::kRealtimeMornitoring, 1);
  AppContext::LiveStart start;
  start.port = ctx_->ports.PathOf(SelectedPort()).value_or("");
  start.family = ctx_->state.family.load();
  start.demo = demo;
  start.demo_version = model_list_->currentText().toStdString();
  start.conversion = ctx_->data.conversion;
  RunDevice([this, start] { ctx_->StartLive(start, *bridge_, *bridge_, *bridge_); });
  SyncMonitoringUi();
}

void CMainViewerDlg::StopMonitoring() {
  if (monitoring_) {
    monitoring_ = false;
    notifier_->Status(ctx_->dictionary.GetText(129));
    ctx_->store.StoreNumber(setting_names::kRealtimeMornitoring, 0);
    // The engine finishes the poll it is in; the recording stays until it is saved.
    RunDevice([this] { ctx_->StopLive(); });
  }
  live_state_ = LinkState::kStopped;
  SyncMonitoringUi();
  commands_[32792]->setEnabled(ctx_->recorder.recorded_seconds() > 0);
  download_button_->setEnabled(!PortBusy() && !playing_);
}

void CMainViewerDlg::SyncMonitoringUi() {
  SetRealtimeTick(monitoring_);
  UpdateDeviceControls();
}

void CMainViewerDlg::OnLiveSecond(const LiveSecond& second) {
  const RecordedSecond recorded = ctx_->recorder.Record(second.count);
  live_cpm_ = second.cpm;
  cpm_label_->setText(ToQString(Format("CPM:%u", static_cast<unsigned>(second.cpm))));
  dose_label_->setText(ToQString(FormatFixed(second.usv_h, 3) + " uSv/h"));
  if (recorded.day_restarted) saved_seconds_ = ctx_->recorder.recorded_seconds();
  CountPolledSecond();
  ShowGraph();
}

void CMainViewerDlg::OnLiveGap() {
  ctx_->recorder.Record(std::nullopt);
  CountPolledSecond();
}

void CMainViewerDlg::CountPolledSecond() {
  RealtimeSeries& series = ctx_->data.realtime;
  series.set_elapsed(series.elapsed() + 1);
  time_label_->setText(ToQString(ElapsedText(series.elapsed(), ctx_->dictionary)));
  time_shows_elapsed_ = true;
  const DeviceState& state = ctx_->state;
  if (monitoring_ && !state.demo.load() && !PortBusy() &&
      PeriodicClockSyncDue(state.family.load(), state.firmware_version.load(), ctx_->settings.auto_time_sync_period,
                           ctx_->sync_retry.load(), series.elapsed()))
    RunDevice([this] { ctx_->clock_sync.SetClock(ClockTrigger::kPeriodic); });
}

void CMainViewerDlg::OnAlarm(const alarm::AlarmEvent& event) {
  const bool raised = event.kind == alarm::AlarmKind::kRaised;
  const std::string text = ctx_->dictionary.TranslatedLine(alarm::DescribeAlarm(event, ctx_->alarm_options().fixed_usv_h));
  notifier_->Status(text);
  // The banner stays until the all-clear: the link's notes do not take its place meanwhile.
  alarm_shown_ = raised;
  info_label_->setStyleSheet(raised ? "QLabel { color: white; background: #c00000; font-weight: bold; }" : "");
  alarm_text_ = ToQString(text);
  info_label_->setText(alarm_text_);
  if (!QSystemTrayIcon::isSystemTrayAvailable()) return;
  if (!tray_) {
    tray_ = new QSystemTrayIcon(windowIcon(), this);
    tray_->show();
  }
  tray_->showMessage("Norvane Data Viewer", ToQString(text),
                     raised ? QSystemTrayIcon::Critical : QSystemTrayIcon::Information);
}

void CMainViewerDlg::OnLiveLink(const store::CounterInfo& counter, LinkState state) {
  live_state_ = state;
  if (!monitoring_) return;
  // An alarm's banner stays, with the link's news under it: an unplugged counter measures nothing.
  const auto note = [this](const QString& text) {
    info_label_->setText(alarm_shown_ && !text.isEmpty() ? alarm_text_ + "\n" + text : alarm_shown_ ? alarm_text_ : text);
  };
  const auto clear_reading = [this] {
    cpm_label_->setText(QStringLiteral("CPM:-"));
    dose_label_->setText(QStringLiteral("-"));
  };
  switch (state) {
    case LinkState::kConnected:
      note({});
      // The seconds from now on are this counter's; the HTML header names its model.
      ctx_->saver.set_model(counter.model);
      if (ctx_->state.demo.load()) break;
      // The counter that answered is the one the tools and the clock sync talk to.
      ctx_->state.model_text = counter.version;
      ctx_->state.family.store(std::atoi(counter.family.c_str()));
      ctx_->state.firmware_version.store(FirmwareVersionNumber(counter.version));
      model_label_->setText(ToQString(counter.version));
      ShowConnectCaption(true);
      break;
    case LinkState::kNotAnswering:
      note((*captions_)(130));
      clear_reading();
      break;
    case LinkState::kLost:
      // No box: the engine looks for the counter again by itself, and the log says why.
      note((*captions_)(131));
      clear_reading();
      ShowConnectCaption(false);
      break;
    case LinkState::kStopped: break;
  }
}

void CMainViewerDlg::PortLost() {
  const int port = ctx_->state.current_port;
  RunDevice(
      [this] {
        ctx_->link.Close();
        ctx_->state.port_open = false;
      },
      [this] {
        ShowConnectCaption(false);
        UpdateDeviceControls();
      });
  notifier_->Message((*captions_)(132).arg(port).toStdString());
}

}  // namespace norvane
