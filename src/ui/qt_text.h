// The program's texts (UTF-8 std::string) as Qt strings.
#pragma once

#include <QString>
#include <string_view>

namespace norvane {

inline QString ToQString(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// `text` with an Alt+key mnemonic: kept when it has one, else on the first `key` in it (either
// case), else on its first letter, so a translated caption keeps a mnemonic too.
inline QString WithMnemonic(QString text, QChar key) {
  if (text.contains('&')) return text;
  qsizetype at = text.indexOf(key, 0, Qt::CaseInsensitive);
  for (qsizetype i = 0; at < 0 && i < text.size(); ++i)
    if (text[i].isLetter()) at = i;
  if (at >= 0) text.insert(at, '&');
  return text;
}

// A caption as the user reads it, without its mnemonic marker.
inline QString PlainCaption(QString text) { return text.remove('&'); }

}  // namespace norvane
