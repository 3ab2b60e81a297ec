#include "ui/main_window.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <QSerialPortInfo>
#include <QThread>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

#include "core/common/text_format.h"
#include "core/files/file_filters.h"
#include "core/i18n/window_texts.h"
#include "core/net/map_urls.h"
#include "core/platform/serial_device.h"
#include "core/platform/store_location.h"
#include "core/protocol/model_table.h"
#include "ui/captions.h"
#include "ui/colour_ref.h"
#include "ui/download_dialogs.h"
#include "ui/graph_canvas.h"
#include "ui/longterm_chart_window.h"
#include "ui/qt_text.h"
#include "ui/scroll_bar_ex.h"
#include "ui/window_capture.h"

namespace norvane {
namespace {

// A window manager's border; its title bar is taken as twice that.
constexpr int kWindowFrameAllowance = 16;

void Colour(QLabel* label, const QColor& colour) {
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, colour);
  label->setPalette(palette);
}

// The largest pixel size up to `largest` at which each of the longest texts fits the label.
void FitFont(QLabel* label, QFont font, int largest, const QStringList& longest) {
  for (int size = largest; size > 8; --size) {
    font.setPixelSize(size);
    const QFontMetrics metrics(font);
    if (std::all_of(longest.begin(), longest.end(), [&](const QString& text) {
          return metrics.horizontalAdvance(text) <= label->contentsRect().width();
        }))
      break;
  }
  label->setFont(font);
}

// The submission indicator's two pictures: at rest, and while a submission is on its way.
QIcon IndicatorIcon(bool sending) {
  QPixmap picture(48, 48);
  picture.fill(Qt::white);
  QPainter p(&picture);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(0x30, 0x60, 0xA0), 2));
  p.setBrush(sending ? QColor(0x70, 0xC0, 0x70) : QColor(0xE8, 0xF0, 0xF8));
  p.drawEllipse(6, 6, 36, 36);
  p.drawLine(6, 24, 42, 24);
  p.drawEllipse(16, 6, 16, 36);
  if (sending) {
    p.setPen(QPen(Qt::darkGreen, 3));
    p.drawLine(30, 14, 42, 4);
    p.drawLine(42, 4, 34, 4);
    p.drawLine(42, 4, 42, 12);
  }
  return QIcon(picture);
}

}  // namespace

// Carries the save dispatcher's status lines onto the log 100 ms later, so a picture taken for
// the same save shows the window as it was before the line arrived.
class CMainViewerDlg::DeferredStatus final : public UserNotifier {
 public:
  explicit DeferredStatus(CMainViewerDlg& window) : window_(window) {}
  void Message(std::string_view text, std::string_view caption) override { window_.notifier().Message(text, caption); }
  bool Ask(std::string_view question, std::string_view caption) override {
    return window_.notifier().Ask(question, caption);
  }
  void Status(std::string_view line) override {
    const QString text = ToQString(line);
    QPointer<CMainViewerDlg> window(&window_);
    QMetaObject::invokeMethod(&window_, [window, text] {
      QTimer::singleShot(100, window, [window, text] { window->AddStatus(window->notifier().Shown(text)); });
    }, Qt::QueuedConnection);
  }

 private:
  CMainViewerDlg& window_;
};

// The store's writer and the publishers report from threads of their own. Their messages must not
// wait for the window, which may be joining those threads while it closes.
class CMainViewerDlg::BackgroundNotice final : public UserNotifier {
 public:
  explicit BackgroundNotice(CMainViewerDlg& window) : window_(window) {}
  void Message(std::string_view text, std::string_view caption) override {
    const std::string t(text), c(caption);
    QPointer<CMainViewerDlg> window(&window_);
    QMetaObject::invokeMethod(&window_, [window, t, c] {
      if (window) window->notifier().Message(t, c);
    }, Qt::QueuedConnection);
  }
  void Status(std::string_view line) override { window_.notifier().Status(line); }
  bool Ask(std::string_view, std::string_view) override { return false; }

 private:
  CMainViewerDlg& window_;
};

// The download thread's progress, handed to the window at most every 50 ms and always at the end.
class CMainViewerDlg::ProgressRelay final : public DownloadProgress {
 public:
  explicit ProgressRelay(CMainViewerDlg& window) : window_(window) {}
  void DownloadProgressed(uint32_t address, uint32_t image_size) override {
    const auto now = std::chrono::steady_clock::now();
    if (address != 0 && address < image_size && now - last_ < std::chrono::milliseconds(50)) return;
    last_ = now;
    QPointer<CMainViewerDlg> window(&window_);
    QMetaObject::invokeMethod(&window_, [window, address, image_size] {
      if (!window) return;
      if (window->progress_) window->progress_->Progressed(address, image_size);
      if (address > 0) window->scroll_->SetRange(0, address);
    }, Qt::QueuedConnection);
  }

 private:
  CMainViewerDlg& window_;
  std::chrono::steady_clock::time_point last_{};
};

CMainViewerDlg::CMainViewerDlg(ViewerOptions options, QWidget* parent)
    : QDialog(parent), options_(std::move(options)) {
  setWindowTitle("Norvane Data Viewer");
  setWindowFlags(windowFlags() | Qt::WindowMinimizeButtonHint);
  client_ = new QWidget(this);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(client_);

  // The link, the texts and the history buffer come first; the widgets then show their state.
  notifier_ = std::make_unique<QtNotifier>(this, [this](const QString& line) { AddStatus(line); });
  save_status_ = std::make_unique<DeferredStatus>(*this);
  background_notice_ = std::make_unique<BackgroundNotice>(*this);
  progress_relay_ = std::make_unique<ProgressRelay>(*this);
  AppHooks hooks;
  hooks.download_progress = progress_relay_.get();
  hooks.save_notifier = save_status_.get();
  hooks.store_path = options_.store_path;
  hooks.background_notifier = background_notice_.get();
  hooks.housekeeping.save = [this](std::string_view pattern, const std::string& name) {
    return SavePicture(pattern, name);
  };
  hooks.housekeeping.reset_realtime = [this] {
    ctx_->recorder.ResetData();
    saved_seconds_ = 0;
  };
  hooks.housekeeping.submit = [this](const std::string& url) {
    submit_indicator_->setIcon(submit_icon_busy_);
    ctx_->submitter.Submit(url);
  };
  ctx_ = std::make_unique<AppContext>(*notifier_, options_.settings_path, options_.extra_ports, std::move(hooks));
  ctx_->dictionary.LoadAtStartUp(ReadLanguageFileSetting(ctx_->store.Key()), *notifier_);
  captions_ = std::make_unique<Captions>(ctx_->dictionary);
  notifier_->SetTranslator(
      [this](const QString& line) { return ToQString(ctx_->dictionary.TranslatedLine(line.toStdString())); });
  ctx_->saver.set_picture_writer([this](std::string_view pattern, const std::string& path, std::string* error) {
    return SaveWindowPicture(this, pattern, path, error);
  });
  worker_ = std::make_unique<DeviceWorker>(this);
  bridge_ = std::make_unique<LiveBridge>(
      this, LiveBridge::Handlers{[this](const LiveSecond& second) { OnLiveSecond(second); },
                                 [this](int64_t) { OnLiveGap(); },
                                 [this](const store::CounterInfo& counter, LinkState state) { OnLiveLink(counter, state); },
                                 [this](live::Priority, const std::string& text) { notifier_->Status(text); },
                                 [this](const alarm::AlarmEvent& event) { OnAlarm(event); }});
  connect(worker_.get(), &DeviceWorker::busyChanged, this, [this] { UpdateDeviceControls(); });

  BuildWidgets();
  BuildMenus();

  housekeeping_timer_.setInterval(1000);
  scan_timer_.setSingleShot(true);
  resume_timer_.setSingleShot(true);
  resume_timer_.setInterval(1000);
  connect(&housekeeping_timer_, &QTimer::timeout, this, [this] { HousekeepingTick(); });
  connect(&play_timer_, &QTimer::timeout, this, [this] { PlaybackTick(); });
  connect(&scan_timer_, &QTimer::timeout, this, [this] { ScanStep(); });
  connect(&resume_timer_, &QTimer::timeout, this, [this] {
    SetRealtimeTick(true);
    StartMonitoring();
  });

  // The empty chart is drawn before the window is first painted.
  ShowGraph();
  const QScreen* screen = this->screen();
  resize(StartSize(screen ? screen->availableSize() : QSize(1 << 14, 1 << 14)));
}

CMainViewerDlg::~CMainViewerDlg() { ShutDown(); }

QSize CMainViewerDlg::StartSize(const QSize& available) const {
  // The original's size where the screen has room for it, else the screen's less a title bar and
  // borders, which the window manager adds outside this size.
  const QSize original(644, 724 + menu_bar_->sizeHint().height());
  const QSize frame(2 * kWindowFrameAllowance, 3 * kWindowFrameAllowance);
  return original.boundedTo(available - frame).expandedTo(minimumSizeHint());
}

void CMainViewerDlg::BuildWidgets() {
  // Each control keeps at least the size the original gave it; the layouts below hand out the room
  // beyond that, mostly to the chart and the status log.
  auto place = [this](int id, QWidget* w, int width, int height) {
    w->setParent(client_);
    w->resize(width, height);
    w->setMinimumSize(width, height);
    controls_[id] = w;
  };
  title_label_ = new QLabel("Norvane Data Viewer");
  place(1038, title_label_, 300, 24);
  Colour(title_label_, QColor(0, 0x80, 0));
  QFont title_font = title_label_->font();
  title_font.setBold(true);
  title_font.setPointSize(13);
  title_label_->setFont(title_font);
  version_label_ = new QLabel(ToQString("V" + FormatFixed(kViewerVersion, 2)));
  version_label_->setFont(QFont("Arial", 10));
  place(1034, version_label_, 70, 22);
  model_label_ = new QLabel;
  place(1032, model_label_, 224, 22);

  model_list_ = new QComboBox;
  for (const std::string_view name : kModelList) model_list_->addItem(ToQString(name));
  place(1168, model_list_, 180, 26);
  port_list_ = new QComboBox;
  captions_->Bind(port_list_, [this] {
    if (port_list_->count() > 0 && port_list_->itemData(0).toInt() == 0) port_list_->setItemText(0, (*captions_)(121));
  });
  place(1169, port_list_, 208, 26);
  connect_button_ = new QPushButton;
  captions_->Bind(connect_button_, [this] { connect_button_->setText((*captions_)(shows_disconnect_ ? 101 : 100)); });
  place(1302, connect_button_, 100, 26);
  download_button_ = captions_->Text(new QPushButton, 102);
  place(1162, download_button_, 98, 26);
  realtime_box_ = captions_->Text(new QCheckBox, 103);
  place(1175, realtime_box_, 180, 22);
  demo_box_ = captions_->Text(new QCheckBox, 104);
  place(1214, demo_box_, 120, 22);

  // One big serif face on the readings. The three share the row with gaps between them, and each
  // gets the largest size at which its longest text fits, whatever face the desktop substitutes.
  QFont reading_font;
  reading_font.setFamilies({"Times New Roman", "Liberation Serif", "DejaVu Serif", "serif"});
  reading_font.setWeight(QFont::Black);
  time_label_ = captions_->Initial(new QLabel, 105);
  place(1042, time_label_, 292, 36);
  cpm_label_ = new QLabel("CPM:-");
  place(1043, cpm_label_, 132, 36);
  dose_label_ = new QLabel("-");
  place(1041, dose_label_, 156, 36);
  info_label_ = new QLabel;
  place(1040, info_label_, 604, 34);
  // An alarm's banner is a sentence or two: wrapped, never cut at the window's edge.
  info_label_->setWordWrap(true);
  // Dates, history rates up to six digits (and their doses), live elapsed times, notes.
  FitFont(time_label_, reading_font, 26, {"2088-12-28 23:58:58", "888 Day 28:58:58"});
  FitFont(cpm_label_, reading_font, 22, {"ACPM:88888", "CPM:888888"});
  FitFont(dose_label_, reading_font, 22, {"19998.880 uSv/h"});
  FitFont(info_label_, reading_font, 22, {QString(16, 'W')});
  Colour(info_label_, Qt::blue);

  canvas_ = new GraphCanvas(client_);
  scroll_ = new ScrollBarExWnd;
  place(2000, scroll_, 604, 20);
  scroll_->SetRange(0, 65535);
  scroll_->SetPosition(100);

  play_button_ = captions_->Text(new QPushButton, 106);
  place(1173, play_button_, 70, 26);
  stop_button_ = captions_->Text(new QPushButton, 107);
  place(1174, stop_button_, 70, 26);
  speed_button_ = new QPushButton(" &x1");
  place(1176, speed_button_, 56, 26);
  peak_button_ = captions_->Text(new QRadioButton, 24, 'k');
  place(1030, peak_button_, 64, 22);
  total_button_ = captions_->Text(new QRadioButton, 27, 'o');
  place(1031, total_button_, 64, 22);
  peak_button_->setChecked(true);
  zoom_list_ = new QComboBox;
  for (const ZoomEntry& entry : kZoomList) zoom_list_->addItem(ToQString(entry.text));
  place(1036, zoom_list_, 84, 26);
  time_index_list_ = new QComboBox;
  place(1171, time_index_list_, 162, 26);
  time_index_list_->hide();

  auto* exit_button = captions_->Text(new QPushButton, 19, 'i');
  place(1164, exit_button, 70, 28);
  auto* about_button = captions_->Text(new QPushButton, 22, 'A');
  place(1015, about_button, 70, 28);
  status_log_ = new QPlainTextEdit;
  status_log_->setReadOnly(true);
  place(1150, status_log_, 524, 278);

  submit_icon_idle_ = IndicatorIcon(false);
  submit_icon_busy_ = IndicatorIcon(true);
  submit_indicator_ = new QToolButton;
  submit_indicator_->setIcon(submit_icon_idle_);
  submit_indicator_->setIconSize(QSize(48, 48));
  submit_indicator_->setAutoRaise(true);
  captions_->Tip(submit_indicator_, 108);
  place(106, submit_indicator_, 60, 70);
  banner_label_ = captions_->Text(new QLabel, 35);
  banner_label_->setAlignment(Qt::AlignCenter);
  place(1039, banner_label_, 524, 22);
  Colour(banner_label_, Qt::blue);
  status_log_->setMinimumSize(300, 80);
  status_log_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  scroll_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  for (QLabel* label : {model_label_, time_label_, banner_label_})
    label->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  info_label_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Minimum);
  for (QLabel* label : {cpm_label_, dose_label_}) label->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  port_list_->setMaximumWidth(480);
  for (QLabel* label : {title_label_, version_label_})
    label->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);

  // The original's rows, top to bottom; the chart and the status log take what room is left.
  auto row = [](std::initializer_list<QWidget*> widgets, int spacing = 6) {
    auto* line = new QHBoxLayout;
    line->setSpacing(spacing);
    for (QWidget* w : widgets) line->addWidget(w);
    return line;
  };
  auto* rows = new QVBoxLayout(client_);
  rows->setContentsMargins(20, 6, 20, 4);
  rows->setSpacing(4);
  auto* heading = row({title_label_, version_label_, model_label_}, 10);
  rows->addLayout(heading);
  auto* device_row = row({model_list_, port_list_, connect_button_, download_button_});
  device_row->setStretch(1, 1);
  device_row->insertStretch(2, 0);
  rows->addLayout(device_row);
  auto* mode_row = row({realtime_box_, demo_box_});
  mode_row->addStretch(1);
  rows->addLayout(mode_row);
  auto* readings = row({time_label_, cpm_label_, dose_label_}, 12);
  for (int i = 0; i < 3; ++i) readings->setStretch(i, 1);
  rows->addLayout(readings);
  rows->addWidget(info_label_);
  rows->addWidget(canvas_, 3);
  rows->addWidget(scroll_);
  auto* play_row = row({play_button_, stop_button_, speed_button_, peak_button_, total_button_, zoom_list_,
                        time_index_list_});
  play_row->addStretch(1);
  rows->addLayout(play_row);
  auto* side = new QVBoxLayout;
  side->setSpacing(6);
  side->addWidget(exit_button);
  side->addWidget(about_button);
  side->addStretch(1);
  side->addWidget(submit_indicator_);
  auto* log_column = new QVBoxLayout;
  log_column->setSpacing(4);
  log_column->addWidget(status_log_, 1);
  log_column->addWidget(banner_label_);
  auto* bottom = new QHBoxLayout;
  bottom->setSpacing(10);
  bottom->addLayout(side);
  bottom->addLayout(log_column, 1);
  rows->addLayout(bottom, 2);

  connect(model_list_, &QComboBox::activated, this, [this](int index) { SelectModel(index); });
  connect(port_list_, &QComboBox::activated, this, [this] { ConnectSelectedPort(); });
  connect(connect_button_, &QPushButton::clicked, this, [this] { PressConnect(); });
  connect(download_button_, &QPushButton::clicked, this, [this] { StartDownload(); });
  connect(realtime_box_, &QCheckBox::clicked, this, [this] { ToggleRealtime(); });
  connect(demo_box_, &QCheckBox::clicked, this, [this] { ToggleDemo(); });
  connect(play_button_, &QPushButton::clicked, this, [this] { Play(); });
  connect(stop_button_, &QPushButton::clicked, this, [this] { StopPlayback(); });
  connect(speed_button_, &QPushButton::clicked, this, [this] { NextSpeed(); });
  connect(peak_button_, &QRadioButton::clicked, this, [this] { SetDisplayMode(ChartMode::kLine); });
  connect(total_button_, &QRadioButton::clicked, this, [this] { SetDisplayMode(ChartMode::kValue); });
  connect(zoom_list_, &QComboBox::activated, this, [this](int index) { SelectZoom(index); });
  // A list that keeps the focus after a choice would take the next arrow key as another choice:
  // the keys go back to the chart's scroll bar.
  for (QComboBox* list : {model_list_, port_list_, zoom_list_, time_index_list_})
    connect(list, &QComboBox::activated, this, [this] { scroll_->setFocus(Qt::OtherFocusReason); });
  // The buttons' own keys beside their Alt mnemonics.
  const std::pair<QAbstractButton*, QKeySequence> button_keys[] = {
      {connect_button_, QKeySequence(Qt::CTRL | Qt::Key_K)},
      {download_button_, QKeySequence(Qt::CTRL | Qt::Key_D)},
      {realtime_box_, QKeySequence(Qt::CTRL | Qt::Key_R)}};
  for (const auto& [button, key] : button_keys) {
    auto* shortcut = new QShortcut(key, this);
    connect(shortcut, &QShortcut::activated, button, [button] {
      if (button->isEnabled()) button->click();
    });
    button->setToolTip(key.toString(QKeySequence::NativeText));
  }
  connect(scroll_, &ScrollBarExWnd::notified, this, [this] { Refill(); });
  connect(exit_button, &QPushButton::clicked, this, [this] { close(); });
  connect(about_button, &QPushButton::clicked, this, [this] { ShowAbout(); });

  progress_ = new DownloadProgressWindow(this);
  captions_->Text(progress_->cancel_button(), 3);
  connect(progress_, &DownloadProgressWindow::cancelRequested, this, [this] { ctx_->download.RequestStop(); });
}

void CMainViewerDlg::BuildMenus() {
  auto* bar = new QMenuBar(this);
  menu_bar_ = bar;
  layout()->setMenuBar(bar);
  auto add = [this](QMenu* menu, int id, const QString& text, std::function<void()> run) {
    QAction* action = menu->addAction(text);
    connect(action, &QAction::triggered, this, [run = std::move(run)] { run(); });
    commands_[id] = action;
    return action;
  };
  QMenu* file = bar->addMenu(QString());
  captions_->Text(file->menuAction(), 86, 'F');
  captions_->Text(add(file, 32774, {}, [this] { LoadData(); }), 18, 'L')->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
  captions_->Text(add(file, 32794, {}, [this] { SaveHistoryAs(); }), 109)->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
  captions_->Text(add(file, 32792, {}, [this] { SaveRealtimeAs(); }), 110)
      ->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
  captions_->Text(file->addAction(QString(), QKeySequence(Qt::CTRL | Qt::Key_L), this,
                                  [this] { OpenLongtermChart(this, options_.settings_path, ctx_->dictionary); }),
                  111);
  file->addSeparator();
  QMenu* screenshots = file->addMenu(QString());
  captions_->Text(screenshots->menuAction(), 112);
  const int screenshot_ids[] = {32801, 32802, 32804, 32806};
  for (int screen = 1; screen <= 4; ++screen) {
    add(screenshots, screenshot_ids[screen - 1], "&" + QString::number(screen), [this, screen] { DownloadScreenshot(screen); });
  }
  file->addSeparator();
  captions_->Text(add(file, 32776, {}, [this] { close(); }), 19, 'x');

  QMenu* setting = bar->addMenu(QString());
  captions_->Text(setting->menuAction(), 39, 'S');
  captions_->Text(add(setting, 32778, {}, [this] { ChooseColors(); }), 85, 'C');
  captions_->Text(add(setting, 32796, {}, [this] { StartAutoDetect(); }), 113);
  captions_->Text(add(setting, 32789, {}, [this] { OpenPortSettings(); }), 114);
  captions_->Text(add(setting, 32795, {}, [this] { OpenSettingsDialog(); }), 115);
  captions_->Text(add(setting, 32797, {}, [this] { OpenTerminal(); }), 116);
  captions_->Text(add(setting, 32803, {}, [this] { OpenMapSetup(); }), 117);
  captions_->Text(add(setting, 32798, {}, [this] { OpenConfiguration(); }), 118);
  // Not one of the original commands: publishing used to be set only by editing settings.
  captions_->Text(add(setting, kPublishingCommand, {}, [this] { OpenPublishing(); }), 119);
  setting->addSeparator();
  // Not one of the original commands: the language file used to be set only by editing settings.
  language_menu_ = setting->addMenu(QString());
  captions_->Text(language_menu_->menuAction(), 37, 'L');
  BuildLanguageMenu();

  QMenu* help = bar->addMenu(QString());
  captions_->Text(help->menuAction(), 20, 'H');
  captions_->Text(add(help, 32781, {}, [this] { ShowAbout(); }), 22, 'A');

  popup_menu_ = new QMenu(this);
  captions_->Text(add(popup_menu_, 32790, {}, [this] { close(); }), 19, 'x');
}

void CMainViewerDlg::Initialise() {
  Settings& s = ctx_->settings;
  s = ctx_->store.Load();
  s.language_file = ReadLanguageFileSetting(ctx_->store.Key());
  zoom_list_->setCurrentIndex(static_cast<int>(kZoomAutoIndex));
  chart_.zoom = kAutomaticZoom;

  // The ports that exist, each under its number (the settings and the messages keep "COM n"), with
  // the name udev gives the device for good where it has one, else the system's description.
  port_list_->clear();
  port_list_->addItem((*captions_)(121), 0);
  std::map<std::string, QString> descriptions;
  for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
    QString text = info.description();
    if (!info.manufacturer().isEmpty()) text += (text.isEmpty() ? "" : ", ") + info.manufacturer();
    descriptions[info.systemLocation().toStdString()] = text;
  }
  for (const PortEntry& entry : ctx_->ports.ports()) {
    QString text = QString("COM%1  ").arg(entry.number) + ToQString(entry.path);
    const std::string stable = StableDevicePath(entry.path);
    if (!stable.empty()) {
      text += "  (" + ToQString(std::filesystem::path(stable).filename().string()) + ")";
    } else if (auto d = descriptions.find(entry.path); d != descriptions.end() && !d->second.isEmpty()) {
      text += "  (" + d->second + ")";
    }
    port_list_->addItem(text, entry.number);
  }
  ShowPort(static_cast<int>(s.com_port));
  ctx_->state.current_port = static_cast<int>(s.com_port);
  const uint32_t model = s.last_geiger_counter_selected < kModelList.size() ? s.last_geiger_counter_selected : 0;
  SelectModel(static_cast<int>(model));
  ctx_->data.conversion = s.calibration;
  RefreshWriterOptions();
  ApplyColours();
  std::string prefix = s.file_save_path;
  // No folder chosen: one of the program's own that the About box and the closing question name,
  // never wherever the program happened to be started.
  if (prefix.empty())
    if (const std::filesystem::path folder = DefaultRecordingFolder(); !folder.empty()) prefix = (folder / "").string();
  ctx_->recorder.set_name_prefix(prefix);
  ctx_->tick.set_name_prefix(prefix);
  // Monitoring resumes on a counter that answered, so its seconds are filed under it; without a
  // port to connect to, the version asked when monitoring starts identifies it.
  const bool resume = s.ResumeMonitoring();
  if (resume && !options_.port) resume_timer_.start();

  ApplyTexts();
  SetPlayControls(false, false);
  download_button_->setEnabled(true);
  commands_[32792]->setEnabled(false);
  commands_[32794]->setEnabled(false);
  housekeeping_timer_.start();

  if (options_.port) {
    ShowPort(*options_.port);
    ConnectSelectedPort(true, [this, resume](const IdentifyResult& result) {
      if (!resume || !result.family) return;
      SetRealtimeTick(true);
      StartMonitoring();
    });
  } else if (s.auto_detect_when_start_up == 1) {
    StartAutoDetect(true);
  }
}

QWidget* CMainViewerDlg::Control(int id) const {
  auto it = controls_.find(id);
  return it == controls_.end() ? nullptr : it->second;
}

QAction* CMainViewerDlg::Command(int id) const {
  auto it = commands_.find(id);
  return it == commands_.end() ? nullptr : it->second;
}

int CMainViewerDlg::SelectedPort() const { return port_list_->currentData().toInt(); }

void CMainViewerDlg::ShowPort(int number) {
  if (number < 0) return;
  int index = port_list_->findData(number);
  if (index < 0) {
    // A port remembered from before whose device is not here now: still the one chosen, so
    // Connect says why it cannot be opened.
    port_list_->addItem(QString("COM%1  ").arg(number) + (*captions_)(122), number);
    index = port_list_->count() - 1;
  }
  port_list_->setCurrentIndex(index);
}

QString CMainViewerDlg::StatusLog() const { return status_log_->toPlainText(); }

void CMainViewerDlg::AddStatus(const QString& line) {
  // The log keeps its "\r\n" line breaks; the control shows each as one break.
  auto shown = [](const std::string& text) { return ToQString(text).replace("\r\n", "\n"); };
  const bool was_empty = log_text_.text().empty();
  const std::string text = line.toStdString();
  if (log_text_.Append(text) || was_empty) {
    status_log_->setPlainText(shown(log_text_.text()).mid(1));
  } else {
    status_log_->moveCursor(QTextCursor::End);
    status_log_->insertPlainText("\n" + shown(text));
  }
  status_log_->verticalScrollBar()->setValue(status_log_->verticalScrollBar()->maximum());
}

void CMainViewerDlg::SetPlayControls(bool play_allowed, bool stop_allowed) {
  play_button_->setEnabled(play_allowed);
  stop_button_->setEnabled(stop_allowed);
  speed_button_->setEnabled(play_allowed || stop_allowed);
  download_button_->setEnabled(!(stop_allowed && !play_allowed));
}

void CMainViewerDlg::ApplyColours() {
  Colour(time_label_, FromColourRef(ctx_->settings.cpm_color));
  Colour(cpm_label_, FromColourRef(ctx_->settings.usv_color));
  Colour(dose_label_, FromColourRef(ctx_->settings.usv_color));
}

QString CMainViewerDlg::AboutText() const {
  const LanguageDictionary& d = ctx_->dictionary;
  auto line = [&](int entry, const std::string& value) {
    return ToQString(d.GetText(entry)) + ": " + ToQString(value) + "\n";
  };
  // Automatic saves and day files go where the save folder says, else beside the program's
  // working folder, as their names are then relative.
  std::string saves = ctx_->recorder.name_prefix();
  std::error_code no_folder;
  if (saves.empty()) saves = (std::filesystem::current_path(no_folder) / "").string();
  const std::string store = options_.store_path.empty() ? d.GetText(kTextAboutStoreOff)
                                                        : options_.store_path.string();
  return "Norvane Data Viewer\n" + line(kTextAboutVersion, NORVANE_VERSION) +
         ToQString(d.GetText(kTextAboutSummary)) + "\n\n" + line(kTextAboutLicence, d.GetText(kTextAboutLicenceText)) + "\n" +
         line(kTextAboutSettings, options_.settings_path.string()) + line(kTextAboutData, StartFolder({})) +
         line(kTextAboutSaves, saves) + line(kTextAboutStore, store);
}

void CMainViewerDlg::ShowAbout() {
  // Opened, not run: the window's timers and monitoring go on behind it. Its paths can be copied.
  auto* box = new QMessageBox(QMessageBox::Information, ToQString(ctx_->dictionary.GetText(kTextAboutCaption)),
                              AboutText(), QMessageBox::Ok, this);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  box->setObjectName("about");
  box->open();
}

void CMainViewerDlg::contextMenuEvent(QContextMenuEvent* event) { popup_menu_->exec(event->globalPos()); }

// Escape reaches a dialog as reject(): it must never end the program, which monitoring may be
// running in. The window closes only by Exit or its close button, both through closeEvent.
void CMainViewerDlg::reject() {}

bool CMainViewerDlg::ConfirmClose() {
  // Seconds recorded since the last file that holds them would be lost with the window.
  if (ctx_->recorder.recorded_seconds() <= saved_seconds_) return true;
  // Where Yes writes, so the files can be found afterwards.
  std::error_code no_folder;
  std::string folder = std::filesystem::path(ctx_->recorder.name_prefix()).parent_path().string();
  if (folder.empty()) folder = std::filesystem::current_path(no_folder).string();
  const QString text = ToQString(ctx_->dictionary.GetText(90) + "\n\n" +
                                 FillIn(ctx_->dictionary.GetText(kTextCloseSavesIn), {folder}));
  CloseAnswer answer = CloseAnswer::kNo;
  if (ask_close_) {
    answer = ask_close_(text);
  } else {
    const auto button = QMessageBox::question(this, "Norvane Data Viewer", text,
                                              QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    answer = button == QMessageBox::Yes ? CloseAnswer::kYes : button == QMessageBox::No ? CloseAnswer::kNo : CloseAnswer::kCancel;
  }
  if (answer == CloseAnswer::kCancel) return false;
  if (answer == CloseAnswer::kYes) {
    const std::vector<SaveResult> saves = ctx_->recorder.SaveRecording();
    saved_seconds_ = ctx_->recorder.recorded_seconds();
    for (const SaveResult& r : saves) {
      if (!r.saved()) {
        notifier_->Message((*captions_)(138).arg(ToQString(r.path), ToQString(r.error)).toStdString());
        return false;
      }
    }
  }
  return true;
}

void CMainViewerDlg::closeEvent(QCloseEvent* event) {
  if (!shut_down_ && !ConfirmClose()) {
    event->ignore();
    return;
  }
  ShutDown();
  event->accept();
  QDialog::done(QDialog::Accepted);
}

void CMainViewerDlg::ShutDown() {
  if (shut_down_) return;
  shut_down_ = true;
  for (QTimer* t : {&housekeeping_timer_, &play_timer_, &scan_timer_, &resume_timer_}) t->stop();
  ctx_->scan.Cancel();
  ctx_->download.RequestStop();
  worker_->WaitIdle();
  // Monitoring ends without touching the stored choice to resume it at the next start.
  monitoring_ = false;
  worker_->Run([this] {
    ctx_->StopLive();
    ctx_->download.Wait();
    ctx_->link.Close();
  });
  worker_->WaitIdle();
  ctx_->submitter.WaitAll();
}

}  // namespace norvane
