// Text helpers the CLI commands share: escaped device text for terminals and for JSON.
#pragma once

#include <string>
#include <string_view>

namespace norvane::cli {

// Bytes outside printable ASCII as \xNN, a backslash doubled.
std::string Printable(std::string_view text);
// A JSON string literal; bytes outside printable ASCII read as Latin-1 code points.
std::string JsonString(std::string_view text);

}  // namespace norvane::cli
