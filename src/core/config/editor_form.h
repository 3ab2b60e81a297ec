// The editor's fields as texts: what the dialog shows, and reading them back into values.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "core/config/config_values.h"

namespace norvane {

// One text per working value, indexed by EditorField. The dialog binds its boxes to these.
struct ConfigForm {
  std::array<std::string, kEditorFieldCount> text;
  std::string& operator[](EditorField f) { return text[Index(f)]; }
  const std::string& operator[](EditorField f) const { return text[Index(f)]; }
};

// Integers as "%d", the uSv/h alarm as "%.2lf", calibration uSv/h as "%.02lf", texts up to
// their first NUL.
ConfigForm ShowValues(const ConfigValues& values);

// Why a form cannot be encoded: a text longer than its place in the block.
struct TextTooLong {
  EditorField field;
  size_t length;
  size_t limit;
  std::string message;
};

// Reads every box into its working value: integers as atoi does, uSv/h as atof does narrowed to
// single precision, texts copied with their NUL so the bytes after it keep what the last decode
// left. A text that does not fit changes nothing at all and is reported instead.
std::optional<TextTooLong> ParseForm(const ConfigForm& form, int family, ConfigValues& values);

// The names the command line and JSON use: "alarm", "cpm_alarm", "cal1_cpm", "ssid"...
std::string_view FieldKey(EditorField field);
// The field a name stands for on this family: "swivel" is the vibrate switch on family 7.
std::optional<EditorField> FieldForKey(std::string_view key, int family);
// The box's caption, for messages ("SSID", "uSv/h Alarm", "#3 CPM").
std::string FieldLabel(EditorField field);

}  // namespace norvane
