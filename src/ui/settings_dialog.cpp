#include "ui/settings_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>
#include <utility>

#include "core/config/editor_port.h"
#include "core/i18n/window_texts.h"
#include "core/tools/clock_rules.h"
#include "core/tools/network_settings.h"
#include "ui/app_context.h"
#include "ui/captions.h"
#include "ui/device_worker.h"
#include "ui/qt_notifier.h"

namespace norvane {
namespace {

QString FromStd(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

// Messages of the device work go through the context's notifier, which is the window's.
SettingsDialog::SettingsDialog(AppContext& ctx, DeviceWorker& worker, QtNotifier& /*notifier*/, QWidget* parent)
    : QDialog(parent),
      ctx_(ctx),
      worker_(worker),
      port_(std::make_shared<EditorPort>(ctx.session)),
      block_(std::make_shared<ConfigBlock>()),
      get_time_button_(new QPushButton(ToQString(ctx.dictionary.GetText(200)), this)),
      sync_now_button_(new QPushButton(ToQString(ctx.dictionary.GetText(201)), this)),
      sync_period_box_(new QSpinBox(this)),
      auto_detect_box_(new QCheckBox(ToQString(ctx.dictionary.GetText(202)), this)),
      read_button_(new QPushButton(ToQString(ctx.dictionary.GetText(168)), this)),
      write_button_(new QPushButton(ToQString(ctx.dictionary.GetText(169)), this)) {
  setWindowTitle(PlainCaption(ToQString(ctx.dictionary.GetText(115))));
  block_->fill(kErased);

  // No job runs while the dialog is being opened, so the model text is settled.
  get_time_offered_ = GetClockOffered(ctx_.state.model_text);
  get_time_button_->setEnabled(get_time_offered_);

  sync_period_box_->setRange(0, kMaxSyncPeriodHours);
  sync_period_box_->setValue(
      static_cast<int>(std::min<uint32_t>(ctx_.settings.auto_time_sync_period, kMaxSyncPeriodHours)));
  auto_detect_box_->setChecked(ctx_.settings.auto_detect_when_start_up == 1);

  auto* clock_buttons = new QHBoxLayout;
  clock_buttons->addWidget(get_time_button_);
  clock_buttons->addWidget(sync_now_button_);
  auto* period_row = new QHBoxLayout;
  period_row->addWidget(new QLabel(ToQString(ctx_.dictionary.GetText(203)), this));
  period_row->addWidget(sync_period_box_);
  period_row->addWidget(new QLabel(ToQString(ctx_.dictionary.GetText(204)), this));
  period_row->addStretch(1);
  auto* clock_group = new QGroupBox(ToQString(ctx_.dictionary.GetText(205)), this);
  auto* clock_layout = new QVBoxLayout(clock_group);
  clock_layout->addLayout(clock_buttons);
  clock_layout->addLayout(period_row);

  auto* network_group = new QGroupBox(ToQString(ctx_.dictionary.GetText(206)), this);
  auto* form = new QFormLayout;
  for (size_t i = 0; i < kNetworkFieldCount; ++i) {
    const auto field = static_cast<NetworkField>(i);
    fields_[i] = new QLineEdit(this);
    // The labels are texts 140 on, in the fields' order.
    form->addRow(ToQString(ctx_.dictionary.GetText(140 + static_cast<int>(field))), fields_[i]);
  }
  auto* network_buttons = new QHBoxLayout;
  network_buttons->addStretch(1);
  network_buttons->addWidget(read_button_);
  network_buttons->addWidget(write_button_);
  auto* network_layout = new QVBoxLayout(network_group);
  network_layout->addLayout(form);
  network_layout->addLayout(network_buttons);

  auto* buttons = OkCancelButtons(ctx_.dictionary, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &SettingsDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &SettingsDialog::reject);
  connect(get_time_button_, &QPushButton::clicked, this, &SettingsDialog::GetTimeFromUnit);
  connect(sync_now_button_, &QPushButton::clicked, this, &SettingsDialog::SyncDateTimeNow);
  connect(read_button_, &QPushButton::clicked, this, &SettingsDialog::ReadFromDevice);
  connect(write_button_, &QPushButton::clicked, this, &SettingsDialog::WriteToDevice);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(clock_group);
  layout->addWidget(auto_detect_box_);
  layout->addWidget(network_group);
  layout->addWidget(buttons);
}

SettingsDialog::~SettingsDialog() {
  worker_.Run([port = std::move(port_)]() mutable {
    if (port->taken()) port->Release();
    port.reset();
  });
}

NetworkValues SettingsDialog::network_values() const {
  NetworkValues values;
  for (size_t i = 0; i < kNetworkFieldCount; ++i) values.text[i] = fields_[i]->text().toStdString();
  return values;
}

void SettingsDialog::set_network_values(const NetworkValues& values) {
  for (size_t i = 0; i < kNetworkFieldCount; ++i) fields_[i]->setText(FromStd(values.text[i]));
}

void SettingsDialog::SetDeviceButtonsEnabled(bool enabled) {
  get_time_button_->setEnabled(enabled && get_time_offered_);
  sync_now_button_->setEnabled(enabled);
  read_button_->setEnabled(enabled);
  write_button_->setEnabled(enabled);
}

void SettingsDialog::RunDeviceJob(std::function<void()> work, std::function<void()> done) {
  SetDeviceButtonsEnabled(false);
  QPointer<SettingsDialog> self(this);
  worker_.Run(std::move(work), [self, done = std::move(done)] {
    if (!self) return;
    self->SetDeviceButtonsEnabled(true);
    if (done) done();
  });
}

void SettingsDialog::GetTimeFromUnit() {
  if (!get_time_offered_) return;
  auto port = port_;
  ClockSync& sync = ctx_.clock_sync;
  RunDeviceJob(
      [port, &sync, words = ctx_.dictionary.GetText(kTextCounterClock)] {
        // The clock exchange identifies the counter and opens the port afresh.
        if (port->taken()) port->Release();
        sync.GetClock(words);  // shows the counter's time, or why not
      },
      {});
}

void SettingsDialog::SyncDateTimeNow() {
  auto port = port_;
  ClockSync& sync = ctx_.clock_sync;
  RunDeviceJob(
      [port, &sync] {
        if (port->taken()) port->Release();
        sync.SetClock(ClockTrigger::kInteractive);
      },
      {});
}

void SettingsDialog::ReadFromDevice() {
  auto port = port_;
  auto block = block_;
  auto result = std::make_shared<NetworkReadResult>();
  RunDeviceJob([port, block, result] { *result = NetworkSettings(*port, *block).Read(); },
               [this, result] {
                 if (result->outcome == NetworkOutcome::kDone) set_network_values(result->values);
               });
}

void SettingsDialog::WriteToDevice() {
  auto port = port_;
  auto block = block_;
  auto result = std::make_shared<NetworkWriteResult>();
  const NetworkValues values = network_values();
  RunDeviceJob([port, block, values, result] { *result = NetworkSettings(*port, *block).Write(values); },
               [this, result] {
                 // The counter stopped answering part-way: the dialog gives up, unsaved. The
                 // main window stays open (the old program closed it too, losing the session).
                 if (result->outcome == NetworkOutcome::kNoAnswer) reject();
               });
}

void SettingsDialog::accept() {
  namespace names = setting_names;
  ReleasePort();
  ctx_.settings.auto_time_sync_period = static_cast<uint32_t>(sync_period_box_->value());
  ctx_.settings.auto_detect_when_start_up = auto_detect_box_->isChecked() ? 1 : 0;
  ctx_.store.StoreNumber(names::kAutoTimeSyncPeriod, ctx_.settings.auto_time_sync_period);
  ctx_.store.StoreNumber(names::kAutoDetectWhenStartUp, ctx_.settings.auto_detect_when_start_up);
  QDialog::accept();
}

void SettingsDialog::reject() {
  ReleasePort();
  QDialog::reject();
}

void SettingsDialog::ReleasePort() {
  // Queued behind any job still running, which holds its own share of the port. A fresh hold
  // takes its place, in case the dialog is shown again.
  std::shared_ptr<EditorPort> port = std::exchange(port_, std::make_shared<EditorPort>(ctx_.session));
  worker_.Run([port]() mutable {
    if (port->taken()) port->Release();
    port.reset();  // ends a receiving task left from a reconnect here, not on the window's thread
  });
}

}  // namespace norvane
