// The "Settings" dialog: the counter's clock, the start-up settings and the WiFi and server setup.
#pragma once

#include <QDialog>
#include <array>
#include <functional>
#include <memory>

#include "core/config/config_block.h"
#include "core/tools/network_values.h"

class QCheckBox;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace norvane {

struct AppContext;
class DeviceWorker;
class EditorPort;
class QtNotifier;

// Opened modally once the counter is connected; also constructible without one (fields empty).
// Every exchange with the counter runs on the device worker; the dialog's hold on the port (its
// receiving task) is given up on the worker when the dialog closes, however it closes.
class SettingsDialog : public QDialog {
  Q_OBJECT
 public:
  // AutoTimeSyncPeriod is kept in hours; a year of hours is more than anyone waits.
  static constexpr int kMaxSyncPeriodHours = 8760;

  SettingsDialog(AppContext& ctx, DeviceWorker& worker, QtNotifier& notifier, QWidget* parent = nullptr);
  ~SettingsDialog() override;

  // What the seven WiFi fields hold now.
  NetworkValues network_values() const;
  void set_network_values(const NetworkValues& values);

  QPushButton* get_time_button() const { return get_time_button_; }
  QPushButton* sync_now_button() const { return sync_now_button_; }
  QSpinBox* sync_period_box() const { return sync_period_box_; }
  QCheckBox* auto_detect_box() const { return auto_detect_box_; }
  QPushButton* read_button() const { return read_button_; }
  QPushButton* write_button() const { return write_button_; }
  QLineEdit* network_field(NetworkField field) const { return fields_[static_cast<size_t>(field)]; }

 public slots:
  void GetTimeFromUnit();
  void SyncDateTimeNow();
  void ReadFromDevice();
  void WriteToDevice();
  // Stores AutoTimeSyncPeriod and AutoDetectWhenStartUp, then closes.
  void accept() override;
  void reject() override;

 private:
  // Runs `work` on the device worker with the device buttons off until it is done.
  void RunDeviceJob(std::function<void()> work, std::function<void()> done);
  void SetDeviceButtonsEnabled(bool enabled);
  // Gives up the dialog's hold on the port: its receiving task ends on the worker.
  void ReleasePort();

  AppContext& ctx_;
  DeviceWorker& worker_;
  // Shared with the jobs, so a job still queued when the dialog closes keeps what it uses.
  std::shared_ptr<EditorPort> port_;
  std::shared_ptr<ConfigBlock> block_;
  bool get_time_offered_ = true;

  QPushButton* get_time_button_;
  QPushButton* sync_now_button_;
  QSpinBox* sync_period_box_;
  QCheckBox* auto_detect_box_;
  std::array<QLineEdit*, kNetworkFieldCount> fields_{};
  QPushButton* read_button_;
  QPushButton* write_button_;
};

}  // namespace norvane
