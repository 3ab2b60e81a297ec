// CMainViewerDlg: the program's one window: status log, readings, chart, navigation, device and
// file commands, and the timers that drive monitoring, scanning, playback and automatic saves.
#pragma once

#include <QDialog>
#include <QIcon>
#include <QPointer>
#include <QTimer>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/common/status_log.h"
#include "core/graph/chart_drawing.h"
#include "core/graph/navigation.h"
#include "core/history/download.h"
#include "ui/app_context.h"
#include "ui/captions.h"
#include "ui/device_worker.h"
#include "ui/live_bridge.h"
#include "ui/qt_language.h"
#include "ui/qt_notifier.h"

class QAction;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QSystemTrayIcon;
class QMenu;
class QMenuBar;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QToolButton;

namespace norvane {

class DownloadProgressWindow;
class GraphCanvas;
class ScrollBarExWnd;

struct ViewerOptions {
  std::filesystem::path settings_path;  // the settings file
  std::vector<std::string> extra_ports; // device paths that join the numbered port list
  std::optional<int> port;              // a port to connect to once the window is up
  std::filesystem::path store_path = {};  // the long-term store; empty: off
  // Where the shipped dictionaries are looked for, first folder first.
  std::vector<std::filesystem::path> language_folders = {};
};

// A file dialog's question and the user's answer; tests answer without a modal dialog.
struct FileRequest {
  enum class Kind { kOpen, kSave } kind = Kind::kSave;
  QString caption;
  QString default_name;  // folder and name the dialog starts with
  std::string_view filter;  // a "|"-separated type list
};
struct FileAnswer {
  std::string path;
  std::string type_text;  // the chosen type's English description, lower case, in any language
};

enum class CloseAnswer { kYes, kNo, kCancel };

class CMainViewerDlg : public QDialog {
  Q_OBJECT
 public:
  // The "Language..." command has no id of its own among the window's old commands.
  static constexpr int kLanguageCommand = 32900;
  static constexpr int kPublishingCommand = 32901;

  explicit CMainViewerDlg(ViewerOptions options, QWidget* parent = nullptr);
  ~CMainViewerDlg() override;

  // Runs the start-up that needs the window shown first: settings, lists, resumed monitoring,
  // the scan. Separate from the constructor so tests can plug their answers in before it.
  void Initialise();

  // The seams tests use instead of modal dialogs.
  using FileChooser = std::function<std::optional<FileAnswer>(const FileRequest&)>;
  using OptionsChooser = std::function<std::optional<DownloadOptions>(const DownloadOptions&)>;
  using CloseQuestion = std::function<CloseAnswer(const QString& text)>;
  void SetFileChooser(FileChooser chooser) { choose_file_ = std::move(chooser); }
  void SetOptionsChooser(OptionsChooser chooser) { choose_options_ = std::move(chooser); }
  void SetCloseQuestion(CloseQuestion question) { ask_close_ = std::move(question); }

  AppContext& context() { return *ctx_; }
  QtNotifier& notifier() { return *notifier_; }
  DeviceWorker& worker() { return *worker_; }
  GraphCanvas& canvas() { return *canvas_; }
  ScrollBarExWnd& scroll_bar() { return *scroll_; }
  QString StatusLog() const;
  // The port list's choice as a port number (0: none), and choosing a number in it.
  int SelectedPort() const;
  void ShowPort(int number);
  const ChartInputs& chart_inputs() const { return chart_; }
  bool playing() const { return playing_; }
  // Monitoring is ticked and its counter answers.
  bool polling() const { return monitoring_ && live_state_ == LinkState::kConnected; }
  QWidget* client() const { return client_; }
  // The size the window opens at on a screen with `available` room.
  QSize StartSize(const QSize& available) const;

  // The commands, as the menus and buttons run them.
  void LoadData();
  void SaveHistoryAs();
  void SaveRealtimeAs();
  void ChooseColors();
  // `queued`: behind the device work start-up queued itself (the model selection), so not
  // refused as a second operation.
  void StartAutoDetect(bool queued = false);
  void PressConnect();
  // `then` runs once the counter answered (or not), on the window's thread.
  void ConnectSelectedPort(bool queued = false, std::function<void(const IdentifyResult&)> then = {});
  void StartDownload();
  void ToggleRealtime();
  void ToggleDemo();
  void Play();
  void StopPlayback();
  void NextSpeed();
  void SetDisplayMode(ChartMode mode);
  void SelectZoom(int index);
  void SelectModel(int index);
  // Refills the chart at the scroll position (the scroll bar's notification).
  void Refill();
  // Draws the chart from the window's samples and shows it.
  void ShowGraph();

  // The control ids of the original window name the widgets, so tests can find them.
  QWidget* Control(int id) const;
  QAction* Command(int id) const;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void reject() override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  class ProgressRelay;
  class DeferredStatus;
  class BackgroundNotice;

  void BuildWidgets();
  void BuildMenus();
  void AddStatus(const QString& line);
  void SetPlayControls(bool play_allowed, bool stop_allowed);
  void ApplyColours();
  void UpdateReadouts();
  void UpdateTimeIndexList();
  void UpdateDeviceControls();
  void SetRealtimeTick(bool ticked);
  // The About box: name, version, licence, and the files and folders the program uses.
  QString AboutText() const;
  void ShowAbout();
  void ApplyTexts();
  void RefreshWriterOptions();

  // Device tools: each borrows the port after the counter is identified on it.
  void RunDeviceTool(std::function<void()> tool);
  void OpenSettingsDialog();
  void OpenConfiguration();
  void OpenTerminal();
  void OpenMapSetup();
  void OpenPortSettings();
  void DownloadScreenshot(int screen);
  void ChooseLanguage();
  // The Language menu: English, each dictionary found in the language folders, another file.
  void BuildLanguageMenu();
  // An empty path is English. The choice applies at once and is kept for the next start.
  void UseLanguage(const std::string& path);
  // Shows the connect button's caption for this state in the current language.
  void ShowConnectCaption(bool disconnect);
  void OpenPublishing();

  // Device work: one job at a time on the worker; the window freezes its views meanwhile.
  void RunDevice(std::function<void()> work, std::function<void()> done = {});
  void AfterIdentify(const IdentifyResult& result);
  void ScanStep();
  void StartMonitoring();
  void StopMonitoring();
  void SyncMonitoringUi();
  // The engine's news, on the window's thread.
  void OnLiveSecond(const LiveSecond& second);
  void OnLiveGap();
  void OnLiveLink(const store::CounterInfo& counter, LinkState state);
  // An alarm or its all-clear: the banner under the readings, the status log and the desktop.
  void OnAlarm(const alarm::AlarmEvent& event);
  // After each polled second: the periodic clock sync borrows the port when it is due.
  void CountPolledSecond();
  // The port went away under a job: the window shows it disconnected and says so.
  void PortLost();
  // A download or a worker job holds the port; a command that would talk to the counter now
  // says so and returns true.
  bool PortBusy() const;
  bool RefuseWhilePortBusy();
  // Takes the port and runs `download`; StartDownload after its dialogs, DownloadEnded again
  // when a continued download found another history.
  void BeginDownload(DownloadRequest download);
  void DownloadEnded(const DownloadReport& report);
  void AfterHistoryLoaded();
  // Play waits while a download writes the image it would play; afterwards it is as it was.
  void HoldPlay();
  void ReleasePlay();

  void HousekeepingTick();
  void PlaybackTick();
  bool SavePicture(std::string_view pattern, const std::string& name);
  std::optional<FileAnswer> ChooseFile(const FileRequest& request);
  // A save dialog that starts in `folder` with the time-stamped default name.
  FileRequest SaveRequest(const QString& caption, std::string_view filter, const std::string& folder) const;
  // The folder a file dialog starts in: the one remembered, else the data folder.
  std::string StartFolder(const std::string& remembered) const;
  bool ConfirmClose();
  void ShutDown();

  ViewerOptions options_;
  QPointer<QWidget> client_;
  std::unique_ptr<QtNotifier> notifier_;
  std::unique_ptr<DeferredStatus> save_status_;
  std::unique_ptr<BackgroundNotice> background_notice_;
  std::unique_ptr<ProgressRelay> progress_relay_;
  std::unique_ptr<AppContext> ctx_;
  std::unique_ptr<Captions> captions_;
  std::unique_ptr<DeviceWorker> worker_;
  StatusLogText log_text_;
  ChartInputs chart_;
  PlaySpeedSelector speed_;
  bool playing_ = false;
  bool views_frozen_ = false;
  std::optional<bool> play_held_;  // Play's state before the download that holds it
  double settled_position_ = 0;  // where the last refill left the scroll bar
  // The box's state, which the engine on the worker follows.
  bool monitoring_ = false;
  LinkState live_state_ = LinkState::kStopped;
  uint32_t live_cpm_ = 0;
  std::unique_ptr<LiveBridge> bridge_;
  QSystemTrayIcon* tray_ = nullptr;  // made at the first alarm, where the desktop has a tray
  bool alarm_shown_ = false;         // the line under the readings is an alarm's banner
  QString alarm_text_;               // the banner's text while it is up
  bool time_shows_elapsed_ = false;  // the time readout counts monitoring's seconds
  QtTranslations qt_translations_;
  bool shut_down_ = false;
  uint32_t saved_seconds_ = 0;  // recorded seconds already in a file

  FileChooser choose_file_;
  OptionsChooser choose_options_;
  CloseQuestion ask_close_;

  // Timers by their old ids: 1 housekeeping, 115 playback, 117 scan, 120 resume monitoring; the
  // one-shot picture and status timers are single shots.
  QTimer housekeeping_timer_;
  QTimer play_timer_;
  QTimer scan_timer_;
  QTimer resume_timer_;

  GraphCanvas* canvas_ = nullptr;
  ScrollBarExWnd* scroll_ = nullptr;
  DownloadProgressWindow* progress_ = nullptr;
  QPlainTextEdit* status_log_ = nullptr;
  QPushButton* download_button_ = nullptr;
  QPushButton* connect_button_ = nullptr;
  QPushButton* play_button_ = nullptr;
  QPushButton* stop_button_ = nullptr;
  QPushButton* speed_button_ = nullptr;
  QCheckBox* realtime_box_ = nullptr;
  QCheckBox* demo_box_ = nullptr;
  QComboBox* model_list_ = nullptr;
  QComboBox* port_list_ = nullptr;
  QComboBox* zoom_list_ = nullptr;
  QComboBox* time_index_list_ = nullptr;
  QRadioButton* peak_button_ = nullptr;
  QRadioButton* total_button_ = nullptr;
  QLabel* time_label_ = nullptr;
  QLabel* cpm_label_ = nullptr;
  QLabel* dose_label_ = nullptr;
  QLabel* info_label_ = nullptr;
  QLabel* title_label_ = nullptr;
  QLabel* model_label_ = nullptr;
  QLabel* version_label_ = nullptr;
  QToolButton* submit_indicator_ = nullptr;
  QIcon submit_icon_idle_;
  QIcon submit_icon_busy_;
  QMenu* popup_menu_ = nullptr;
  QMenuBar* menu_bar_ = nullptr;
  QMenu* language_menu_ = nullptr;
  bool shows_disconnect_ = false;  // the connect button's caption, whatever its language
  QLabel* banner_label_ = nullptr;
  std::map<int, QWidget*> controls_;
  std::map<int, QAction*> commands_;
};

}  // namespace norvane
