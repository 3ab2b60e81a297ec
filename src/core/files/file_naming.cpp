#include "core/files/file_naming.h"

#include "core/common/text_format.h"

namespace norvane {

std::string EnsureExtension(std::string_view path, std::string_view extension) {
  // Looking only at the last four characters would never find ".html" or ".jpeg" and give
  // "page.html.html"; an ending match treats every extension alike.
  std::string out(path);
  if (!path.ends_with(extension)) out += extension;
  return out;
}

std::string EnsureMinuteLogExtension(std::string_view path) {
  if (path.ends_with(".R@H") || path.ends_with(".r@h")) return std::string(path);
  return std::string(path) + ".R@H";
}

std::string DefaultFileName(std::string_view folder, const LocalTime& now) {
  return std::string(folder) + Format("20%02d%02d%02d_%02d_%02d_%02d", (now.year - 2000) % 100, now.month, now.day,
                                      now.hour, now.minute, now.second);
}

std::string LowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

}  // namespace norvane
