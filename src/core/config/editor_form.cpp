#include "core/config/editor_form.h"

#include <algorithm>

#include "core/common/text_format.h"
#include "core/config/c_number.h"
#include "core/i18n/language_dictionary.h"
#include "core/i18n/window_texts.h"

namespace norvane {
namespace {

constexpr std::string_view kKeys[kEditorFieldCount] = {
    "alarm", "speaker", "backlight", "backlight_level", "swivel", "vibrate", "led", "save_type",
    "cpm_alarm", "period", "tube_select", "dead_time", "dead_time_1", "dead_time_2", "medium_cpm", "high_cpm",
    "cal1_cpm", "cal2_cpm", "cal3_cpm", "cal4_cpm", "cal5_cpm", "cal6_cpm",
    "usv_alarm", "cal1_usv", "cal2_usv", "cal3_usv", "cal4_usv", "cal5_usv", "cal6_usv",
    "ssid", "password", "website", "url", "user_id", "counter_id"};

constexpr std::string_view kLabels[kEditorFieldCount] = {
    "Alarm", "Speaker", "Backlight", "Backlight", "Swivel", "Vibrate", "LED", "Save Type",
    "CPM Alarm", "Period", "Tube Select", "Dead Time", "Dead Time #1", "Dead Time #2", "Medium CPM", "High CPM",
    "#1 CPM", "#2 CPM", "#3 CPM", "#4 CPM", "#5 CPM", "#6 CPM",
    "uSv/h Alarm", "#1 uSv/h", "#2 uSv/h", "#3 uSv/h", "#4 uSv/h", "#5 uSv/h", "#6 uSv/h",
    "SSID", "Password", "Website", "URL", "User ID", "Counter ID"};

}  // namespace

ConfigForm ShowValues(const ConfigValues& values) {
  ConfigForm form;
  for (size_t i = 0; i < kEditorFieldCount; ++i) {
    const auto f = static_cast<EditorField>(i);
    if (IsTextField(f)) form[f] = std::string(values.text(f));
    else if (IsFloatField(f)) form[f] = FormatFixed(values.real(f), 2);  // "%.2lf" and "%.02lf" alike
    else form[f] = Format("%d", values.integer(f));
  }
  return form;
}

std::optional<TextTooLong> ParseForm(const ConfigForm& form, int family, ConfigValues& values) {
  // All texts are checked before anything changes, so a refused form leaves the values whole.
  for (size_t i = kFirstTextField; i < kEditorFieldCount; ++i) {
    const auto f = static_cast<EditorField>(i);
    const std::string& text = form[f];
    // The field's room in this family's block, or just the buffer when the family has no such field.
    const size_t stored = TextLimit(family, f);
    const size_t limit = stored ? stored : TextBufferSize(f) - 1;
    const size_t length = std::min(text.find('\0'), text.size());
    if (length > limit)
      return TextTooLong{f, length, limit,
                         EnglishText(kTextMsgConfigTextTooLong,
                                     {FieldLabel(f), std::to_string(length), std::to_string(limit)})};
  }
  for (size_t i = 0; i < kEditorFieldCount; ++i) {
    const auto f = static_cast<EditorField>(i);
    const std::string& text = form[f];
    if (IsTextField(f)) {
      const std::span<uint8_t> buffer = values.text_buffer(f);
      const size_t length = std::min(text.find('\0'), text.size());
      std::copy_n(text.begin(), length, buffer.begin());
      if (length < buffer.size()) buffer[length] = 0;
    } else if (IsFloatField(f)) {
      values.real(f) = ParseFloatField(text);
    } else {
      values.integer(f) = ParseIntegerField(text);
    }
  }
  return std::nullopt;
}

std::string_view FieldKey(EditorField field) { return kKeys[Index(field)]; }

std::optional<EditorField> FieldForKey(std::string_view key, int family) {
  const auto it = std::find(std::begin(kKeys), std::end(kKeys), key);
  if (it == std::end(kKeys)) return std::nullopt;
  const auto field = static_cast<EditorField>(it - std::begin(kKeys));
  // Family 7's "Swivel" box holds its vibrate switch.
  if (family == 7 && field == EditorField::kSwivel) return EditorField::kVibrate;
  return field;
}

std::string FieldLabel(EditorField field) { return std::string(kLabels[Index(field)]); }

}  // namespace norvane
