// The configuration editor's logic without its window: block, working values and field texts.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "core/common/user_notifier.h"
#include "core/config/config_block.h"
#include "core/config/config_file.h"
#include "core/config/config_values.h"
#include "core/config/editor_form.h"
#include "core/common/dose_conversion.h"

namespace norvane {

// The block and the conversion table are the application's; the editor borrows them. Its log
// box is the notifier's status log.
class ConfigEditor {
 public:
  ConfigEditor(ConfigBlock& block, ConversionTable& conversion, UserNotifier& notifier)
      : block_(block), conversion_(conversion), notifier_(notifier) {}

  // Block -> working values -> boxes, then the counter's points 1-3 into the conversion table
  // and "Main calibration 1,2,3 have been updated." on the log.
  void Decode(int family);
  // Boxes -> working values -> block. A text too long for its field is refused with a message
  // naming the field and its limit; then nothing changes and the result is false.
  bool Encode(int family);

  // "Save CFG To File": encode, then write the file the type text asks for. Returns the path
  // written, empty when nothing was saved.
  std::string SaveToFile(int family, std::string_view path, ConfigFileFormat format);
  // "Load CFG From File": read the file into the block and decode it as a read would.
  bool LoadFromFile(int family, const std::filesystem::path& path);

  ConfigForm& form() { return form_; }
  const ConfigForm& form() const { return form_; }
  const ConfigValues& values() const { return values_; }
  ConfigBlock& block() { return block_; }
  const ConversionTable& conversion() const { return conversion_; }
  UserNotifier& notifier() { return notifier_; }

 private:
  ConfigBlock& block_;
  ConversionTable& conversion_;
  UserNotifier& notifier_;
  ConfigValues values_;
  ConfigForm form_ = ShowValues(values_);
};

}  // namespace norvane
