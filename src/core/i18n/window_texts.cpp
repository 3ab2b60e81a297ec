#include "core/i18n/window_texts.h"

#include <iterator>
#include <string_view>

namespace norvane {
namespace {

constexpr int kFirst = kTextRecordingCut;
constexpr int kLast = 349;

// Entry i is text number 300 + i; new texts go at the end, so language files keep their numbers.
constexpr std::string_view kEnglish[] = {
    /* 300 */ "The recording is longer than the history of the selected model: only its start is shown.",
    /* 301 */ "Counter clock:",
    /* 302 */ "About Norvane Data Viewer",
    /* 303 */ "Version",
    /* 304 */ "Licence",
    /* 305 */ "Settings file",
    /* 306 */ "Data folder",
    /* 307 */ "Automatic saves and day files",
    /* 308 */ "Long-term store",
    /* 309 */ "off",
    /* 310 */ "Viewer and logger for ZQT radiation counters and radon monitors.",
};
static_assert(kFirst + static_cast<int>(std::size(kEnglish)) - 1 <= kLast);

}  // namespace

std::string GetWindowText(const LanguageDictionary& dictionary, int n) {
  std::string text = dictionary.GetText(n);
  if (!text.empty() || n < kFirst || n >= kFirst + static_cast<int>(std::size(kEnglish))) return text;
  return std::string(kEnglish[n - kFirst]);
}

}  // namespace norvane
