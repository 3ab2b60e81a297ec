#include "core/files/file_filters.h"

namespace norvane {

std::vector<FileTypeItem> ParseFileFilter(std::string_view filter) {
  std::vector<std::string_view> fields;
  while (!filter.empty()) {
    const size_t bar = filter.find('|');
    fields.push_back(filter.substr(0, bar));
    if (bar == std::string_view::npos) break;
    filter.remove_prefix(bar + 1);
  }
  std::vector<FileTypeItem> items;
  for (size_t i = 0; i + 1 < fields.size(); i += 2) {
    if (fields[i].empty()) break;  // the "||" that ends the list
    items.push_back({std::string(fields[i]), std::string(fields[i + 1])});
  }
  return items;
}

}  // namespace norvane
