#include "ui/map_setup_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>
#include <chrono>
#include <memory>

#include "core/net/map_urls.h"
#include "ui/app_context.h"
#include "ui/captions.h"
#include "ui/device_worker.h"
#include "ui/qt_notifier.h"

namespace norvane {
namespace {

constexpr char kRegisterPage[] = "userRegister-x.asp";

QString FromStd(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

MapSetupDialog::MapSetupDialog(AppContext& ctx, DeviceWorker& worker, QtNotifier& notifier, QWidget* parent,
                               MapPoster post)
    : QDialog(parent),
      ctx_(ctx),
      worker_(worker),
      notifier_(notifier),
      post_(post ? std::move(post)
                 : MapPoster([](const std::string& url) {
                     return PostMapRequest(url, std::chrono::seconds(kVerifyTimeoutSeconds));
                   })),
      account_edit_(new QLineEdit(FromStd(ctx.settings.zqt_map_user_account_id), this)),
      counter_edit_(new QLineEdit(FromStd(ctx.settings.zqt_map_geiger_counter_id), this)),
      period_edit_(new QLineEdit(QString::number(ctx.settings.auto_submit_period), this)),
      server_edit_(new QLineEdit(FromStd(ctx.settings.zqt_map_server), this)),
      auto_submit_box_(new QCheckBox(ToQString(ctx.dictionary.GetText(180)), this)),
      verify_button_(new QPushButton(ToQString(ctx.dictionary.GetText(181)), this)),
      register_link_(new QLabel(this)) {
  setWindowTitle(QStringLiteral("ZQTmap"));
  auto_submit_box_->setChecked(ctx.settings.AutoSubmitOn());
  register_link_->setTextFormat(Qt::RichText);
  register_link_->setOpenExternalLinks(true);
  register_link_->setTextInteractionFlags(Qt::TextBrowserInteraction);
  ShowRegisterLink();
  connect(server_edit_, &QLineEdit::textChanged, this, &MapSetupDialog::ShowRegisterLink);
  // A verification holds for the IDs and the server it was made with.
  for (QLineEdit* edit : {account_edit_, counter_edit_, server_edit_})
    connect(edit, &QLineEdit::textChanged, this, [this] { verified_ = false; });

  auto* counter_row = new QHBoxLayout;
  counter_row->addWidget(counter_edit_, 1);
  counter_row->addWidget(new QLabel(ToQString(ctx.dictionary.GetText(182)), this));
  auto* form = new QFormLayout;
  form->addRow(ToQString(ctx.dictionary.GetText(183)), account_edit_);
  form->addRow(ToQString(ctx.dictionary.GetText(184)), counter_row);
  form->addRow(ToQString(ctx.dictionary.GetText(185)), server_edit_);

  auto* period_row = new QHBoxLayout;
  period_row->addWidget(auto_submit_box_);
  period_row->addWidget(period_edit_);
  period_row->addWidget(new QLabel(ToQString(ctx.dictionary.GetText(186)), this));
  period_row->addStretch(1);

  auto* verify_row = new QHBoxLayout;
  verify_row->addWidget(register_link_, 1);
  verify_row->addWidget(verify_button_);

  auto* buttons = OkCancelButtons(ctx.dictionary, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &MapSetupDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &MapSetupDialog::reject);
  connect(verify_button_, &QPushButton::clicked, this, &MapSetupDialog::Verify);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addLayout(period_row);
  layout->addLayout(verify_row);
  layout->addWidget(buttons);
}

std::string MapSetupDialog::Server() const {
  const std::string typed = server_edit_->text().trimmed().toStdString();
  return typed.empty() ? std::string(kDefaultMapServer) : typed;
}

QString MapSetupDialog::registration_url() const {
  std::string base = Server();
  if (base.back() != '/') base += '/';
  return FromStd(base + kRegisterPage);
}

void MapSetupDialog::ShowRegisterLink() {
  const QString url = registration_url();
  register_link_->setText(QStringLiteral("<a href=\"%1\">%2</a>").arg(url.toHtmlEscaped(), url.toHtmlEscaped()));
}

void MapSetupDialog::Verify() {
  const std::string account = account_edit_->text().toStdString();
  const std::string counter = counter_edit_->text().toStdString();
  const std::string server = Server();
  const std::string url = VerificationUrl(server, account, counter);
  auto outcome = std::make_shared<VerifyOutcome>();
  verify_button_->setEnabled(false);
  QPointer<MapSetupDialog> self(this);
  MapPoster post = post_;
  QtNotifier& notifier = notifier_;
  worker_.Run([url, post, outcome, &notifier] { *outcome = VerifyMapAccount(url, post, notifier); },
              [self, outcome, account, counter, server] {
                if (!self) return;
                self->verify_button_->setEnabled(true);
                // What was verified is what stood in the fields when "Verify" was pressed: IDs
                // edited since then are not verified.
                self->verified_ = outcome->verified && self->account_edit_->text().toStdString() == account &&
                                  self->counter_edit_->text().toStdString() == counter && self->Server() == server;
              });
}

void MapSetupDialog::accept() {
  const std::string server = Server();
  MapSetupForm form{account_edit_->text().toStdString(), counter_edit_->text().toStdString(),
                    period_edit_->text().trimmed().toStdString(), auto_submit_box_->isChecked()};
  const bool closes = ApplyMapSetup(form, verified_, ctx_.settings, ctx_.store, notifier_);
  ctx_.settings.zqt_map_server = server;
  ctx_.store.StoreText(setting_names::kZqtMapServer, server);
  auto_submit_box_->setChecked(form.auto_submit);
  if (closes) QDialog::accept();
}

}  // namespace norvane
