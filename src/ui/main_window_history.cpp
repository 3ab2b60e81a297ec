// The window's history side: the chart and its navigation, playback, loading and saving files,
// the colour dialog and the housekeeping tick.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardPaths>
#include <QToolButton>

#include "core/files/dump_file.h"
#include "core/files/file_filters.h"
#include "core/files/file_naming.h"
#include "core/i18n/window_texts.h"
#include "core/tasks/auto_save.h"
#include "ui/color_dialog.h"
#include "ui/file_types.h"
#include "ui/graph_canvas.h"
#include "ui/main_window.h"
#include "ui/qt_text.h"
#include "ui/scroll_bar_ex.h"

namespace norvane {

// ---- Chart and navigation ----

void CMainViewerDlg::ShowGraph() {
  chart_.realtime = realtime_box_ && realtime_box_->isChecked();
  canvas_->Draw(BuildChart(ctx_->data.window, chart_), [this](const std::string& text) {
    return ToQString(ctx_->dictionary.TranslatedLine(text));
  });
}

void CMainViewerDlg::UpdateReadouts() {
  const WindowReadout& r = ctx_->data.readout;
  time_label_->setText(ToQString(r.time));
  time_shows_elapsed_ = false;
  cpm_label_->setText(ToQString(r.rate));
  dose_label_->setText(ToQString(r.dose));
  info_label_->setText(ToQString(r.note));
}

void CMainViewerDlg::Refill() {
  // While the download or the dump save owns the image, the chart stays as it is.
  if (views_frozen_) return;
  double position = scroll_->Position();
  const bool back = position < settled_position_;
  if (back) position = StepBackPosition(ctx_->data.dump.image(), position);
  ctx_->data.Refill(WindowOffset(position), playing_);
  const uint32_t step = ctx_->data.window.first_step;
  scroll_->SetFirstStep(step);
  if (!back) position += step;
  scroll_->SetPosition(position);
  settled_position_ = position;
  ShowGraph();
  UpdateReadouts();
}

void CMainViewerDlg::SelectZoom(int index) {
  if (index < 0 || index >= zoom_list_->count()) return;
  zoom_list_->setCurrentIndex(index);
  if (const std::optional<float> factor = ZoomFactorFor(zoom_list_->itemText(index).toStdString())) chart_.zoom = *factor;
  Refill();
}

void CMainViewerDlg::SetDisplayMode(ChartMode mode) {
  chart_.mode = mode;
  (mode == ChartMode::kLine ? peak_button_ : total_button_)->setChecked(true);
  zoom_list_->setEnabled(mode == ChartMode::kLine);
  ShowGraph();
}

void CMainViewerDlg::UpdateTimeIndexList() {
  time_index_list_->clear();
  for (const TimeIndexEntry& entry : ctx_->data.time_index.entries) time_index_list_->addItem(ToQString(entry.text));
}

void CMainViewerDlg::AfterHistoryLoaded() {
  settled_position_ = scroll_->Position();
  scroll_->SetFirstStep(ctx_->data.window.first_step);
  // The arrow keys scroll the data just loaded, not whichever control had the focus.
  scroll_->setFocus(Qt::OtherFocusReason);
  ShowGraph();
  UpdateReadouts();
  UpdateTimeIndexList();
  commands_[32792]->setEnabled(false);
  commands_[32794]->setEnabled(true);
  SetPlayControls(true, false);
}

// ---- Playback ----

void CMainViewerDlg::Play() {
  play_timer_.start(speed_.speed().period_ms);
  playing_ = true;
  SetPlayControls(false, true);
  AddStatus((*captions_)(133));
}

void CMainViewerDlg::NextSpeed() {
  speed_.Next();
  speed_button_->setText(WithMnemonic(ToQString(speed_.speed().caption), 'x'));
  if (playing_) play_timer_.start(speed_.speed().period_ms);
}

void CMainViewerDlg::StopPlayback() {
  play_timer_.stop();
  scan_timer_.stop();
  ctx_->scan.Cancel();
  playing_ = false;
  SetPlayControls(true, false);
  AddStatus((*captions_)(134));
}

void CMainViewerDlg::PlaybackTick() {
  if (!playing_ || views_frozen_) return;
  const PlayTickPlan plan = PlanPlayTick(ctx_->data.window, ctx_->settings.fast_download == 0, scroll_->Position(),
                                         ctx_->data.dump.image_size());
  if (plan.stop) StopPlayback();
  scroll_->SetPosition(plan.position);
  Refill();
  // The realtime elapsed time is monitoring's own; playback leaves it alone.
  if (plan.advance && AdvanceShownTime(ctx_->data.readout, ctx_->data.window.types[0])) {
    time_label_->setText(ToQString(ctx_->data.readout.time));
    time_shows_elapsed_ = false;
  }
}

// ---- Files ----

std::optional<FileAnswer> CMainViewerDlg::ChooseFile(const FileRequest& request) {
  if (choose_file_) return choose_file_(request);
  const FileTypes types(request.filter, ctx_->dictionary);
  QFileDialog dialog(this, request.caption, request.default_name);
  dialog.setNameFilters(types.shown());
  if (request.kind == FileRequest::Kind::kOpen) {
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
  } else {
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
  }
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  FileAnswer answer;
  answer.path = dialog.selectedFiles().first().toStdString();
  answer.type_text = types.TypeText(dialog.selectedNameFilter());
  return answer;
}

void CMainViewerDlg::LoadData() {
  FileRequest request;
  request.kind = FileRequest::Kind::kOpen;
  request.caption = (*captions_)(135);
  request.default_name = ToQString(StartFolder(ctx_->settings.file_load_path));
  request.filter = kLoadFilter;
  const std::optional<FileAnswer> file = ChooseFile(request);
  if (!file) return;
  if (auto folder = ctx_->store.StoreFolderOf(setting_names::kFileLoadPath, file->path))
    ctx_->settings.file_load_path = *folder;
  // A realtime recording is history too: it plays back through the same decoder as a dump.
  std::optional<size_t> bytes;
  if (LowerAscii(file->path).ends_with(".rbn")) {
    const std::optional<RecordingLoad> recording = LoadRecordingFile(file->path, ctx_->data.dump, *notifier_);
    if (!recording) return;
    if (recording->cut) AddStatus(ToQString(ctx_->dictionary.GetText(kTextRecordingCut)));
    bytes = recording->bytes;
  } else {
    bytes = LoadDumpFile(file->path, ctx_->data.dump, *notifier_);
  }
  if (!bytes) return;
  if (playing_) StopPlayback();
  scroll_->SetRange(0, static_cast<double>(*bytes));
  scroll_->SetPosition(0);
  if (monitoring_) StopMonitoring();
  ctx_->data.RefillFromStart();
  AfterHistoryLoaded();
}

std::string CMainViewerDlg::StartFolder(const std::string& remembered) const {
  if (!remembered.empty()) return remembered;
  // Nothing chosen for this dialog yet: where the user's files are, the save folder or the one
  // day files go to, else the documents; never the store's folder among its journal files.
  if (!ctx_->settings.file_save_path.empty()) return ctx_->settings.file_save_path;
  if (!ctx_->recorder.name_prefix().empty()) return ctx_->recorder.name_prefix();
  const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  return documents.isEmpty() ? std::string() : (documents + "/").toStdString();
}

FileRequest CMainViewerDlg::SaveRequest(const QString& caption, std::string_view filter, const std::string& folder) const {
  FileRequest request;
  request.kind = FileRequest::Kind::kSave;
  request.caption = caption;
  request.default_name = ToQString(DefaultFileName(StartFolder(folder), ctx_->clock.LocalNow()));
  request.filter = filter;
  return request;
}

void CMainViewerDlg::SaveHistoryAs() {
  const std::optional<FileAnswer> file =
      ChooseFile(SaveRequest((*captions_)(136), kHistoryCsvFilter, ctx_->settings.file_save_path));
  if (!file) return;
  if (auto folder = ctx_->store.StoreFolderOf(setting_names::kFileSavePath, file->path)) {
    ctx_->settings.file_save_path = *folder;
    ctx_->recorder.set_name_prefix(*folder);
    ctx_->tick.set_name_prefix(*folder);
  }
  ctx_->saver.ExportHistoryCsv("*.csv", file->path);
}

void CMainViewerDlg::SaveRealtimeAs() {
  const std::optional<FileAnswer> file =
      ChooseFile(SaveRequest((*captions_)(137), kRealtimeSaveFilter, ctx_->settings.file_save_path));
  if (!file) return;
  const uint32_t recorded = ctx_->recorder.recorded_seconds();
  const std::vector<SaveResult> saves = ctx_->saver.SaveRealtimeAs(file->type_text, file->path);
  if (std::any_of(saves.begin(), saves.end(), [](const SaveResult& r) { return r.saved(); })) saved_seconds_ = recorded;
  // "Reset and Restart?" answered yes empties the data; playback has nothing left to show.
  if (ctx_->data.realtime.elapsed() == 0 && playing_) StopPlayback();
  if (ctx_->recorder.recorded_seconds() < saved_seconds_) saved_seconds_ = 0;
}

void CMainViewerDlg::ChooseColors() {
  Settings& s = ctx_->settings;
  ColorDialog dialog(s.cpm_color, s.usv_color, s.csv_save_use_semicolon == 1, ctx_->dictionary, this);
  if (dialog.exec() != QDialog::Accepted) return;
  s.cpm_color = dialog.date_colour();
  s.usv_color = dialog.reading_colour();
  s.csv_save_use_semicolon = dialog.semicolon() ? 1 : 0;
  ctx_->store.StoreNumber(setting_names::kCpmColor, s.cpm_color);
  ctx_->store.StoreNumber(setting_names::kUsvColor, s.usv_color);
  ctx_->store.StoreNumber(setting_names::kCsvSaveUseSemicolon, s.csv_save_use_semicolon);
  RefreshWriterOptions();
  ApplyColours();
  update();
}

// ---- Timers ----

void CMainViewerDlg::HousekeepingTick() {
  const TickReport report = ctx_->tick.Run(polling(), live_cpm_);
  if (report.saved) saved_seconds_ = ctx_->recorder.recorded_seconds();
  // The indicator shows the sending picture while any submission is on its way.
  submit_indicator_->setIcon(ctx_->submitter.running() ? submit_icon_busy_ : submit_icon_idle_);
}

bool CMainViewerDlg::SavePicture(std::string_view pattern, const std::string& name) {
  if (!IsPicturePattern(pattern)) return ctx_->saver.SaveByType(pattern, name).saved();
  // Pictures wait 100 ms, so the window has repainted before it is taken. A picture holds none
  // of the recording, so its outcome never keeps the recording from restarting.
  const std::string kept_pattern(pattern);
  QTimer::singleShot(100, this, [this, kept_pattern, name] { ctx_->saver.SaveByType(kept_pattern, name); });
  return true;
}

}  // namespace norvane
