// The window's numbered texts from 300 on: English built in, a language file's own words first.
#pragma once

#include <string>

#include "core/i18n/language_dictionary.h"

namespace norvane {

enum WindowText : int {
  kTextRecordingCut = 300,
  kTextCounterClock,
  kTextAboutCaption,
  kTextAboutVersion,
  kTextAboutLicence,
  kTextAboutSettings,
  kTextAboutData,
  kTextAboutSaves,
  kTextAboutStore,
  kTextAboutStoreOff,
  kTextAboutSummary,
};

// The dictionary's text for `n` when it has one, else the English text; empty for a number
// outside 300-349 that the dictionary lacks as well.
std::string GetWindowText(const LanguageDictionary& dictionary, int n);

}  // namespace norvane
