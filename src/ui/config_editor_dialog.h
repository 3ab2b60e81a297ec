// The "Configuration" dialog: the counter's settings and calibration, read, written and kept in files.
#pragma once

#include <QDialog>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/config/config_transfer.h"

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace norvane {

struct AppContext;
class DeviceWorker;
class QtNotifier;

enum class ConfigFileAction { kSave, kLoad };

// What the user picked in a file dialog. `type_text` is the chosen file type's English description,
// lower-cased, whatever language the dialog showed; it decides the format of a save.
struct ConfigFileChoice {
  std::filesystem::path path;
  std::string type_text;
};

// Empty when the user cancelled.
using ConfigFileChooser = std::function<std::optional<ConfigFileChoice>(ConfigFileAction)>;

// Device work runs on the DeviceWorker; the window only shows progress and results. The block,
// working values and receiving task are this dialog's; the conversion table it updates is the
// application's (ctx.data.conversion), written back on the window's thread only.
class ConfigEditorDialog : public QDialog {
  Q_OBJECT
 public:
  ConfigEditorDialog(AppContext& ctx, DeviceWorker& worker, QtNotifier& notifier, QWidget* parent = nullptr);
  // Waits for this dialog's own device job, if one is still running.
  ~ConfigEditorDialog() override;

  // Replaces the file dialogs (tests answer without a modal window).
  void SetFileChooser(ConfigFileChooser chooser) { chooser_ = std::move(chooser); }

  // A transfer or the release of the port is under way.
  bool busy() const { return jobs_ > 0; }
  // The family whose labels and layout the dialog uses now.
  int family() const { return family_; }

  // The box that shows `field` on this family; nullptr when none does (on family 7 the
  // "Backlight" box shows the backlight level and the "Swivel" box the vibrate switch).
  QLineEdit* box(EditorField field) const;
  QLabel* swivel_label() const { return swivel_label_; }
  QPlainTextEdit* log_box() const { return log_box_; }
  QProgressBar* progress_bar() const { return progress_bar_; }
  QLabel* progress_text() const { return progress_text_; }
  QPushButton* read_button() const { return read_button_; }
  QPushButton* write_button() const { return write_button_; }
  QPushButton* reset_button() const { return reset_button_; }
  QPushButton* save_button() const { return save_button_; }
  QPushButton* load_button() const { return load_button_; }
  QPushButton* exit_button() const { return exit_button_; }

 public slots:
  void ReadFromDevice();
  void WriteToDevice();
  void FactoryResetDevice();
  void SaveToFile();
  void LoadFromFile();
  // "Exit": gives the port back, then closes.
  void Exit();
  // Escape and the window's close button: the same as "Exit".
  void reject() override;

 private:
  struct Box {
    EditorField field;  // as on every family but 7
    QLineEdit* edit;
  };

  void BuildWindow();
  QLineEdit* AddBox(EditorField field);
  // The field a box shows on the current family.
  EditorField Bound(EditorField field) const;
  void ApplyFamilyRules();
  void BoxesToForm();
  void FormToBoxes();
  // After a decode: the counter's points reach the application's conversion table.
  void Decoded();
  void SetBusy(bool busy);
  void RunTransfer(std::function<TransferOutcome()> work, std::function<void(TransferOutcome)> after);
  void CloseEditor(int result);
  void AppendLog(const QString& line);
  std::optional<ConfigFileChoice> AskFile(ConfigFileAction action);

  AppContext& ctx_;
  DeviceWorker& worker_;
  QtNotifier& notifier_;
  ConfigFileChooser chooser_;
  int family_;

  std::vector<Box> boxes_;
  QLabel* swivel_label_ = nullptr;
  QPlainTextEdit* log_box_ = nullptr;
  QProgressBar* progress_bar_ = nullptr;
  QLabel* progress_text_ = nullptr;
  QPushButton* read_button_ = nullptr;
  QPushButton* write_button_ = nullptr;
  QPushButton* reset_button_ = nullptr;
  QPushButton* save_button_ = nullptr;
  QPushButton* load_button_ = nullptr;
  QPushButton* exit_button_ = nullptr;

  std::unique_ptr<UserNotifier> log_notifier_;
  std::unique_ptr<TransferProgress> progress_;
  ConfigBlock block_{};
  ConversionTable conversion_;
  ConfigEditor editor_;
  EditorPort port_;
  ConfigTransfer transfer_;

  int jobs_ = 0;
  bool destroying_ = false;
  bool close_pending_ = false;
  int pending_result_ = Rejected;
  // The receiving task has run since the dialog opened, so closing must stop it.
  bool port_used_ = false;
  // A read, reset or file load filled the block: only then may it be written to the counter.
  bool have_block_ = false;
};

}  // namespace norvane
