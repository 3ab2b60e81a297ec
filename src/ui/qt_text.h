// The program's texts (UTF-8 std::string) as Qt strings.
#pragma once

#include <QString>
#include <string_view>

namespace norvane {

inline QString ToQString(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace norvane
