// Qt's side of the chosen language: the locale its dates use and Qt's own translated words.
#pragma once

#include <QLocale>
#include <QTranslator>
#include <memory>

#include "core/i18n/language_dictionary.h"

namespace norvane {

// The locale whose language calls itself what the dictionary's name says ("Deutsch",
// "Français"); English for the built-in texts or a name no locale has.
QLocale LanguageLocale(const LanguageDictionary& dictionary);

// Qt's translations of its own dialogs ("Look in", "File name", "Save") for one language at a
// time, installed into the application while this object lives.
class QtTranslations {
 public:
  QtTranslations() = default;
  ~QtTranslations();
  QtTranslations(const QtTranslations&) = delete;
  QtTranslations& operator=(const QtTranslations&) = delete;

  // Replaces the last language's; English needs none. False when Qt's file for it is missing.
  bool Use(const QLocale& locale);

 private:
  std::unique_ptr<QTranslator> translator_;
};

}  // namespace norvane
