// The numbered captions and messages of the program, in English or overlaid from a .dic.txt file.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/common/user_notifier.h"

namespace norvane {

// Numbers 0-90 are the texts dictionary files have always had; the window's own texts follow from 100.
inline constexpr int kBuiltInTextCount = 626;
// Lines longer than this are cut into several lines, as the file reader always has done.
inline constexpr size_t kMaxDictionaryLineLength = 1024;
// "Second": the seconds suffix of the CSV and HTML writers in languages other than English.
inline constexpr int kSecondTextEntry = 51;

struct LanguageHeader {
  std::string name;          // UTF-8; empty means "not a usable dictionary"
  std::string display_mode;  // one character, or empty when the file does not say
  int index = 1;             // 1 when the file does not say
};

// Everything a dictionary file says, without deciding what to do with it.
struct ParsedDictionary {
  LanguageHeader header;
  std::vector<std::string> texts;  // text lines in file order, as UTF-8, escapes already resolved
};

// Pure: reads any bytes, never fails. Several header lines of one kind: the last one wins.
ParsedDictionary ParseDictionary(std::string_view bytes);

// `text` with "%1" to "%9" replaced by the values in that place; a marker without one stays.
std::string FillIn(std::string_view text, const std::vector<std::string>& values);

// The built-in English text `number`, filled in: how core words the lines a window may show in
// another language, which core, holding no dictionary, never does itself.
std::string EnglishText(int number, const std::vector<std::string>& values = {});

class LanguageDictionary {
 public:
  // Starts with the English texts so a dictionary is usable before start-up has run.
  LanguageDictionary();

  // Replaces the texts by the English ones; the header values are left alone.
  void LoadBuiltInTexts();

  // Empty for any number outside the table, negative ones included. A copy, so a text fetched
  // before a reload stays valid.
  std::string GetText(int n) const;

  // The current text of the window text whose English is `english`, or `english` itself when no
  // window text has it: for words kept in English where the program decides by them, such as the
  // type names of the file dialogs.
  std::string Translated(std::string_view english) const;

  // A line, message or caption core made in English (with EnglishText where it carries values), in this
  // dictionary's language, its values translated in turn where core worded them too; the system's
  // commonest error reasons are translated wherever they stand; any other text as it is.
  // The CLI shows core's lines as they come; the window passes them through this.
  std::string TranslatedLine(std::string_view line) const;

  // Empty when the file cannot be read (the user has been told).
  static std::optional<LanguageHeader> ReadLanguageHeader(const std::string& path, UserNotifier& notifier);

  // English texts and header values, as when no file has been loaded.
  void UseBuiltInLanguage();

  // On any failure the user is told and the current texts and header values stay.
  void LoadLanguageFile(const std::string& path, UserNotifier& notifier);

  // English first; then the file named in the settings, when the setting looks like a path at all.
  void LoadAtStartUp(const std::string& language_file_setting, UserNotifier& notifier);

  const std::string& LanguageName() const { return language_name_; }
  const std::string& DisplayMode() const { return display_mode_; }
  int LanguageIndex() const { return language_index_; }
  int Count() const { return static_cast<int>(texts_.size()); }

  // True: the CSV and HTML writers put "s" after seconds; false: they use entry kSecondTextEntry.
  bool UsesSecondSuffix() const { return language_index_ == 1; }

 private:
  // The translation of a line made from one of core's texts, or a window text; none for others.
  std::optional<std::string> MatchedAt(std::string_view line, int depth) const;
  std::string TranslatedAt(std::string_view line, int depth) const;

  std::vector<std::string> texts_;
  std::string language_name_;
  std::string display_mode_;
  int language_index_ = 1;
};

}  // namespace norvane
