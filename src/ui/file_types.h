// The type lists of the file dialogs in the window's language, and the type the user chose.
#pragma once

#include <QString>
#include <QStringList>
#include <string>
#include <string_view>
#include <vector>

#include "core/files/file_filters.h"
#include "core/i18n/language_dictionary.h"

namespace norvane {

// The dialog shows the types in the dictionary's language; the savers decide by the chosen type's
// place in the list, so a translated name never changes what gets written.
class FileTypes {
 public:
  FileTypes(std::string_view filter, const LanguageDictionary& texts);

  // The dialog's name filters, in the list's order.
  const QStringList& shown() const { return shown_; }
  // The type of a shown filter; the first type when `selected` is none of them.
  const FileTypeItem& Chosen(const QString& selected) const;
  // The chosen type's English description in lower case: the type text the savers read.
  std::string TypeText(const QString& selected) const;
  // `path` with the chosen type's first ending when it has no ending of its own.
  QString WithEnding(const QString& path, const QString& selected) const;

 private:
  std::vector<FileTypeItem> items_;
  QStringList shown_;
};

}  // namespace norvane
