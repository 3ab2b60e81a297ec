#include "ui/color_dialog.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "ui/captions.h"
#include "ui/colour_ref.h"

namespace norvane {

ColourPreview::ColourPreview(QWidget* parent) : QWidget(parent) { setMinimumSize(60, 16); }

void ColourPreview::SetColours(const QColor& date, const QColor& reading) {
  date_ = date;
  reading_ = reading;
  update();
}

void ColourPreview::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const int half = width() / 2;
  painter.fillRect(QRect(0, 0, half, height()), date_);
  painter.fillRect(QRect(half, 0, width() - half, height()), reading_);
}

ColorDialog::ColorDialog(uint32_t date_colour, uint32_t reading_colour, bool semicolon,
                         const LanguageDictionary& texts, QWidget* parent)
    : QDialog(parent),
      initial_date_(date_colour),
      initial_reading_(reading_colour),
      initial_semicolon_(semicolon),
      date_colour_(date_colour),
      reading_colour_(reading_colour),
      date_button_(new QRadioButton(ToQString(texts.GetText(49)), this)),
      reading_button_(new QRadioButton(ToQString(texts.GetText(36)), this)),
      colour_button_(new QPushButton(ToQString(texts.GetText(85)), this)),
      semicolon_box_(new QCheckBox(ToQString(texts.GetText(150)), this)),
      preview_(new ColourPreview(this)) {
  setWindowTitle(colour_button_->text());
  chooser_ = [this](QColor initial) -> std::optional<QColor> {
    const QColor chosen = QColorDialog::getColor(initial, this, windowTitle());
    if (!chosen.isValid()) return std::nullopt;
    return chosen;
  };

  date_button_->setChecked(true);
  semicolon_box_->setChecked(semicolon);
  preview_->SetColours(FromColourRef(date_colour_), FromColourRef(reading_colour_));

  auto* choice = new QHBoxLayout;
  choice->addWidget(date_button_);
  choice->addWidget(reading_button_);
  choice->addWidget(colour_button_);
  choice->addWidget(preview_, 1);

  auto* buttons = OkCancelButtons(texts, this);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(choice);
  layout->addWidget(semicolon_box_);
  layout->addWidget(buttons);

  connect(colour_button_, &QPushButton::clicked, this, &ColorDialog::ChooseColour);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

bool ColorDialog::semicolon() const { return semicolon_box_->isChecked(); }

void ColorDialog::ChooseColour() {
  uint32_t& target = reading_button_->isChecked() ? reading_colour_ : date_colour_;
  const std::optional<QColor> chosen = chooser_(FromColourRef(target));
  if (!chosen || !chosen->isValid()) return;
  target = ToColourRef(*chosen);
  preview_->SetColours(FromColourRef(date_colour_), FromColourRef(reading_colour_));
}

void ColorDialog::reject() {
  // Whoever reads the values after Cancel sees what it passed in.
  date_colour_ = initial_date_;
  reading_colour_ = initial_reading_;
  semicolon_box_->setChecked(initial_semicolon_);
  preview_->SetColours(FromColourRef(date_colour_), FromColourRef(reading_colour_));
  QDialog::reject();
}

}  // namespace norvane
