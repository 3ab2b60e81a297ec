#include "ui/qt_language.h"

#include <QCoreApplication>
#include <QLibraryInfo>

#include "ui/qt_text.h"

namespace norvane {

QLocale LanguageLocale(const LanguageDictionary& dictionary) {
  const QString name = ToQString(dictionary.LanguageName()).trimmed();
  if (name.isEmpty()) return QLocale(QLocale::English);
  for (const QLocale& locale : QLocale::matchingLocales(QLocale::AnyLanguage, QLocale::AnyScript, QLocale::AnyTerritory)) {
    if (locale.nativeLanguageName().compare(name, Qt::CaseInsensitive) != 0) continue;
    // The language's own country first ("de_DE", not "de_CH"), as a speaker expects its dates.
    return QLocale(locale.language());
  }
  return QLocale(QLocale::English);
}

QtTranslations::~QtTranslations() {
  if (translator_) QCoreApplication::removeTranslator(translator_.get());
}

bool QtTranslations::Use(const QLocale& locale) {
  if (translator_) QCoreApplication::removeTranslator(translator_.get());
  translator_.reset();
  if (locale.language() == QLocale::English) return true;
  auto translator = std::make_unique<QTranslator>();
  if (!translator->load(locale, "qtbase", "_", QLibraryInfo::path(QLibraryInfo::TranslationsPath))) return false;
  QCoreApplication::installTranslator(translator.get());
  translator_ = std::move(translator);
  return true;
}

}  // namespace norvane
