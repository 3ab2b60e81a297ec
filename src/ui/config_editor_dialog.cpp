#include "ui/config_editor_dialog.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QStringList>
#include <QVBoxLayout>

#include "ui/app_context.h"
#include "ui/device_worker.h"
#include "ui/file_types.h"
#include "ui/qt_notifier.h"
#include "ui/qt_text.h"

namespace norvane {
namespace {

using F = EditorField;

constexpr std::string_view kSaveFilter = "CSV Files (*.csv)|*.csv|Binary Files (*.bin)|*.bin|";
constexpr std::string_view kLoadCfgFilter = "CSV (*.csv)|*.csv|Binary Files (*.bin)|*.bin|";


// Texts in the block are raw bytes: Latin-1 gives each byte one character and back, so an
// untouched field is written back exactly as it was read.
QString FromBytes(const std::string& bytes) {
  return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}
std::string ToBytes(const QString& text) { return text.toLatin1().toStdString(); }

// The editor's log box: the core's status lines land there, messages and questions go on to
// the window's notifier. Lines from the device thread are queued to the window's thread.
class LogBoxNotifier final : public UserNotifier {
 public:
  LogBoxNotifier(QObject* context, QtNotifier& user, std::function<void(const QString&)> log)
      : context_(context), user_(user), log_(std::move(log)) {}
  void Message(std::string_view text, std::string_view caption) override {
    user_.Message(text, caption);
  }
  bool Ask(std::string_view question, std::string_view caption) override { return user_.Ask(question, caption); }
  void Status(std::string_view line) override {
    QMetaObject::invokeMethod(context_, [log = log_, user = &user_, l = ToQString(line)] { log(user->Shown(l)); },
                              Qt::AutoConnection);
  }

 private:
  QObject* context_;
  QtNotifier& user_;
  std::function<void(const QString&)> log_;
};

// The transfer reports from the device thread; every report is posted to the window, which
// drops it if the dialog is gone by then.
class QueuedProgress final : public TransferProgress {
 public:
  using Show = std::function<void(int, int, const QString&)>;
  using Caption = std::function<void(const QString&)>;
  QueuedProgress(QObject* context, Show show, std::function<void()> hide, Caption caption)
      : context_(context), show_(std::move(show)), hide_(std::move(hide)), caption_(std::move(caption)) {}
  void Progress(int position, int range, std::string_view text) override {
    QMetaObject::invokeMethod(context_, [show = show_, position, range, t = ToQString(text)] { show(position, range, t); },
                              Qt::AutoConnection);
  }
  void Hide() override { QMetaObject::invokeMethod(context_, hide_, Qt::AutoConnection); }
  void ResetCaption(std::string_view caption) override {
    QMetaObject::invokeMethod(context_, [c = caption_, t = ToQString(caption)] { c(t); }, Qt::AutoConnection);
  }

 private:
  QObject* context_;
  Show show_;
  std::function<void()> hide_;
  Caption caption_;
};

QPushButton* MakeButton(const QString& caption, QWidget* parent) {
  auto* button = new QPushButton(caption, parent);
  // Enter in a field must not start a transfer.
  button->setAutoDefault(false);
  button->setDefault(false);
  return button;
}

bool HasNetworkFields(int family) { return family == 5 || family >= 8; }

}  // namespace

ConfigEditorDialog::ConfigEditorDialog(AppContext& ctx, DeviceWorker& worker, QtNotifier& notifier, QWidget* parent)
    : QDialog(parent),
      ctx_(ctx),
      worker_(worker),
      notifier_(notifier),
      family_(ctx.state.family.load()),
      log_notifier_(std::make_unique<LogBoxNotifier>(this, notifier, [this](const QString& l) { AppendLog(l); })),
      progress_(std::make_unique<QueuedProgress>(
          this,
          [this](int position, int range, const QString& text) {
            progress_bar_->setRange(0, range);
            progress_bar_->setValue(position);
            progress_text_->setText(notifier_.Shown(text));
            progress_bar_->show();
            progress_text_->show();
          },
          [this] {
            progress_bar_->hide();
            progress_text_->hide();
          },
          [this](const QString& caption) { reset_button_->setText(notifier_.Shown(caption)); })),
      conversion_(ctx.data.conversion),
      editor_(block_, conversion_, *log_notifier_),
      port_(ctx.session),
      transfer_(port_, editor_, *progress_) {
  block_.fill(kErased);
  setWindowTitle(ToQString(ctx.dictionary.GetText(151)));
  BuildWindow();
  ApplyFamilyRules();
  SetBusy(false);
}

ConfigEditorDialog::~ConfigEditorDialog() {
  destroying_ = true;
  // The device thread still uses the block, the editor and the port: let it finish first.
  while (jobs_ > 0) QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
}

QLineEdit* ConfigEditorDialog::AddBox(EditorField field) {
  auto* edit = new QLineEdit(this);
  edit->setMinimumWidth(IsTextField(field) ? 160 : 70);
  boxes_.push_back({field, edit});
  return edit;
}

void ConfigEditorDialog::BuildWindow() {
  auto text = [this](int entry) { return ToQString(ctx_.dictionary.GetText(entry)); };
  auto row = [this](QGridLayout* grid, int r, const QString& caption, EditorField field, QLabel** label = nullptr) {
    auto* l = new QLabel(caption, this);
    grid->addWidget(l, r, 0);
    grid->addWidget(AddBox(field), r, 1);
    if (label) *label = l;
  };

  auto* switches = new QGroupBox(this);
  auto* sw = new QGridLayout(switches);
  row(sw, 0, text(152), F::kAlarm);
  row(sw, 1, text(153), F::kSpeaker);
  row(sw, 2, text(154), F::kBacklight);
  row(sw, 3, text(155), F::kSwivel, &swivel_label_);
  row(sw, 4, text(156), F::kLed);
  row(sw, 5, text(157), F::kSaveType);
  row(sw, 6, text(158), F::kCpmAlarm);
  row(sw, 7, text(159), F::kUsvAlarm);
  sw->setRowStretch(8, 1);

  auto* calibration = new QGroupBox(text(160), this);
  auto* cal = new QGridLayout(calibration);
  cal->addWidget(new QLabel(QStringLiteral("CPM"), this), 0, 1, Qt::AlignHCenter);
  cal->addWidget(new QLabel(QStringLiteral("uSv/h"), this), 0, 2, Qt::AlignHCenter);
  for (int p = 0; p < kCalibrationPoints; ++p) {
    cal->addWidget(new QLabel(QStringLiteral("#%1").arg(p + 1), this), p + 1, 0);
    cal->addWidget(AddBox(CalibrationCpm(p)), p + 1, 1);
    cal->addWidget(AddBox(CalibrationUsv(p)), p + 1, 2);
  }
  cal->setRowStretch(kCalibrationPoints + 1, 1);

  auto* network = new QGroupBox(this);
  auto* net = new QGridLayout(network);
  row(net, 0, QStringLiteral("SSID"), F::kSsid);
  row(net, 1, text(63), F::kPassword);
  row(net, 2, text(161), F::kWebsite);
  row(net, 3, QStringLiteral("URL"), F::kUrl);
  row(net, 4, text(162), F::kUserId);
  row(net, 5, text(163), F::kCounterId);
  row(net, 6, text(45), F::kPeriod);
  net->setRowStretch(7, 1);

  auto* tube = new QGroupBox(this);
  auto* tb = new QGridLayout(tube);
  row(tb, 0, text(164), F::kTubeSelect);
  row(tb, 1, text(165), F::kDeadTime);
  row(tb, 2, QStringLiteral("#1"), F::kDeadTime1);
  row(tb, 3, QStringLiteral("#2"), F::kDeadTime2);
  row(tb, 4, text(166), F::kMediumCpm);
  row(tb, 5, text(167), F::kHighCpm);
  tb->setRowStretch(6, 1);

  auto* fields = new QHBoxLayout;
  fields->addWidget(switches);
  fields->addWidget(calibration);
  fields->addWidget(network);
  fields->addWidget(tube);

  log_box_ = new QPlainTextEdit(this);
  log_box_->setReadOnly(true);
  log_box_->setMaximumBlockCount(1000);
  log_box_->setMinimumHeight(80);

  progress_bar_ = new QProgressBar(this);
  progress_bar_->setTextVisible(false);
  progress_text_ = new QLabel(this);
  progress_text_->setMinimumWidth(260);
  progress_bar_->hide();
  progress_text_->hide();
  auto* progress = new QHBoxLayout;
  progress->addWidget(progress_bar_, 1);
  progress->addWidget(progress_text_);

  read_button_ = MakeButton(text(168), this);
  write_button_ = MakeButton(text(169), this);
  reset_button_ = MakeButton(text(173), this);
  save_button_ = MakeButton(text(170), this);
  load_button_ = MakeButton(text(171), this);
  exit_button_ = MakeButton(text(19), this);
  connect(read_button_, &QPushButton::clicked, this, &ConfigEditorDialog::ReadFromDevice);
  connect(write_button_, &QPushButton::clicked, this, &ConfigEditorDialog::WriteToDevice);
  connect(reset_button_, &QPushButton::clicked, this, &ConfigEditorDialog::FactoryResetDevice);
  connect(save_button_, &QPushButton::clicked, this, &ConfigEditorDialog::SaveToFile);
  connect(load_button_, &QPushButton::clicked, this, &ConfigEditorDialog::LoadFromFile);
  connect(exit_button_, &QPushButton::clicked, this, &ConfigEditorDialog::Exit);
  auto* buttons = new QHBoxLayout;
  for (QPushButton* b : {read_button_, write_button_, reset_button_, save_button_, load_button_}) buttons->addWidget(b);
  buttons->addStretch(1);
  buttons->addWidget(exit_button_);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(fields);
  layout->addWidget(log_box_, 1);
  layout->addLayout(progress);
  layout->addLayout(buttons);
}

EditorField ConfigEditorDialog::Bound(EditorField field) const {
  if (family_ == 7 && field == F::kBacklight) return F::kBacklightLevel;
  if (field == F::kSwivel) return *FieldForKey("swivel", family_);
  return field;
}

QLineEdit* ConfigEditorDialog::box(EditorField field) const {
  for (const Box& b : boxes_)
    if (Bound(b.field) == field) return b.edit;
  return nullptr;
}

void ConfigEditorDialog::ApplyFamilyRules() {
  const bool network = HasNetworkFields(family_);
  for (F f : {F::kSsid, F::kPassword, F::kWebsite, F::kUrl, F::kUserId, F::kCounterId, F::kPeriod, F::kTubeSelect,
              F::kDeadTime, F::kDeadTime1, F::kDeadTime2, F::kMediumCpm, F::kHighCpm})
    box(f)->setEnabled(network);
  box(F::kUsvAlarm)->setEnabled(family_ != 7);
  swivel_label_->setText(ToQString(ctx_.dictionary.GetText(family_ == 7 ? 172 : 155)));
  swivel_label_->setEnabled(family_ != 6);
}

void ConfigEditorDialog::BoxesToForm() {
  ConfigForm& form = editor_.form();
  for (const Box& b : boxes_) form[Bound(b.field)] = ToBytes(b.edit->text());
}

void ConfigEditorDialog::FormToBoxes() {
  const ConfigForm& form = editor_.form();
  for (const Box& b : boxes_) b.edit->setText(FromBytes(form[Bound(b.field)]));
}

void ConfigEditorDialog::Decoded() {
  ctx_.data.conversion = conversion_;
  FormToBoxes();
  have_block_ = true;
}

void ConfigEditorDialog::AppendLog(const QString& line) { log_box_->appendPlainText(line); }

void ConfigEditorDialog::SetBusy(bool busy) {
  for (QPushButton* b : {read_button_, reset_button_, save_button_, load_button_}) b->setEnabled(!busy);
  // An erased block written back would wipe the counter's settings.
  write_button_->setEnabled(!busy && have_block_);
}

void ConfigEditorDialog::RunTransfer(std::function<TransferOutcome()> work, std::function<void(TransferOutcome)> after) {
  BoxesToForm();
  ++jobs_;
  port_used_ = true;
  SetBusy(true);
  auto outcome = std::make_shared<TransferOutcome>(TransferOutcome::kFailed);
  QPointer<ConfigEditorDialog> self(this);
  worker_.Run([outcome, work = std::move(work)] { *outcome = work(); },
              [self, outcome, after = std::move(after)] {
                if (!self) return;
                --self->jobs_;
                if (self->destroying_) return;
                // The counter was identified again when the port was taken over.
                self->family_ = self->ctx_.state.family.load();
                self->ApplyFamilyRules();
                after(*outcome);
                self->SetBusy(false);
                if (*outcome == TransferOutcome::kEditorClosed) self->close_pending_ = true;
                if (self->close_pending_) self->CloseEditor(self->pending_result_);
              });
}

void ConfigEditorDialog::ReadFromDevice() {
  if (busy()) return;
  RunTransfer([this] { return transfer_.Read(); },
              [this](TransferOutcome outcome) {
                if (outcome == TransferOutcome::kDone) Decoded();
                // Both attempts went unanswered: the block is all 0xFF and must not be written.
                else have_block_ = false;
              });
}

void ConfigEditorDialog::WriteToDevice() {
  if (busy() || !have_block_) return;
  RunTransfer([this] { return transfer_.Write(); }, [](TransferOutcome) {});
}

void ConfigEditorDialog::FactoryResetDevice() {
  if (busy()) return;
  RunTransfer([this] { return transfer_.FactoryReset(); },
              [this](TransferOutcome outcome) {
                if (outcome == TransferOutcome::kDone) Decoded();
                else if (outcome == TransferOutcome::kEditorClosed) have_block_ = false;
              });
}

std::optional<ConfigFileChoice> ConfigEditorDialog::AskFile(ConfigFileAction action) {
  if (chooser_) return chooser_(action);
  QFileDialog dialog(this);
  const FileTypes types(action == ConfigFileAction::kSave ? kSaveFilter : kLoadCfgFilter, ctx_.dictionary);
  dialog.setNameFilters(types.shown());
  if (action == ConfigFileAction::kSave) {
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.selectFile(QStringLiteral("ZQT_Configuration"));
    // The name the overwrite question names is the name that gets written.
    dialog.setDefaultSuffix(QStringLiteral("csv"));
    connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& filter) {
      dialog.setDefaultSuffix(filter.contains(QStringLiteral(".bin")) ? QStringLiteral("bin") : QStringLiteral("csv"));
    });
  } else {
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
  }
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return ConfigFileChoice{std::filesystem::path(dialog.selectedFiles().front().toStdString()),
                          types.TypeText(dialog.selectedNameFilter())};
}

void ConfigEditorDialog::SaveToFile() {
  if (busy()) return;
  BoxesToForm();
  // A text too long for its field is refused before the user picks a file.
  if (!editor_.Encode(family_)) return;
  const std::optional<ConfigFileChoice> choice = AskFile(ConfigFileAction::kSave);
  if (!choice || choice->path.empty()) return;
  editor_.SaveToFile(family_, choice->path.string(), FormatFromTypeText(choice->type_text));
}

void ConfigEditorDialog::LoadFromFile() {
  if (busy()) return;
  const std::optional<ConfigFileChoice> choice = AskFile(ConfigFileAction::kLoad);
  if (!choice || choice->path.empty()) return;
  if (!editor_.LoadFromFile(family_, choice->path)) return;
  Decoded();
  SetBusy(false);
}

void ConfigEditorDialog::Exit() { CloseEditor(Accepted); }

void ConfigEditorDialog::reject() { CloseEditor(Rejected); }

void ConfigEditorDialog::CloseEditor(int result) {
  if (busy()) {
    // Closing in the middle of a transfer would leave the counter half written: close after it.
    close_pending_ = true;
    pending_result_ = result;
    return;
  }
  close_pending_ = false;
  if (!port_used_) {
    QDialog::done(result);
    return;
  }
  // Queued behind any transfer still running on the device thread.
  ++jobs_;
  SetBusy(true);
  QPointer<ConfigEditorDialog> self(this);
  worker_.Run([this] { port_.Release(); },
              [self, result] {
                if (!self) return;
                --self->jobs_;
                if (self->destroying_) return;
                self->port_used_ = false;
                self->close_pending_ = false;
                self->SetBusy(false);
                self->QDialog::done(result);
              });
}

}  // namespace norvane
