#include "ui/terminal_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFont>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTextCursor>
#include <QVBoxLayout>
#include <mutex>
#include <string>
#include <utility>

#include "core/tools/terminal_console.h"
#include "ui/app_context.h"
#include "ui/device_worker.h"
#include "ui/qt_notifier.h"
#include "ui/qt_text.h"

namespace norvane {

// Bytes from the receiving task wait here until the window's thread takes them. Only one drain
// is queued at a time, however fast the bytes come.
struct TerminalDialog::Inbox {
  std::mutex mutex;
  std::string bytes;
  TerminalDialog* dialog = nullptr;  // cleared when the dialog goes; nothing is posted after
  bool posted = false;

  void Add(uint8_t byte) {
    std::lock_guard lock(mutex);
    bytes.push_back(static_cast<char>(byte));
    if (posted || !dialog) return;
    posted = true;
    TerminalDialog* target = dialog;
    QMetaObject::invokeMethod(target, [target] { target->TakeReceived(); }, Qt::QueuedConnection);
  }
  std::string Take() {
    std::lock_guard lock(mutex);
    posted = false;
    return std::exchange(bytes, {});
  }
  void Detach() {
    std::lock_guard lock(mutex);
    dialog = nullptr;
  }
};

namespace {

// The counter's bytes, one character each: a reply is not UTF-8. The window's own texts are.
QString FromBytes(std::string_view bytes) {
  return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

QLineEdit* ReadOnlyField(QWidget* parent) {
  auto* field = new QLineEdit(parent);
  field->setReadOnly(true);
  return field;
}

QPlainTextEdit* ReceiveView(QWidget* parent) {
  auto* view = new QPlainTextEdit(parent);
  view->setReadOnly(true);
  view->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  return view;
}

}  // namespace

TerminalDialog::TerminalDialog(AppContext& ctx, DeviceWorker& worker, QtNotifier& notifier, QWidget* parent)
    : QDialog(parent),
      ctx_(ctx),
      worker_(worker),
      notifier_(notifier),
      inbox_(std::make_shared<Inbox>()),
      port_field_(ReadOnlyField(this)),
      command_box_(new QComboBox(this)),
      parameter_box_(new QLineEdit(this)),
      text_parameters_box_(new QCheckBox(ToQString(ctx.dictionary.GetText(207)), this)),
      last_command_field_(ReadOnlyField(this)),
      hex_box_(ReceiveView(this)),
      text_box_(ReceiveView(this)),
      send_button_(new QPushButton(ToQString(ctx.dictionary.GetText(208)), this)),
      key_buttons_{new QPushButton(ToQString(ctx.dictionary.GetText(209)).arg(1), this),
                   new QPushButton(ToQString(ctx.dictionary.GetText(209)).arg(2), this),
                   new QPushButton(ToQString(ctx.dictionary.GetText(209)).arg(3), this),
                   new QPushButton(ToQString(ctx.dictionary.GetText(209)).arg(4), this)},
      reconnect_button_(new QPushButton(ToQString(ctx.dictionary.GetText(210)), this)),
      exit_button_(new QPushButton(ToQString(ctx.dictionary.GetText(19)), this)),
      cpm_fields_{ReadOnlyField(this), ReadOnlyField(this), ReadOnlyField(this)},
      usv_fields_{ReadOnlyField(this), ReadOnlyField(this), ReadOnlyField(this)} {
  setWindowTitle(ToQString(ctx.dictionary.GetText(211)));
  inbox_->dialog = this;
  // The sink holds the inbox, not the dialog: a device job may outlive the window by a moment.
  console_ = std::make_shared<TerminalConsole>(ctx_.session, [inbox = inbox_](uint8_t byte) { inbox->Add(byte); });

  port_field_->setFont(QFont(QStringLiteral("Arial"), 18));

  command_box_->setEditable(true);
  command_box_->setInsertPolicy(QComboBox::NoInsert);
  for (std::string_view command : TerminalCommandList()) command_box_->addItem(ToQString(command));
  connect(command_box_, &QComboBox::currentTextChanged, this, &TerminalDialog::ApplyParameterRules);
  ApplyParameterRules(command_box_->currentText());

  connect(send_button_, &QPushButton::clicked, this, &TerminalDialog::Send);
  for (int key = 1; key <= 4; ++key)
    connect(key_buttons_[key - 1], &QPushButton::clicked, this, [this, key] { PressKey(key); });
  connect(reconnect_button_, &QPushButton::clicked, this, &TerminalDialog::Reconnect);
  connect(exit_button_, &QPushButton::clicked, this, &TerminalDialog::Exit);
  auto* clear_hex = new QPushButton(ToQString(ctx.dictionary.GetText(212)), this);
  auto* clear_text = new QPushButton(ToQString(ctx.dictionary.GetText(212)), this);
  connect(clear_hex, &QPushButton::clicked, this, &TerminalDialog::ClearHex);
  connect(clear_text, &QPushButton::clicked, this, &TerminalDialog::ClearText);
  send_button_->setDefault(true);
  exit_button_->setAutoDefault(false);

  auto* port_row = new QHBoxLayout;
  port_row->addWidget(new QLabel(ToQString(ctx.dictionary.GetText(213)), this));
  port_row->addWidget(port_field_, 1);

  auto* frame_grid = new QGridLayout;
  frame_grid->addWidget(new QLabel(ToQString(ctx.dictionary.GetText(214)), this), 0, 2);
  frame_grid->addWidget(new QLabel(QStringLiteral("<"), this), 1, 0);
  frame_grid->addWidget(command_box_, 1, 1);
  frame_grid->addWidget(parameter_box_, 1, 2);
  frame_grid->addWidget(new QLabel(QStringLiteral(">>"), this), 1, 3);
  frame_grid->addWidget(text_parameters_box_, 2, 2);
  frame_grid->setColumnStretch(2, 1);

  auto* send_row = new QHBoxLayout;
  send_row->addWidget(send_button_);
  for (QPushButton* key : key_buttons_) send_row->addWidget(key);

  auto* receive_grid = new QGridLayout;
  receive_grid->addWidget(new QLabel(ToQString(ctx.dictionary.GetText(215)), this), 0, 0);
  receive_grid->addWidget(clear_hex, 0, 1, Qt::AlignRight);
  receive_grid->addWidget(hex_box_, 1, 0, 1, 2);
  receive_grid->addWidget(new QLabel(ToQString(ctx.dictionary.GetText(216)), this), 0, 2);
  receive_grid->addWidget(clear_text, 0, 3, Qt::AlignRight);
  receive_grid->addWidget(text_box_, 1, 2, 1, 2);

  auto* calibration = new QGroupBox(ToQString(ctx.dictionary.GetText(160)), this);
  auto* calibration_grid = new QGridLayout(calibration);
  calibration_grid->addWidget(new QLabel(QStringLiteral("CPM"), calibration), 0, 0);
  calibration_grid->addWidget(new QLabel(QStringLiteral("uSv/h"), calibration), 1, 0);
  for (int i = 0; i < 3; ++i) {
    calibration_grid->addWidget(cpm_fields_[i], 0, i + 1);
    calibration_grid->addWidget(usv_fields_[i], 1, i + 1);
  }
  calibration_grid->addWidget(new QLabel(QStringLiteral("60"), calibration), 0, 4);
  calibration_grid->addWidget(new QLabel(QStringLiteral("0.39"), calibration), 1, 4);
  calibration_grid->addWidget(new QLabel(ToQString(ctx.dictionary.GetText(217)), calibration), 2, 1, 1, 4);

  auto* bottom_row = new QHBoxLayout;
  bottom_row->addStretch(1);
  bottom_row->addWidget(reconnect_button_);
  bottom_row->addWidget(exit_button_);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(port_row);
  layout->addLayout(frame_grid);
  layout->addLayout(send_row);
  layout->addWidget(new QLabel(ToQString(ctx.dictionary.GetText(218)), this));
  layout->addWidget(last_command_field_);
  layout->addLayout(receive_grid, 1);
  layout->addWidget(calibration);
  layout->addLayout(bottom_row);

  ShowCalibration();
}

TerminalDialog::~TerminalDialog() {
  // Bytes still arriving go nowhere; a job still queued keeps the console alive on its own.
  inbox_->Detach();
}

QLineEdit* TerminalDialog::calibration_cpm_field(int point) const {
  return point >= 1 && point <= 3 ? cpm_fields_[point - 1] : nullptr;
}

QLineEdit* TerminalDialog::calibration_usv_field(int point) const {
  return point >= 1 && point <= 3 ? usv_fields_[point - 1] : nullptr;
}

void TerminalDialog::ShowCalibration() {
  for (int i = 0; i < 3; ++i) {
    const CalibrationPoint& point = ctx_.settings.calibration[static_cast<size_t>(i)];
    cpm_fields_[i]->setText(QString::number(point.cpm));
    usv_fields_[i]->setText(QString::asprintf("%0.2f", point.usv));
  }
}

void TerminalDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!connect_started_) Connect();
}

void TerminalDialog::SetJobRunning(bool running) {
  send_button_->setEnabled(!running);
  for (QPushButton* key : key_buttons_) key->setEnabled(!running);
  reconnect_button_->setEnabled(!running);
}

void TerminalDialog::Connect() {
  if (connect_started_) return;
  connect_started_ = true;
  SetJobRunning(true);
  auto console = console_;
  auto port_text = std::make_shared<std::string>();
  QPointer<TerminalDialog> self(this);
  worker_.Run([console, port_text] {
    console->Connect();
    *port_text = console->port_text();
  }, [self, port_text] {
    if (!self || self->exiting_) return;
    self->port_field_->setText(ToQString(*port_text));
    self->connected_ = true;
    self->SetJobRunning(false);
  });
}

void TerminalDialog::Reconnect() {
  if (exiting_ || !reconnect_button_->isEnabled()) return;
  SetJobRunning(true);
  auto console = console_;
  auto port_text = std::make_shared<std::string>();
  QPointer<TerminalDialog> self(this);
  worker_.Run([console, port_text] {
    console->Reconnect();
    *port_text = console->port_text();
  }, [self, port_text] {
    if (!self || self->exiting_) return;
    self->port_field_->setText(ToQString(*port_text));
    self->SetJobRunning(false);
  });
}

void TerminalDialog::ApplyParameterRules(const QString& command) {
  const ParameterBox rule = ParameterBoxFor(command.toStdString());
  parameter_box_->setEnabled(rule.enabled);
  if (rule.text) parameter_box_->setText(ToQString(*rule.text));
}

void TerminalDialog::Send() {
  // A greyed-out box still holds the previous command's example; it is not part of this one.
  const QString parameters = parameter_box_->isEnabled() ? parameter_box_->text() : QString();
  SendFrame(command_box_->currentText(), parameters, text_parameters_box_->isChecked());
}

void TerminalDialog::PressKey(int key) {
  const std::string_view command = KeyButtonCommand(key);
  if (command.empty() || exiting_ || !send_button_->isEnabled()) return;
  command_box_->setCurrentText(ToQString(command));
  Send();
}

void TerminalDialog::SendFrame(const QString& command, const QString& parameters, bool text_parameters) {
  if (exiting_ || !send_button_->isEnabled()) return;
  // Latin-1, so each character typed is one byte on the line, as the counter expects.
  const std::string c = command.toLatin1().toStdString();
  const std::string p = parameters.toLatin1().toStdString();
  // Checked here so a refusal shows at once and never queues behind other device work.
  const TerminalFrame frame = BuildTerminalFrame(c, p, text_parameters);
  if (!frame.error.empty()) {
    notifier_.Message(frame.error);
    return;
  }
  if (frame.bytes.empty()) return;
  last_command_field_->setText(ToQString(HexEcho(frame.bytes)));
  SetJobRunning(true);
  auto console = console_;
  QPointer<TerminalDialog> self(this);
  worker_.Run([console, c, p, text_parameters] { console->Send(c, p, text_parameters); }, [self] {
    if (self && !self->exiting_) self->SetJobRunning(false);
  });
}

void TerminalDialog::ClearHex() {
  hex_model_.Clear();
  hex_box_->clear();
}

void TerminalDialog::ClearText() {
  text_model_.Clear();
  text_box_->clear();
}

void TerminalDialog::Exit() {
  if (exiting_) return;
  exiting_ = true;
  SetJobRunning(true);
  exit_button_->setEnabled(false);
  QPointer<TerminalDialog> self(this);
  // Queued behind any exchange still running, so the dialog closes only when it is done.
  worker_.Run([] {}, [self] {
    if (self) self->QDialog::done(QDialog::Accepted);
  });
}

void TerminalDialog::reject() { Exit(); }

void TerminalDialog::AppendTo(ReceiveBox& model, QPlainTextEdit* view, const QString& piece, bool replaced) {
  if (replaced) {
    view->setPlainText(FromBytes(model.text()));
  } else {
    QTextCursor end(view->document());
    end.movePosition(QTextCursor::End);
    end.insertText(piece);
  }
  view->moveCursor(QTextCursor::End);
  view->ensureCursorVisible();
}

void TerminalDialog::TakeReceived() {
  const std::string bytes = inbox_->Take();
  if (bytes.empty()) return;
  // Byte by byte through the models, so the box is emptied at exactly the byte that passes half
  // its limit; the views are then brought up to date once per batch.
  std::string hex_tail, text_tail;
  bool hex_replaced = false, text_replaced = false;
  const auto add = [](ReceiveBox& model, std::string_view piece, std::string& tail, bool& replaced) {
    model.Append(piece);
    if (model.text().size() == piece.size()) {
      replaced = true;
      tail.clear();
    }
    tail.append(piece);
  };
  for (char c : bytes) {
    const uint8_t byte = static_cast<uint8_t>(c);
    add(hex_model_, HexEcho({&byte, 1}), hex_tail, hex_replaced);
    // A zero byte has no character to show (replies are often padded with them); the hex box
    // still shows it.
    if (c != '\0') add(text_model_, std::string_view(&c, 1), text_tail, text_replaced);
  }
  AppendTo(hex_model_, hex_box_, ToQString(hex_tail), hex_replaced);
  AppendTo(text_model_, text_box_, FromBytes(text_tail), text_replaced);
}

}  // namespace norvane
