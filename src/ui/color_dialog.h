// The "Color" dialog: the date and reading colours and the CSV separator choice.
#pragma once

#include <QColor>
#include <QDialog>
#include <cstdint>
#include <functional>
#include <optional>

#include "core/i18n/language_dictionary.h"

class QCheckBox;
class QPushButton;
class QRadioButton;

namespace norvane {

// Two swatches: the date colour on the left, the reading colour on the right.
class ColourPreview : public QWidget {
 public:
  explicit ColourPreview(QWidget* parent = nullptr);
  void SetColours(const QColor& date, const QColor& reading);
  QSize sizeHint() const override { return {120, 24}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QColor date_;
  QColor reading_;
};

// Colours are 0x00BBGGRR as the settings keep them. The caller reads the choices back after
// exec() returns Accepted and stores them; after Cancel they are the values it started with.
class ColorDialog : public QDialog {
  Q_OBJECT
 public:
  // The colour chooser: the chosen colour, or nothing when the user cancels it.
  using ColourChooser = std::function<std::optional<QColor>(QColor initial)>;

  ColorDialog(uint32_t date_colour, uint32_t reading_colour, bool semicolon, const LanguageDictionary& texts,
              QWidget* parent = nullptr);

  // Replaces the system's colour dialog, so tests need no modal chooser.
  void set_colour_chooser(ColourChooser chooser) { chooser_ = std::move(chooser); }

  uint32_t date_colour() const { return date_colour_; }
  uint32_t reading_colour() const { return reading_colour_; }
  bool semicolon() const;

  QRadioButton* date_button() const { return date_button_; }
  QRadioButton* reading_button() const { return reading_button_; }
  QPushButton* colour_button() const { return colour_button_; }
  QCheckBox* semicolon_box() const { return semicolon_box_; }
  ColourPreview* preview() const { return preview_; }

  void reject() override;

 private:
  void ChooseColour();

  const uint32_t initial_date_;
  const uint32_t initial_reading_;
  const bool initial_semicolon_;
  uint32_t date_colour_;
  uint32_t reading_colour_;
  ColourChooser chooser_;
  QRadioButton* date_button_;
  QRadioButton* reading_button_;
  QPushButton* colour_button_;
  QCheckBox* semicolon_box_;
  ColourPreview* preview_;
};

}  // namespace norvane
