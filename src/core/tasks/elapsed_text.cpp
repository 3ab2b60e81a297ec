#include "core/tasks/elapsed_text.h"

#include "core/common/text_format.h"

namespace norvane {

std::string ElapsedText(uint32_t s, const LanguageDictionary& dictionary) {
  const std::string day = dictionary.GetText(kDayTextEntry);
  return Format("%d %s %02d:%02d:%02d", static_cast<int>(s / 86400), day.c_str(), static_cast<int>(s / 3600 % 24),
                static_cast<int>(s / 60 % 60), static_cast<int>(s % 60));
}

}  // namespace norvane
