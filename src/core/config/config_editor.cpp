#include "core/config/config_editor.h"

#include "core/config/calibration.h"

namespace norvane {

void ConfigEditor::Decode(int family) {
  DecodeValues(block_, family, values_);
  form_ = ShowValues(values_);
  UpdateConversionTable(values_, conversion_);
  notifier_.Status(kCalibrationUpdatedLine);
}

bool ConfigEditor::Encode(int family) {
  if (const std::optional<TextTooLong> problem = ParseForm(form_, family, values_)) {
    notifier_.Message(problem->message, "Configuration");
    return false;
  }
  EncodeValues(values_, family, block_);
  return true;
}

std::string ConfigEditor::SaveToFile(int family, std::string_view path, ConfigFileFormat format) {
  if (path.empty() || !Encode(family)) return {};
  return SaveConfigFile(block_, format, path, notifier_);
}

bool ConfigEditor::LoadFromFile(int family, const std::filesystem::path& path) {
  if (path.empty() || !LoadConfigFile(path, block_, notifier_)) return false;
  Decode(family);
  return true;
}

}  // namespace norvane
