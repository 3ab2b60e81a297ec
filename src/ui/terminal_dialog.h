// The "Norvane Terminal" dialog: send any command frame and watch every byte the counter returns.
#pragma once

#include <QDialog>
#include <QString>
#include <memory>

#include "core/tools/terminal_frame.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace norvane {

struct AppContext;
class DeviceWorker;
class QtNotifier;
class TerminalConsole;

// Connects when first shown; "Exit", Escape and the close box all release the port first. Every
// exchange runs on the DeviceWorker; the console's receiving task hands its bytes over in
// batches through queued calls, so a chatty counter never floods the window's event queue.
class TerminalDialog : public QDialog {
  Q_OBJECT
 public:
  TerminalDialog(AppContext& ctx, DeviceWorker& worker, QtNotifier& notifier, QWidget* parent = nullptr);
  ~TerminalDialog() override;

  // Identifies the counter, reopens the port and starts the receiving task (done on first show).
  void Connect();
  // "Reconnect".
  void Reconnect();
  // "Send command with parameters". A refused parameter text is reported and nothing is sent;
  // while another exchange of this dialog runs it does nothing, as its disabled button would.
  void Send();
  // "Key1 (S1)" .. "Key4 (S4)": puts KEY0 .. KEY3 into the command box and sends it.
  void PressKey(int key);
  // The two "Clear" buttons.
  void ClearHex();
  void ClearText();
  // "Exit": releases the port on the worker, then closes.
  void Exit();
  void reject() override;

  // Set once Connect has finished (whether or not the port opened).
  bool connected() const { return connected_; }

  QLineEdit* port_field() const { return port_field_; }
  QComboBox* command_box() const { return command_box_; }
  QLineEdit* parameter_box() const { return parameter_box_; }
  QCheckBox* text_parameters_box() const { return text_parameters_box_; }
  QLineEdit* last_command_field() const { return last_command_field_; }
  QPlainTextEdit* hex_box() const { return hex_box_; }
  QPlainTextEdit* text_box() const { return text_box_; }
  QPushButton* send_button() const { return send_button_; }
  QPushButton* key_button(int key) const { return key >= 1 && key <= 4 ? key_buttons_[key - 1] : nullptr; }
  QPushButton* reconnect_button() const { return reconnect_button_; }
  QPushButton* exit_button() const { return exit_button_; }
  // Calibration points 1-3 as shown: CPM and uSv/h fields, `point` 1-3.
  QLineEdit* calibration_cpm_field(int point) const;
  QLineEdit* calibration_usv_field(int point) const;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  struct Inbox;

  void ApplyParameterRules(const QString& command);
  void SendFrame(const QString& command, const QString& parameters, bool text_parameters);
  void SetJobRunning(bool running);
  void ShowCalibration();
  void TakeReceived();
  static void AppendTo(ReceiveBox& model, QPlainTextEdit* view, const QString& piece, bool replaced);

  AppContext& ctx_;
  DeviceWorker& worker_;
  QtNotifier& notifier_;
  // Shared with the worker's jobs, so a job still queued when the dialog goes never outlives it.
  std::shared_ptr<TerminalConsole> console_;
  std::shared_ptr<Inbox> inbox_;
  ReceiveBox hex_model_;
  ReceiveBox text_model_;
  bool connect_started_ = false;
  bool connected_ = false;
  bool exiting_ = false;

  QLineEdit* port_field_;
  QComboBox* command_box_;
  QLineEdit* parameter_box_;
  QCheckBox* text_parameters_box_;
  QLineEdit* last_command_field_;
  QPlainTextEdit* hex_box_;
  QPlainTextEdit* text_box_;
  QPushButton* send_button_;
  QPushButton* key_buttons_[4];
  QPushButton* reconnect_button_;
  QPushButton* exit_button_;
  QLineEdit* cpm_fields_[3];
  QLineEdit* usv_fields_[3];
};

}  // namespace norvane
