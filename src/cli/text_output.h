// Text helpers the CLI commands share: escaped device text for terminals, and JSON output.
#pragma once

#include <iosfwd>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

namespace norvane::cli {

// Keys stay in the order they are set, the order the text output uses.
using Json = nlohmann::ordered_json;

// Bytes outside printable ASCII as \xNN, a backslash doubled.
std::string Printable(std::string_view text);
// Device text as a JSON string; bytes outside ASCII read as Latin-1 code points, so whatever a
// counter sends can be shown.
Json JsonText(std::string_view text);
// The shortest text that reads back as the same double, whatever the locale.
std::string ExactNumber(double value);
// One JSON document on a line of its own. Numbers that are not finite come out as null.
void PrintJson(std::ostream& out, const Json& document);

}  // namespace norvane::cli
