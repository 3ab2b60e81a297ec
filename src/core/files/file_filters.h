// The type lists of the file dialogs, and their items as the dialogs show them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace norvane {

// Each item is a description and a pattern, separated by "|"; the list ends with "||" or "|".
inline constexpr std::string_view kRealtimeSaveFilter =
    "Both Files (RBN and CSV)|*.*|Realtime Binary Files (*.rbn)|*.rbn|CSV (Comma delimited) (*.csv)|*.csv|"
    "HTM (*.htm)|*.htm|HTML (*.html)|*.html|Radioactive@Home (*.R@H)|*.R@H|All Files (*.*)|*.*||";
inline constexpr std::string_view kDownloadFilter = "Both Files (BIN and CSV)|*.*|Binary Files (*.bin)|*.bin|All Files (*.*)|*.*||";
// A type's pattern may name several, separated by ";".
inline constexpr std::string_view kLoadFilter =
    "History and Realtime Files (*.bin;*.rbn)|*.bin;*.rbn|Binary Files (*.bin)|*.bin|"
    "Realtime Binary Files (*.rbn)|*.rbn|";
inline constexpr std::string_view kHistoryCsvFilter = "CSV (Comma delimited) (*.csv)|*.csv||";

struct FileTypeItem {
  std::string description;  // what the type box shows; its lower-case form is the type text
  std::string pattern;
};

// The items of a "|"-separated list in their order; a trailing description without a pattern
// is dropped.
std::vector<FileTypeItem> ParseFileFilter(std::string_view filter);

}  // namespace norvane
