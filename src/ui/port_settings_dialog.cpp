#include "ui/port_settings_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QPointer>
#include <QVBoxLayout>
#include <memory>

#include "ui/app_context.h"
#include "ui/device_worker.h"

namespace norvane {
namespace {

constexpr int kPortCount = 64;
constexpr const char* kRates[] = {"110",   "300",   "1200",  "2400",   "4800",   "9600",   "14400", "19200",
                                  "28800", "38400", "57600", "115200", "230400", "460800", "921600"};
constexpr const char* kDataBits[] = {"4", "5", "6", "7", "8"};
constexpr const char* kParities[] = {"None", "Even", "Odd", "Mark", "Space"};
constexpr const char* kStopBits[] = {"1", "2"};
constexpr const char* kFlowControls[] = {"None", "Xon/Xoff", "Hardware"};

template <size_t N>
QComboBox* ListOf(const char* const (&entries)[N], int selected, QWidget* parent) {
  auto* list = new QComboBox(parent);
  for (const char* entry : entries) list->addItem(QString::fromLatin1(entry));
  list->setCurrentIndex(selected);
  return list;
}

}  // namespace

PortSettingsDialog::PortSettingsDialog(AppContext& ctx, DeviceWorker& /*worker*/, QtNotifier& /*notifier*/,
                                       QWidget* parent)
    : QDialog(parent), port_list_(new QComboBox(this)) {
  setWindowTitle(QStringLiteral("Serial Port"));
  const PortDialogChoice defaults;
  for (int number = 1; number <= kPortCount; ++number) {
    QString entry = QStringLiteral("COM%1").arg(number);
    // On this machine "COM3" means nothing by itself; name the device it stands for.
    if (const std::optional<std::string> path = ctx.ports.PathOf(number))
      entry += QStringLiteral(" (%1)").arg(QString::fromStdString(*path));
    port_list_->addItem(entry);
  }
  port_list_->setCurrentIndex(defaults.port);
  rate_list_ = ListOf(kRates, defaults.rate, this);
  data_bits_list_ = ListOf(kDataBits, defaults.data_bits, this);
  parity_list_ = ListOf(kParities, defaults.parity, this);
  stop_bits_list_ = ListOf(kStopBits, defaults.stop_bits, this);
  flow_control_list_ = ListOf(kFlowControls, defaults.flow_control, this);

  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("Port:"), port_list_);
  form->addRow(QStringLiteral("Baud rate:"), rate_list_);
  form->addRow(QStringLiteral("Data bits:"), data_bits_list_);
  form->addRow(QStringLiteral("Parity:"), parity_list_);
  form->addRow(QStringLiteral("Stop bits:"), stop_bits_list_);
  form->addRow(QStringLiteral("Flow control:"), flow_control_list_);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(buttons);
}

PortDialogChoice PortSettingsDialog::choice() const {
  PortDialogChoice c;
  c.flow_control = flow_control_list_->currentIndex();
  c.data_bits = data_bits_list_->currentIndex();
  c.parity = parity_list_->currentIndex();
  c.port = port_list_->currentIndex();
  c.rate = rate_list_->currentIndex();
  c.stop_bits = stop_bits_list_->currentIndex();
  return c;
}

void ApplyPortSettingsDialog(AppContext& ctx, DeviceWorker& worker, const PortDialogChoice& choice,
                             std::function<void(bool opened)> done) {
  auto opened = std::make_shared<bool>(false);
  DeviceSession& session = ctx.session;
  worker.Run([&session, choice, opened] { *opened = session.ApplyPortSettings(choice); },
             [opened, done = std::move(done)] {
               if (done) done(*opened);
             });
}

}  // namespace norvane
