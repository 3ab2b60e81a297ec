#include "core/config/config_file.h"

#include <algorithm>
#include <cctype>

#include "core/common/text_format.h"
#include "core/config/c_number.h"
#include "core/platform/atomic_file.h"
#include "core/platform/file_read.h"

namespace norvane {
namespace {

// A configuration text is one short line; anything this long is not one, and is not read whole.
constexpr uint64_t kTextReadLimit = 16 * 1024 * 1024;

std::string RemoveAll(std::string text, std::string_view part) {
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at)) text.erase(at, part.size());
  return text;
}

bool EndsWithBin(const std::string& path) {
  if (path.size() < 4) return false;
  std::string tail = path.substr(path.size() - 4);
  std::transform(tail.begin(), tail.end(), tail.begin(), [](unsigned char c) { return std::tolower(c); });
  // Any case: a "CFG.BIN" read as text would fill the block with nonsense.
  return tail == ".bin";
}

}  // namespace

ConfigFileFormat FormatFromTypeText(std::string_view type_text) {
  const size_t at = type_text.find(".csv");
  return at != std::string_view::npos && at >= 1 ? ConfigFileFormat::kCsv : ConfigFileFormat::kBinary;
}

std::string ConfigFileName(ConfigFileFormat format, std::string_view path) {
  const std::string_view extension = format == ConfigFileFormat::kCsv ? ".csv" : ".bin";
  return RemoveAll(std::string(path), extension) + std::string(extension);
}

std::string ConfigCsvText(const ConfigBlock& block) {
  std::string out;
  out.reserve(kConfigFileSize * 5 + 2);
  for (size_t i = 0; i < kConfigFileSize; ++i) out += Format("%d,", static_cast<int>(static_cast<int8_t>(block[i])));
  return out + "\r\n";
}

std::string SaveConfigFile(const ConfigBlock& block, ConfigFileFormat format, std::string_view path,
                           UserNotifier& notifier) {
  const std::string name = ConfigFileName(format, path);
  const std::string bytes = format == ConfigFileFormat::kCsv
                                ? ConfigCsvText(block)
                                : std::string(reinterpret_cast<const char*>(block.data()), kConfigFileSize);
  std::string error;
  // The CSV is checked like the binary file: a failed write is never reported as saved.
  if (!AtomicWriteFile(name, bytes, &error)) {
    notifier.Message("Error creating file");
    notifier.Status(error);
    return {};
  }
  notifier.Message("Configuration Saved.");
  return name;
}

size_t LoadConfigText(std::string_view text, ConfigBlock& block) {
  size_t i = 0;
  for (size_t comma = text.find(','); comma != std::string_view::npos && comma >= 1 && i < kConfigFileSize;
       comma = text.find(',')) {
    block[i++] = static_cast<uint8_t>(ParseIntegerField(text.substr(0, comma)));
    text.remove_prefix(comma + 1);
  }
  return i;
}

bool LoadConfigFile(const std::filesystem::path& path, ConfigBlock& block, UserNotifier& notifier) {
  const bool binary = EndsWithBin(path.string());
  std::string error;
  const std::optional<FilePrefix> file = ReadFilePrefix(path, binary ? kConfigFileSize : kTextReadLimit, &error);
  if (!file) {
    notifier.Message("Failed to open the file.");
    notifier.Status(path.string() + ": " + error);
    return false;
  }
  if (binary) {
    std::copy(file->bytes.begin(), file->bytes.end(), block.begin());
  } else {
    LoadConfigText({reinterpret_cast<const char*>(file->bytes.data()), file->bytes.size()}, block);
  }
  return true;
}

}  // namespace norvane
