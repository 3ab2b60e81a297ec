// The window's device tools and texts: the dialogs that borrow the port, screenshots, the
// language file and the captions it gives the window.
#include <QAction>
#include <QActionGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>

#include "core/files/file_naming.h"
#include "core/files/writer_options.h"
#include "core/i18n/language_files.h"
#include "core/net/map_urls.h"
#include "core/tasks/elapsed_text.h"
#include "core/tools/screenshot_download.h"
#include "ui/config_editor_dialog.h"
#include "ui/longterm_chart_window.h"
#include "ui/download_dialogs.h"
#include "ui/main_window.h"
#include "ui/publishing_dialog.h"
#include "ui/qt_text.h"
#include "ui/map_setup_dialog.h"
#include "ui/port_settings_dialog.h"
#include "ui/settings_dialog.h"
#include "ui/terminal_dialog.h"

namespace norvane {
namespace {


inline constexpr std::string_view kScreenshotFilter = "BMP Files (*.bmp)|*.bmp||All Files (*.*)|*.*||";
inline constexpr std::string_view kLanguageFilter = "Language Files (*.dic.txt)|*.dic.txt|All Files (*.*)|*.*||";

}  // namespace

void CMainViewerDlg::RunDeviceTool(std::function<void()> tool) {
  // The tool borrows the port: monitoring lends it (its seconds meanwhile are a gap), the counter
  // is identified on it, and afterwards monitoring carries on. Never while another job has it.
  if (RefuseWhilePortBusy()) return;
  scan_timer_.stop();
  ctx_->scan.Cancel();
  const int model = model_list_->currentIndex();
  const int chosen = ctx_->state.current_port > 0 ? ctx_->state.current_port : SelectedPort();
  auto result = std::make_shared<IdentifyResult>();
  RunDevice(
      [this, model, chosen, result] {
        const bool lent = ctx_->loan.IsMonitoring();
        ctx_->loan.StopMonitoring();
        if (!lent) ctx_->session.SelectModelFromList(model);
        *result = ctx_->session.ConnectAndIdentify(lent ? ctx_->state.current_port : chosen);
      },
      [this, result, tool = std::move(tool)] {
        AfterIdentify(*result);
        // The tool (often a modal dialog) runs once this job has left the worker's books, so
        // the window sees the worker idle while the dialog sits open.
        QTimer::singleShot(0, this, [this, tool] {
          if (ctx_->state.port_open) tool();
          RunDevice([this] { ctx_->loan.StartMonitoring(); });
        });
      });
}

void CMainViewerDlg::OpenSettingsDialog() {
  RunDeviceTool([this] {
    SettingsDialog dialog(*ctx_, *worker_, *notifier_, this);
    dialog.exec();
  });
}

void CMainViewerDlg::OpenConfiguration() {
  if (ctx_->state.model_text.find("Radon") != std::string::npos) {
    notifier_->Message(ctx_->dictionary.GetText(123));
    return;
  }
  RunDeviceTool([this] {
    ConfigEditorDialog dialog(*ctx_, *worker_, *notifier_, this);
    dialog.exec();
  });
}

void CMainViewerDlg::OpenTerminal() {
  if (RefuseWhilePortBusy()) return;
  // The terminal opens the port itself; monitoring lends it meanwhile.
  RunDevice([this] { ctx_->loan.StopMonitoring(); });
  TerminalDialog dialog(*ctx_, *worker_, *notifier_, this);
  dialog.exec();
  RunDevice([this] { ctx_->loan.StartMonitoring(); });
}

void CMainViewerDlg::OpenMapSetup() {
  MapSetupDialog dialog(*ctx_, *worker_, *notifier_, this);
  dialog.exec();
}

void CMainViewerDlg::OpenPortSettings() {
  if (RefuseWhilePortBusy()) return;
  PortSettingsDialog dialog(*ctx_, *worker_, *notifier_, this);
  if (dialog.exec() != QDialog::Accepted) return;
  // Another port or line: monitoring starts again on it when the box is ticked once more.
  if (monitoring_) StopMonitoring();
  ApplyPortSettingsDialog(*ctx_, *worker_, dialog.choice(), [this](bool opened) {
    if (opened) {
      ShowConnectCaption(true);
      if (ctx_->state.current_port > 0) ShowPort(ctx_->state.current_port);
    }
    SyncMonitoringUi();
  });
}

void CMainViewerDlg::DownloadScreenshot(int screen) {
  RunDeviceTool([this, screen] {
    // The save dialog is asked for from the worker, in the middle of the exchange; it runs here.
    auto choose = [this](const std::string& default_name) -> std::optional<std::string> {
      std::optional<std::string> chosen;
      QMetaObject::invokeMethod(this, [&] {
        FileRequest request;
        request.caption = (*captions_)(139);
        request.default_name = ToQString(ctx_->settings.file_save_path + default_name);
        request.filter = kScreenshotFilter;
        if (std::optional<FileAnswer> file = ChooseFile(request)) chosen = file->path;
      }, Qt::BlockingQueuedConnection);
      return chosen;
    };
    RunDevice([this, screen, choose] { ScreenshotDownload(ctx_->session).Download(screen, choose); });
  });
}

void CMainViewerDlg::ChooseLanguage() {
  FileRequest request;
  request.kind = FileRequest::Kind::kOpen;
  request.caption = (*captions_)(37);
  request.filter = kLanguageFilter;
  const std::optional<FileAnswer> file = ChooseFile(request);
  // The dictionary needs the full path; it reads the file again at every start.
  if (file) UseLanguage(std::filesystem::absolute(file->path).string());
}

void CMainViewerDlg::BuildLanguageMenu() {
  language_menu_->clear();
  delete language_menu_->findChild<QActionGroup*>();
  auto* choices = new QActionGroup(language_menu_);
  const std::string& chosen = ctx_->settings.language_file;
  auto offer = [&](const QString& name, const std::string& path) {
    QAction* action = language_menu_->addAction(WithMnemonic(name, QChar()), this, [this, path] { UseLanguage(path); });
    action->setCheckable(true);
    action->setChecked(path == chosen);
    choices->addAction(action);
  };
  // Each language under its own name, so it can be found whatever the window's language.
  offer(QStringLiteral("English"), {});
  for (const LanguageFile& file : FindLanguageFiles(options_.language_folders))
    offer(ToQString(file.name), file.path.string());
  language_menu_->addSeparator();
  QAction* other = captions_->Text(language_menu_->addAction(QString(), this, [this] { ChooseLanguage(); }), 120);
  commands_[kLanguageCommand] = other;
}

void CMainViewerDlg::UseLanguage(const std::string& path) {
  if (path.empty()) {
    ctx_->dictionary.UseBuiltInLanguage();
  } else {
    ctx_->dictionary.LoadLanguageFile(path, *notifier_);
    if (ctx_->dictionary.LanguageName().empty()) return;
  }
  ctx_->store.StoreText(setting_names::kLanguageFile, path);
  ctx_->settings.language_file = path;
  ApplyTexts();
}

void CMainViewerDlg::OpenPublishing() {
  // Beside the settings, where the logging service's unit can name the same file.
  PublishingDialog dialog(ctx_->store, options_.settings_path.parent_path() / "mqtt-password", ctx_->dictionary, this);
  if (dialog.exec() != QDialog::Accepted) return;
  // The settings apply at once: a monitoring run is started again on the new publishers.
  const bool monitoring = monitoring_;
  if (monitoring) StopMonitoring();
  RunDevice([this] { ctx_->ApplyPublishing(); });
  if (monitoring) {
    SetRealtimeTick(true);
    StartMonitoring();
  }
}

void CMainViewerDlg::ApplyTexts() {
  // Qt's own dialogs first, so a file dialog opened from here on speaks the language too.
  qt_translations_.Use(LanguageLocale(ctx_->dictionary));
  captions_->Refresh();
  BuildLanguageMenu();
  banner_label_->setVisible(ctx_->dictionary.DisplayMode() != "0");
  RefreshWriterOptions();
  // Texts the window made from the dictionary itself: none of the last language may stay.
  if (time_shows_elapsed_) time_label_->setText(ToQString(ElapsedText(ctx_->data.realtime.elapsed(), ctx_->dictionary)));
  ShowGraph();
  progress_->UseTexts(ctx_->dictionary);
  // The long-term chart is a window of its own, but one program: it changes language with this one.
  if (auto* chart = findChild<LongtermChartWindow*>()) chart->UseTexts(ctx_->dictionary);
}

void CMainViewerDlg::ShowConnectCaption(bool disconnect) {
  shows_disconnect_ = disconnect;
  connect_button_->setText((*captions_)(disconnect ? 101 : 100));
}

void CMainViewerDlg::RefreshWriterOptions() {
  ctx_->saver.set_options(MakeWriterOptions(ctx_->settings, ctx_->data.conversion, ctx_->dictionary));
}

}  // namespace norvane
