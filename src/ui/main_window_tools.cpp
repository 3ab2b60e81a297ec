// The window's device tools and texts: the dialogs that borrow the port, screenshots, the
// language file and the captions it gives the window.
#include <QAction>
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
#include "core/net/map_urls.h"
#include "core/tools/screenshot_download.h"
#include "ui/config_editor_dialog.h"
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
    notifier_->Message("This feature is not available on this model.");
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
      connect_button_->setText(WithMnemonic("Disconnect", 'n'));
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
        request.caption = "Save Screenshot";
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
  request.caption = ToQString(ctx_->dictionary.GetText(37));
  request.filter = kLanguageFilter;
  const std::optional<FileAnswer> file = ChooseFile(request);
  if (!file) return;
  // The dictionary needs the full path; it reads the file again at every start.
  const std::string path = std::filesystem::absolute(file->path).string();
  ctx_->dictionary.LoadLanguageFile(path, *notifier_);
  if (ctx_->dictionary.LanguageName().empty()) return;
  ctx_->store.StoreText(setting_names::kLanguageFile, path);
  ctx_->settings.language_file = path;
  ApplyTexts();
}

void CMainViewerDlg::OpenPublishing() {
  // Beside the settings, where the logging service's unit can name the same file.
  PublishingDialog dialog(ctx_->store, options_.settings_path.parent_path() / "mqtt-password", this);
  dialog.exec();
}

void CMainViewerDlg::ApplyTexts() {
  const LanguageDictionary& d = ctx_->dictionary;
  auto text = [&](int entry) { return ToQString(d.GetText(entry)); };
  auto set_if = [&](auto* target, int entry) {
    const QString t = text(entry);
    if (t.isEmpty()) return;
    // The translation keeps the letter the caption had where it can.
    const QString old = target->text();
    const qsizetype marker = old.indexOf('&');
    target->setText(WithMnemonic(t, marker >= 0 && marker + 1 < old.size() ? old[marker + 1] : QChar()));
  };
  const int menu_entries[] = {86, 39, 20};  // File, Setting, Help
  const QList<QAction*> menus = menu_bar_->actions();
  for (int i = 0; i < 3 && i < menus.size(); ++i) set_if(menus[i], menu_entries[i]);
  set_if(commands_[32774], 18);
  set_if(commands_[32776], 19);
  set_if(commands_[32778], 85);
  set_if(commands_[32781], 22);
  set_if(peak_button_, 24);
  set_if(total_button_, 27);
  set_if(qobject_cast<QPushButton*>(controls_[1015]), 22);
  if (const QString banner = text(35); !banner.isEmpty()) banner_label_->setText(banner);
  banner_label_->setVisible(d.DisplayMode() != "0");
  RefreshWriterOptions();
}

void CMainViewerDlg::RefreshWriterOptions() {
  ctx_->saver.set_options(MakeWriterOptions(ctx_->settings, ctx_->data.conversion, ctx_->dictionary));
}

}  // namespace norvane
