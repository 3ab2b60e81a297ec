// The window's device side: connecting, the port scan, the history download and realtime
// monitoring. Blocking exchanges run on the device worker; the window only starts and listens.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include "core/common/text_format.h"
#include "core/files/dump_after_download.h"
#include "core/files/file_filters.h"
#include "core/files/file_naming.h"
#include "core/files/local_time.h"
#include "core/history/download_new.h"
#include "core/platform/folder_check.h"
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
  notifier_->Message("The counter is busy with another operation. Please try again when it has finished.");
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
  commands_[32774]->setEnabled(idle && !ctx_->state.realtime_active.load());
  realtime_box_->setEnabled(idle && !ctx_->state.demo.load());
  demo_box_->setEnabled(idle);
  // The download takes the port from monitoring and the image from playback.
  download_button_->setEnabled(idle && !playing_ && ctx_->monitor.state() == MonitorState::kOff);
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
  connect_button_->setText(result.port_open ? "Disconnect" : "Connect");
  model_list_->setCurrentIndex(ctx_->state.selected_model);
  model_label_->setText(ToQString(ctx_->state.model_text));
  if (ctx_->state.current_port >= 0 && ctx_->state.current_port < port_list_->count())
    port_list_->setCurrentIndex(ctx_->state.current_port);
}

void CMainViewerDlg::ConnectSelectedPort(bool queued, std::function<void(const IdentifyResult&)> then) {
  if (!queued && RefuseWhilePortBusy()) return;
  const int port = port_list_->currentIndex();
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
  const std::string caption = connect_button_->text().toStdString();
  const int model = model_list_->currentIndex();
  const int port = port_list_->currentIndex();
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
        connect_button_->setText(ToQString(*new_caption));
        model_list_->setCurrentIndex(ctx_->state.selected_model);
        model_label_->setText(ToQString(ctx_->state.model_text));
      });
}

void CMainViewerDlg::StartAutoDetect(bool queued) {
  if (!queued && RefuseWhilePortBusy()) return;
  poll_timer_.stop();
  confirm_timer_.stop();
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
    DownloadOptionsDialog dialog(current, this, current.only_new);
    if (dialog.exec() == QDialog::Accepted) options = dialog.options();
  }
  if (!options) return;
  ctx_->settings.download_speed = static_cast<uint32_t>(options->speed);
  ctx_->settings.fast_download = static_cast<uint32_t>(options->end_mode);

  const std::optional<FileAnswer> file =
      ChooseFile(SaveRequest("Save As", kDownloadFilter, ctx_->settings.file_download_path));
  if (!file) return;
  if (auto folder = ctx_->store.StoreFolderOf(setting_names::kFileDownloadPath, file->path))
    ctx_->settings.file_download_path = *folder;

  if (!options->only_new) previous.clear();
  BeginDownload({*options, file->path, file->type_text, std::move(previous)});
}

void CMainViewerDlg::BeginDownload(DownloadRequest download) {
  // The download takes the port: realtime monitoring and a scan end here, and playback with it.
  scan_timer_.stop();
  ctx_->scan.Cancel();
  if (playing_) StopPlayback();
  if (ctx_->monitor.IsMonitoring()) StopMonitoring();
  SetRealtimeTick(false);

  auto started = std::make_shared<bool>(false);
  views_frozen_ = true;
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
          UpdateDeviceControls();
          return;
        }
        progress_->Start(ctx_->state.memory_size);
        progress_->show();
        scroll_->SetRange(0, ctx_->state.memory_size);
        UpdateDeviceControls();
      });
}

void CMainViewerDlg::DownloadEnded(const DownloadReport& report) {
  progress_->hide();
  DownloadRequest request = ctx_->download.request();
  // Never spliced: a cleared counter, or another one on this port, is read from its start.
  if (report.end == DownloadEnd::kHistoryDiffers && !request.previous.empty()) {
    views_frozen_ = false;
    notifier().Message(kHistoryDiffersText, "Download");
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
        if (nothing_new) return;
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
      },
      [this, report, cut_short, kept_text, nothing_new] {
        views_frozen_ = false;
        if (nothing_new) *kept_text = kNoNewDataText;
        if (report.complete() || cut_short) {
          scroll_->SetRange(0, report.bytes);
          AfterHistoryLoaded();
        }
        if (!kept_text->empty()) notifier().Message(*kept_text, "Download");
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
  ctx_->state.demo = demo;
  demo_box_->setChecked(demo);
  SetRealtimeTick(demo);
  realtime_box_->setEnabled(!demo);
  ToggleRealtime();
}

void CMainViewerDlg::StartMonitoring() {
  // Live counts replace the history on screen, and with it the history's note.
  ctx_->data.readout.note.clear();
  info_label_->clear();
  auto opened = std::make_shared<bool>(false);
  poll_timer_.stop();
  RunDevice([this, opened] { *opened = ctx_->monitor.Start(); }, [this, opened] { MonitoringStarted(*opened); });
}

void CMainViewerDlg::MonitoringStarted(bool opened) {
  saved_seconds_ = 0;
  if (!opened) {
    SetRealtimeTick(false);
    commands_[32792]->setEnabled(false);
    commands_[32774]->setEnabled(true);
    download_button_->setEnabled(true);
    play_button_->setEnabled(true);
    return;
  }
  ctx_->PublishLink(LinkState::kConnected);
  // Until the counter confirms, the box shows unticked: polling is not on yet.
  SetRealtimeTick(false);
  confirm_timer_.start();
}

void CMainViewerDlg::ConfirmMonitoring() {
  RunDevice([this] { ctx_->monitor.Confirm(); }, [this] { SyncMonitoringUi(); });
}

void CMainViewerDlg::StopMonitoring() {
  poll_timer_.stop();
  confirm_timer_.stop();
  ctx_->monitor.Stop();
  ctx_->PublishLink(LinkState::kStopped);
  SetRealtimeTick(false);
  commands_[32792]->setEnabled(false);
  commands_[32774]->setEnabled(true);
  download_button_->setEnabled(true);
}

// After device work that may have stopped or restarted monitoring behind the window's back (a
// scan, a clock sync), the box and the timers follow the monitor's state.
void CMainViewerDlg::SyncMonitoringUi() {
  switch (ctx_->monitor.state()) {
    case MonitorState::kOff:
      poll_timer_.stop();
      confirm_timer_.stop();
      SetRealtimeTick(false);
      ctx_->PublishLink(LinkState::kStopped);
      break;
    case MonitorState::kStarting:
      poll_timer_.stop();
      SetRealtimeTick(false);
      if (!confirm_timer_.isActive()) confirm_timer_.start();
      break;
    case MonitorState::kPolling:
      SetRealtimeTick(true);
      if (!poll_timer_.isActive()) poll_timer_.start();
      break;
  }
  UpdateDeviceControls();
}

void CMainViewerDlg::PollBegin() {
  // A device job holds the port this second; the poll waits for the next one.
  if (worker_->busy()) return;
  // The timer's ticks wander a little, so two polls can fall into one clock second when the ticks
  // sit at a second's edge; the later one then takes the next second, so that neither overwrites
  // the other in the store nor is dropped by the publishers.
  const std::time_t now = ctx_->clock.Now();
  poll_sent_ = now == poll_sent_ ? now + 1 : now;
  if (!ctx_->monitor.BeginPoll()) {
    if (ctx_->monitor.state() == MonitorState::kOff) SyncMonitoringUi();
    return;
  }
  QTimer::singleShot(RealtimeMonitor::kPollSettle, this, [this] { PollFinish(); });
}

void CMainViewerDlg::PollFinish() {
  if (ctx_->monitor.state() != MonitorState::kPolling) return;
  const PollOutcome poll = ctx_->monitor.FinishPoll();
  ctx_->KeepSecond(poll_sent_, poll.second);
  time_label_->setText(ToQString(poll.elapsed_text));
  if (poll.second.recorded) {
    cpm_label_->setText(ToQString(poll.second.cpm_text));
    dose_label_->setText(ToQString(poll.second.dose_text));
    ShowGraph();
  }
  if (poll.second.day_restarted) saved_seconds_ = ctx_->recorder.recorded_seconds();
  if (clock_sync_due_) {
    clock_sync_due_ = false;
    RunDevice([this] { ctx_->clock_sync.SetClock(ClockTrigger::kPeriodic); }, [this] { SyncMonitoringUi(); });
  }
}

void CMainViewerDlg::OnPortError() {
  // The reader gave up on a silent port ("Comport Error!" is its own message).
  ctx_->monitor.OnPortError();
  ctx_->PublishLink(LinkState::kLost);
  SyncMonitoringUi();
  commands_[32792]->setEnabled(false);
  download_button_->setEnabled(true);
  connect_button_->setText("Connect");
}

void CMainViewerDlg::PortLost() {
  const int port = ctx_->state.current_port;
  ctx_->PublishLink(LinkState::kLost);
  RunDevice(
      [this] {
        ctx_->reader.Stop();
        ctx_->link.Close();
        ctx_->state.port_open = false;
      },
      [this] {
        connect_button_->setText("Connect");
        UpdateDeviceControls();
      });
  notifier_->Message(Format("The connection to the counter on COM%d was lost. Check the cable and the "
                            "counter, then connect again.", port));
}

}  // namespace norvane
