// The "Serial Port" dialog: port and line values chosen by hand, then opened on the device worker.
#pragma once

#include <QDialog>
#include <functional>

#include "core/protocol/device_session.h"

class QComboBox;

namespace norvane {

struct AppContext;
class DeviceWorker;
class QtNotifier;

// Opens on the port the window uses (else the one last chosen) at the rate it runs at, 8 bits,
// no parity, 1 stop bit, no flow control. It lists the ports the machine has, each with its
// device beside the COM number.
class PortSettingsDialog : public QDialog {
  Q_OBJECT
 public:
  PortSettingsDialog(AppContext& ctx, DeviceWorker& worker, QtNotifier& notifier, QWidget* parent = nullptr);

  // The six list indices; the caller takes them after exec() returns Accepted.
  PortDialogChoice choice() const;

  QComboBox* port_list() const { return port_list_; }
  QComboBox* rate_list() const { return rate_list_; }
  QComboBox* data_bits_list() const { return data_bits_list_; }
  QComboBox* parity_list() const { return parity_list_; }
  QComboBox* stop_bits_list() const { return stop_bits_list_; }
  QComboBox* flow_control_list() const { return flow_control_list_; }

 private:
  QComboBox* port_list_;
  QComboBox* rate_list_;
  QComboBox* data_bits_list_;
  QComboBox* parity_list_;
  QComboBox* stop_bits_list_;
  QComboBox* flow_control_list_;
};

// The dialog's OK: opens the chosen port with the chosen line on the worker ("COM port open
// error 2" on failure) and asks for the version; `done(opened)` then runs on the window's thread.
void ApplyPortSettingsDialog(AppContext& ctx, DeviceWorker& worker, const PortDialogChoice& choice,
                             std::function<void(bool opened)> done = {});

}  // namespace norvane
