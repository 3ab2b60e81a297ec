// The web map's setup dialog: account and counter IDs, the submission period and switch, "Verify".
#pragma once

#include <QDialog>

#include "core/net/map_submission.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace norvane {

struct AppContext;
class DeviceWorker;
class QtNotifier;

// The IDs count as verified only after a "Verify" in this dialog succeeded; changed IDs that were
// not verified switch automatic submission off on "OK".
class MapSetupDialog : public QDialog {
  Q_OBJECT
 public:
  // Verification waits at most this long for the service, so a dead server cannot hold the
  // device worker for long.
  static constexpr int kVerifyTimeoutSeconds = 20;

  // `post` stands in for the HTTP request in tests; empty means the real one.
  MapSetupDialog(AppContext& ctx, DeviceWorker& worker, QtNotifier& notifier, QWidget* parent = nullptr,
                 MapPoster post = {});

  bool verified() const { return verified_; }
  // The registration page on the server the dialog names now.
  QString registration_url() const;

  QLineEdit* account_edit() const { return account_edit_; }
  QLineEdit* counter_edit() const { return counter_edit_; }
  QLineEdit* period_edit() const { return period_edit_; }
  QLineEdit* server_edit() const { return server_edit_; }
  QCheckBox* auto_submit_box() const { return auto_submit_box_; }
  QPushButton* verify_button() const { return verify_button_; }
  QLabel* register_link() const { return register_link_; }

 public slots:
  void Verify();
  void accept() override;

 private:
  // The server as typed, or the default when the field is empty.
  std::string Server() const;
  void ShowRegisterLink();

  AppContext& ctx_;
  DeviceWorker& worker_;
  QtNotifier& notifier_;
  MapPoster post_;
  bool verified_ = false;

  QLineEdit* account_edit_;
  QLineEdit* counter_edit_;
  QLineEdit* period_edit_;
  QLineEdit* server_edit_;
  QCheckBox* auto_submit_box_;
  QPushButton* verify_button_;
  QLabel* register_link_;
};

}  // namespace norvane
