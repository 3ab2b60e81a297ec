#include "ui/port_settings_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QPointer>
#include <QVBoxLayout>
#include <algorithm>
#include <iterator>
#include <memory>

#include "core/serial/port_settings.h"
#include "ui/app_context.h"
#include "ui/captions.h"
#include "ui/device_worker.h"

namespace norvane {
namespace {

constexpr const char* kRates[] = {"110",   "300",   "1200",  "2400",   "4800",   "9600",   "14400", "19200",
                                  "28800", "38400", "57600", "115200", "230400", "460800", "921600"};
constexpr const char* kDataBits[] = {"4", "5", "6", "7", "8"};
constexpr const char* kStopBits[] = {"1", "2"};

template <size_t N>
QComboBox* ListOf(const char* const (&entries)[N], int selected, QWidget* parent) {
  auto* list = new QComboBox(parent);
  for (const char* entry : entries) list->addItem(QString::fromLatin1(entry));
  list->setCurrentIndex(selected);
  return list;
}

QComboBox* WordListOf(const QStringList& words, int selected, QWidget* parent) {
  auto* list = new QComboBox(parent);
  list->addItems(words);
  list->setCurrentIndex(selected);
  return list;
}

}  // namespace

PortSettingsDialog::PortSettingsDialog(AppContext& ctx, DeviceWorker& /*worker*/, QtNotifier& /*notifier*/,
                                       QWidget* parent)
    : QDialog(parent), port_list_(new QComboBox(this)) {
  setWindowTitle(ToQString(ctx.dictionary.GetText(187)));
  const PortDialogChoice defaults;
  // On this machine "COM3" means nothing by itself; each entry names the device it stands for.
  for (const PortEntry& entry : ctx.ports.ports()) {
    port_list_->addItem(QStringLiteral("COM%1 (%2)").arg(entry.number).arg(QString::fromStdString(entry.path)),
                        entry.number);
  }
  const int current = ctx.state.current_port > 0 ? ctx.state.current_port : static_cast<int>(ctx.settings.com_port);
  if (current > 0 && port_list_->findData(current) < 0) {
    // A port that has gone since it was chosen is still shown, so the dialog says where it was.
    port_list_->addItem(QStringLiteral("COM%1").arg(current), current);
  }
  port_list_->setCurrentIndex(std::max(0, port_list_->findData(current)));
  const int baud = ctx.state.port_open ? ctx.state.port_settings.baud : BaudForFamily(ctx.state.family.load());
  int rate = defaults.rate;
  for (int i = 0; i < static_cast<int>(std::size(kRates)); ++i)
    if (QString::number(baud) == QLatin1String(kRates[i])) rate = i;
  rate_list_ = ListOf(kRates, rate, this);
  data_bits_list_ = ListOf(kDataBits, defaults.data_bits, this);
  auto word = [&ctx](int entry) { return ToQString(ctx.dictionary.GetText(entry)); };
  parity_list_ = WordListOf({word(188), word(189), word(190), word(191), word(192)}, defaults.parity, this);
  stop_bits_list_ = ListOf(kStopBits, defaults.stop_bits, this);
  flow_control_list_ = WordListOf({word(188), QStringLiteral("Xon/Xoff"), word(193)}, defaults.flow_control, this);

  auto* form = new QFormLayout;
  form->addRow(ToQString(ctx.dictionary.GetText(194)), port_list_);
  form->addRow(ToQString(ctx.dictionary.GetText(195)), rate_list_);
  form->addRow(ToQString(ctx.dictionary.GetText(196)), data_bits_list_);
  form->addRow(ToQString(ctx.dictionary.GetText(197)), parity_list_);
  form->addRow(ToQString(ctx.dictionary.GetText(198)), stop_bits_list_);
  form->addRow(ToQString(ctx.dictionary.GetText(199)), flow_control_list_);

  auto* buttons = OkCancelButtons(ctx.dictionary, this);
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
  // The list holds the machine's ports only: the entry's own number says which it is.
  c.port = port_list_->currentIndex() < 0 ? -1 : port_list_->currentData().toInt() - 1;
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
