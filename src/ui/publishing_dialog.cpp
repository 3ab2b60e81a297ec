#include "ui/publishing_dialog.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QThread>
#include <QVBoxLayout>

#include "core/i18n/window_texts.h"
#include "core/publish/mqtt_check.h"
#include "core/publish/mqtt_password.h"
#include "core/settings/settings_store.h"
#include "ui/app_context.h"
#include "ui/captions.h"
#include "ui/file_types.h"
#include "ui/qt_text.h"

namespace norvane {
namespace {

std::string ReadSetting(SettingsStore& store, const char* name) {
  std::string text;
  RegistryKey& key = store.Key();
  key.OpenNamed(kSettingsKey);
  key.ReadText(name, text);
  key.Close();
  return text;
}

uint32_t ReadNumberSetting(SettingsStore& store, const char* name, uint32_t fallback) {
  RegistryKey& key = store.Key();
  key.OpenNamed(kSettingsKey);
  key.ReadNumber(name, fallback);
  key.Close();
  return fallback;
}

}  // namespace

PublishingDialog::PublishingDialog(SettingsStore& store, std::filesystem::path password_file,
                                   const LanguageDictionary& texts, QWidget* parent)
    : QDialog(parent), store_(store), texts_(texts), password_file_(std::move(password_file)) {
  auto text = [this](int entry) { return ToQString(texts_.GetText(entry)); };
  setWindowTitle(text(219));
  address_ = new QLineEdit;
  address_->setPlaceholderText(text(220));
  // The example addresses are the field's help: room for all of them, in any language.
  address_->setMinimumWidth(address_->fontMetrics().horizontalAdvance(address_->placeholderText()) + 24);
  user_ = new QLineEdit;
  password_ = new QLineEdit;
  password_->setEchoMode(QLineEdit::Password);
  ca_file_ = new QLineEdit;
  ca_file_->setPlaceholderText(text(221));
  auto* browse = new QPushButton(text(222));
  prefix_ = new QLineEdit;
  every_ = new QSpinBox;
  every_->setRange(1, 3600);
  every_->setSuffix(" s");
  metrics_ = new QLineEdit;
  metrics_->setPlaceholderText(text(223));
  test_ = new QPushButton(text(224));
  result_ = new QLabel;
  result_->setWordWrap(true);
  result_->setTextInteractionFlags(Qt::TextSelectableByMouse);

  // The settings hold the user inside the address; the page shows the two apart.
  const std::string url = ReadSetting(store_, kMqttUrlSetting);
  if (const std::optional<publish::MqttTarget> target = publish::ParseMqttUrl(url, nullptr)) {
    address_->setText(ToQString((target->tls ? "mqtts://" : "mqtt://") + target->host + ":" +
                                std::to_string(target->port) + "/" + target->prefix));
    user_->setText(ToQString(target->user));
  } else {
    address_->setText(ToQString(publish::RedactMqttUrl(url)));
  }
  stored_password_file_ = ReadSetting(store_, kMqttPasswordFileSetting);
  password_->setPlaceholderText(text(stored_password_file_.empty() ? 225 : 226));
  ca_file_->setText(ToQString(ReadSetting(store_, kMqttCaFileSetting)));
  const std::string prefix = ReadSetting(store_, kMqttDiscoveryPrefixSetting);
  prefix_->setText(ToQString(prefix.empty() ? std::string(publish::kDefaultDiscoveryPrefix) : prefix));
  every_->setValue(static_cast<int>(ReadNumberSetting(store_, kMqttEverySetting, 1)));
  metrics_->setText(ToQString(ReadSetting(store_, kMetricsAddressSetting)));

  auto* form = new QFormLayout;
  form->addRow(text(227), address_);
  form->addRow(text(228), user_);
  form->addRow(text(229), password_);
  auto* ca_row = new QHBoxLayout;
  ca_row->addWidget(ca_file_, 1);
  ca_row->addWidget(browse);
  // A row of its own layout gets no buddy from the form: without one the label shows its "&".
  auto* ca_label = new QLabel(text(230));
  ca_label->setBuddy(ca_file_);
  form->addRow(ca_label, ca_row);
  form->addRow(text(231), prefix_);
  form->addRow(text(232), every_);
  form->addRow(text(233), metrics_);
  auto* test_row = new QHBoxLayout;
  test_row->addWidget(test_);
  test_row->addWidget(result_, 1);
  auto* buttons = OkCancelButtons(texts_, nullptr);
  auto* note = new QLabel(text(kTextPublishingAppliesOnOk));
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addLayout(test_row);
  layout->addWidget(note);
  layout->addWidget(buttons);
  setMinimumWidth(520);

  connect(browse, &QPushButton::clicked, this, [this] {
    const FileTypes types("Certificates|*.pem;*.crt|All Files|*|", texts_);
    const QString file = QFileDialog::getOpenFileName(this, ToQString(texts_.GetText(235)), ca_file_->text(),
                                                      types.shown().join(";;"));
    if (!file.isEmpty()) ca_file_->setText(file);
  });
  connect(test_, &QPushButton::clicked, this, [this] { Test(); });
  connect(buttons, &QDialogButtonBox::accepted, this, &PublishingDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &PublishingDialog::reject);
}

PublishingDialog::~PublishingDialog() {
  if (trial_) trial_->wait();
}

std::string PublishingDialog::ComposedUrl(std::string* error) const {
  const std::string address = address_->text().trimmed().toStdString();
  if (address.empty()) return {};
  const std::optional<publish::MqttTarget> target = publish::ParseMqttUrl(address, error);
  if (!target) return {};
  const std::string user = user_->text().trimmed().toStdString();
  return (target->tls ? "mqtts://" : "mqtt://") + (user.empty() ? "" : user + "@") + target->host + ":" +
         std::to_string(target->port) + "/" + target->prefix;
}

void PublishingDialog::Test() {
  if (trial_) return;
  std::string error;
  const std::string url = ComposedUrl(&error);
  if (url.empty()) {
    result_->setText(ToQString(error.empty() ? texts_.GetText(236) : texts_.TranslatedLine(error)));
    return;
  }
  std::optional<publish::MqttTarget> target = publish::ParseMqttUrl(url, nullptr);
  target->password = password_->text().toStdString();
  if (target->password.empty() && !stored_password_file_.empty()) {
    publish::PublishingOptions kept;
    kept.mqtt_url = url;
    kept.mqtt_password_file = stored_password_file_;
    if (auto problem = publish::ResolveMqttPassword(kept, [](const char*) -> const char* { return nullptr; })) {
      result_->setText(ToQString(texts_.TranslatedLine(*problem)));
      return;
    }
    target->password = kept.mqtt_password;
  }
  result_->setText(ToQString(texts_.GetText(237)));
  test_->setEnabled(false);
  const std::string ca_file = ca_file_->text().trimmed().toStdString();
  QPointer<PublishingDialog> self(this);
  trial_ = QThread::create([self, target = *target, ca_file] {
    const publish::MqttCheck check =
        publish::CheckMqttBroker(target, ca_file, std::chrono::milliseconds(kTestTimeoutMs));
    QMetaObject::invokeMethod(qApp, [self, check] {
      if (!self) return;
      self->result_->setText(ToQString(self->texts_.TranslatedLine(check.text)));
      self->test_->setEnabled(true);
    }, Qt::QueuedConnection);
  });
  connect(trial_, &QThread::finished, trial_, &QObject::deleteLater);
  trial_->start();
}

void PublishingDialog::accept() {
  std::string error;
  const std::string url = ComposedUrl(&error);
  if (!error.empty()) {
    result_->setText(ToQString(texts_.TranslatedLine(error)));
    return;
  }
  const std::string password = password_->text().toStdString();
  if (!password.empty()) {
    if (auto problem = publish::StoreMqttPassword(password_file_, password)) {
      result_->setText(ToQString(texts_.TranslatedLine(*problem)));
      return;
    }
    store_.StoreText(kMqttPasswordFileSetting, password_file_.string());
  }
  store_.StoreText(kMqttUrlSetting, url);
  store_.StoreText(kMqttCaFileSetting, ca_file_->text().trimmed().toStdString());
  store_.StoreText(kMqttDiscoveryPrefixSetting, prefix_->text().trimmed().toStdString());
  store_.StoreNumber(kMqttEverySetting, static_cast<uint32_t>(every_->value()));
  store_.StoreText(kMetricsAddressSetting, metrics_->text().trimmed().toStdString());
  QDialog::accept();
}

}  // namespace norvane
