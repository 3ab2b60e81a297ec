#include "ui/download_dialogs.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QVBoxLayout>
#include <algorithm>
#include <limits>

#include "ui/captions.h"

namespace norvane {
namespace {

constexpr int kMaxSpeed = 100;
constexpr int kShownWhenOutOfRange = 50;

// QProgressBar counts in int; every image fits, but keep an absurd size from wrapping.
int BarValue(uint32_t value) {
  return static_cast<int>(std::min<uint32_t>(value, static_cast<uint32_t>(std::numeric_limits<int>::max())));
}

}  // namespace

DownloadOptionsDialog::DownloadOptionsDialog(const DownloadOptions& options, const LanguageDictionary& texts, QWidget* parent,
                                             bool last_download_kept)
    : QDialog(parent),
      end_of_data_button_(new QRadioButton(ToQString(texts.GetText(174)), this)),
      entire_flash_button_(new QRadioButton(ToQString(texts.GetText(175)), this)),
      // The three are one choice: a download of new data only cannot also be one of the whole flash.
      only_new_button_(new QRadioButton(ToQString(texts.GetText(176)), this)),
      end_mode_(options.end_mode),
      speed_slider_(new QSlider(Qt::Horizontal, this)),
      speed_label_(new QLabel(this)) {
  setWindowTitle(ToQString(texts.GetText(177)));
  (options.end_mode == 1 ? entire_flash_button_ : end_of_data_button_)->setChecked(true);
  // A daily refresh takes seconds this way; without a kept download there is nothing to go on.
  only_new_button_->setEnabled(last_download_kept);
  if (last_download_kept) only_new_button_->setChecked(true);

  speed_slider_->setRange(0, kMaxSpeed);
  speed_slider_->setPageStep(10);
  const int speed = options.speed < 0 || options.speed > kMaxSpeed ? kShownWhenOutOfRange : options.speed;
  speed_slider_->setValue(speed);
  ShowSpeed(speed);
  connect(speed_slider_, &QSlider::valueChanged, this, &DownloadOptionsDialog::ShowSpeed);

  auto* speed_row = new QHBoxLayout;
  speed_row->addWidget(new QLabel(ToQString(texts.GetText(178)), this));
  speed_row->addWidget(speed_slider_, 1);
  speed_row->addWidget(speed_label_);

  auto* buttons = OkCancelButtons(texts, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(end_of_data_button_);
  layout->addWidget(entire_flash_button_);
  layout->addWidget(only_new_button_);
  layout->addLayout(speed_row);
  layout->addWidget(new QLabel(ToQString(texts.GetText(179)), this));
  layout->addWidget(buttons);
}

DownloadOptions DownloadOptionsDialog::options() const {
  DownloadOptions chosen;
  chosen.only_new = only_new_button_->isEnabled() && only_new_button_->isChecked();
  chosen.end_mode = chosen.only_new ? end_mode_ : entire_flash_button_->isChecked() ? 1 : 0;
  chosen.speed = speed_slider_->value();
  return chosen;
}

void DownloadOptionsDialog::ShowSpeed(int speed) { speed_label_->setText(QString::asprintf("%d%%", speed)); }

DownloadProgressWindow::DownloadProgressWindow(QWidget* parent, SteadyNow now)
    : QDialog(parent),
      now_(now ? std::move(now) : SteadyNow([] { return std::chrono::steady_clock::now(); })),
      bar_(new QProgressBar(this)),
      detail_(new QLabel(this)),
      cancel_button_(new QPushButton(QStringLiteral("Cancel"), this)) {
  setModal(false);
  setWindowTitle(Shown(kDownloadProgressCaption));
  bar_->setRange(0, 0);
  bar_->setValue(0);
  bar_->setMinimumWidth(360);
  connect(cancel_button_, &QPushButton::clicked, this, &DownloadProgressWindow::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(bar_);
  auto* row = new QHBoxLayout;
  row->addWidget(detail_, 1);
  row->addWidget(cancel_button_);
  layout->addLayout(row);
}

void DownloadProgressWindow::UseTexts(const LanguageDictionary& texts) {
  texts_ = &texts;
  cancel_button_->setText(ToQString(texts.GetText(3)));
  if (!last_title_) setWindowTitle(Shown(kDownloadProgressCaption));
}

QString DownloadProgressWindow::Shown(const std::string& english) const {
  return ToQString(texts_ ? texts_->TranslatedLine(english) : english);
}

void DownloadProgressWindow::Start(uint32_t image_size) {
  last_title_.reset();
  started_ = now_();
  Progressed(0, image_size);
}

void DownloadProgressWindow::Progressed(uint32_t address, uint32_t image_size) {
  cancel_button_->setEnabled(address < image_size);

  // The bar and the title move together and show the same percentage: a bar ahead of its
  // title reads as two different answers. The whole image is shown at once.
  const auto now = now_();
  if (last_title_ && address < image_size && now - *last_title_ < kTitleInterval) return;
  last_title_ = now;
  if (bar_->maximum() != BarValue(image_size)) bar_->setRange(0, BarValue(image_size));
  bar_->setValue(BarValue(std::min(address, image_size)));
  detail_->setText(Shown(DownloadProgressDetail(address, image_size,
                                               std::chrono::duration_cast<std::chrono::milliseconds>(now - started_))));
  const QString title = Shown(DownloadProgressTitle(kDownloadProgressCaption, address, image_size));
  setWindowTitle(title);
  const qsizetype open = title.lastIndexOf('(');
  bar_->setFormat(open < 0 ? QStringLiteral("%p%") : title.mid(open + 1).chopped(1));
}

void DownloadProgressWindow::DownloadProgressed(uint32_t address, uint32_t image_size) {
  // Posted with this window as context: Qt drops the call if the window is gone by then.
  QMetaObject::invokeMethod(this, [this, address, image_size] { Progressed(address, image_size); }, Qt::AutoConnection);
}

void DownloadProgressWindow::reject() {
  // Once the whole image is in, there is nothing left to cancel; the window only closes.
  if (cancel_button_->isEnabled()) emit cancelRequested();
  QDialog::reject();
}

}  // namespace norvane
