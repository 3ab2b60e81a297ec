// The realtime elapsed time as the window shows it: "<days> Day hh:mm:ss".
#pragma once

#include <cstdint>
#include <string>

#include "core/i18n/language_dictionary.h"

namespace norvane {

// The word for "Day" is the dictionary's entry 8.
inline constexpr int kDayTextEntry = 8;

std::string ElapsedText(uint32_t elapsed_seconds, const LanguageDictionary& dictionary);

}  // namespace norvane
