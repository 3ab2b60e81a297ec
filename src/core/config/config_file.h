// Configuration files: the first 512 bytes of the block as raw bytes or as one line of numbers.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "core/common/user_notifier.h"
#include "core/config/config_block.h"

namespace norvane {

enum class ConfigFileFormat { kBinary, kCsv };

// The save dialog's file-type text (lower case) decides: ".csv" after its first character means
// CSV, anything else binary.
ConfigFileFormat FormatFromTypeText(std::string_view type_text);

// Every ".bin" (".csv") removed from the path, then one appended: "cfg.bin.bin" saves as "cfg.bin".
std::string ConfigFileName(ConfigFileFormat format, std::string_view path);

// The CSV text: each of the 512 bytes as a signed value followed by a comma, then "\r\n".
std::string ConfigCsvText(const ConfigBlock& block);

// Writes the file named by ConfigFileName, whole or not at all. Says "Configuration Saved." or
// "Error creating file" (with the system's reason on the status log). Returns the path written,
// empty on failure.
std::string SaveConfigFile(const ConfigBlock& block, ConfigFileFormat format, std::string_view path,
                           UserNotifier& notifier);

// Reads a ".bin" file (up to 512 bytes from address 0) or a text file of comma-ended values into
// the block; bytes the file does not reach keep what they held. The file is only read, so a
// read-only file loads. False after "Failed to open the file.".
bool LoadConfigFile(const std::filesystem::path& path, ConfigBlock& block, UserNotifier& notifier);

// The text rule alone: values up to the first empty field or the last comma, low 8 bits each.
// Returns how many bytes were stored.
size_t LoadConfigText(std::string_view text, ConfigBlock& block);

}  // namespace norvane
