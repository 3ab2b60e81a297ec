// The "Publishing" settings: the MQTT broker (address, user, password, CA), Home Assistant's
// discovery prefix, the state interval and the /metrics address, with a trial connection.
#pragma once

#include <QDialog>
#include <QPointer>
#include <filesystem>

class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace norvane {

class LanguageDictionary;
class SettingsStore;

// The password goes where the logging service reads it, a file only its owner can read; the
// settings keep the file's name. It is never shown again: the box stays empty, and leaving it
// empty keeps the stored one. The window applies these settings when OK is pressed.
class PublishingDialog : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kTestTimeoutMs = 5000;

  // `password_file`: where a password typed here is kept.
  PublishingDialog(SettingsStore& store, std::filesystem::path password_file, const LanguageDictionary& texts,
                   QWidget* parent = nullptr);
  ~PublishingDialog() override;

  QLineEdit* address_edit() const { return address_; }
  QLineEdit* user_edit() const { return user_; }
  QLineEdit* password_edit() const { return password_; }
  QLineEdit* ca_edit() const { return ca_file_; }
  QLineEdit* prefix_edit() const { return prefix_; }
  QSpinBox* every_box() const { return every_; }
  QLineEdit* metrics_edit() const { return metrics_; }
  QPushButton* test_button() const { return test_; }
  QLabel* result_label() const { return result_; }

  void accept() override;

 private:
  // The address with the user in it and never a password; empty when the address is.
  std::string ComposedUrl(std::string* error) const;
  void Test();

  SettingsStore& store_;
  const LanguageDictionary& texts_;
  std::filesystem::path password_file_;
  std::filesystem::path stored_password_file_;  // the one the settings name now
  QLineEdit* address_ = nullptr;
  QLineEdit* user_ = nullptr;
  QLineEdit* password_ = nullptr;
  QLineEdit* ca_file_ = nullptr;
  QLineEdit* prefix_ = nullptr;
  QSpinBox* every_ = nullptr;
  QLineEdit* metrics_ = nullptr;
  QPushButton* test_ = nullptr;
  QLabel* result_ = nullptr;
  QPointer<QThread> trial_;
};

}  // namespace norvane
