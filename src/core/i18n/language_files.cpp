#include "core/i18n/language_files.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <set>
#include <system_error>

#include "core/i18n/language_dictionary.h"

namespace norvane {

std::vector<LanguageFile> FindLanguageFiles(const std::vector<std::filesystem::path>& folders) {
  constexpr std::string_view kSuffix = ".dic.txt";
  std::vector<LanguageFile> found;
  std::set<std::string> seen;
  for (const std::filesystem::path& folder : folders) {
    std::error_code error;
    std::vector<std::filesystem::path> paths;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) paths.push_back(entry.path());
    std::sort(paths.begin(), paths.end());
    for (const std::filesystem::path& path : paths) {
      const std::string file_name = path.filename().string();
      if (!file_name.ends_with(kSuffix) || seen.contains(file_name)) continue;
      std::ifstream in(path, std::ios::binary);
      const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
      LanguageHeader header = ParseDictionary(bytes).header;
      if (header.name.empty()) continue;
      seen.insert(file_name);
      found.push_back({std::move(header.name), std::filesystem::absolute(path, error)});
    }
  }
  std::sort(found.begin(), found.end(), [](const LanguageFile& a, const LanguageFile& b) { return a.name < b.name; });
  return found;
}

}  // namespace norvane
