#include "ui/file_types.h"

#include <QFileInfo>

#include "core/files/file_naming.h"
#include "ui/qt_text.h"

namespace norvane {
namespace {

// Qt reads a filter's patterns from its last parentheses, separated by spaces, so a description
// whose parentheses hold words ("Both Files (BIN and CSV)") gets the pattern appended.
QString ShownItem(const FileTypeItem& item, const LanguageDictionary& texts) {
  const std::string suffix = "(" + item.pattern + ")";
  std::string description = item.description;
  if (description.ends_with(suffix)) description.resize(description.size() - suffix.size());
  while (description.ends_with(' ')) description.pop_back();
  return ToQString(texts.Translated(description)) + " (" + ToQString(item.pattern).replace(';', ' ') + ")";
}

}  // namespace

FileTypes::FileTypes(std::string_view filter, const LanguageDictionary& texts) : items_(ParseFileFilter(filter)) {
  for (const FileTypeItem& item : items_) shown_ << ShownItem(item, texts);
}

const FileTypeItem& FileTypes::Chosen(const QString& selected) const {
  const qsizetype at = shown_.indexOf(selected);
  return items_[static_cast<size_t>(std::max<qsizetype>(at, 0))];
}

std::string FileTypes::TypeText(const QString& selected) const {
  return items_.empty() ? std::string() : LowerAscii(Chosen(selected).description);
}

QString FileTypes::WithEnding(const QString& path, const QString& selected) const {
  if (items_.empty() || !QFileInfo(path).suffix().isEmpty()) return path;
  // "*.html;*.htm": the first ending; "*.*" names none.
  const QString pattern = ToQString(Chosen(selected).pattern).section(';', 0, 0);
  return pattern.startsWith("*.") && pattern != "*.*" ? path + pattern.mid(1) : path;
}

}  // namespace norvane
