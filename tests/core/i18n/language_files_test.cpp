#include "core/i18n/language_files.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cctype>
#include <fstream>

#include "core/i18n/language_dictionary.h"
#include "tests/common/temp_dir.h"

namespace norvane {
namespace {

using ::testing::ElementsAre;
using ::testing::Field;

std::string Slurp(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(LanguageFiles, AUsersCopyHidesTheShippedOneAndFilesWithoutANameAreLeftOut) {
  testing::TempDir dir;
  std::ofstream(dir / "de.dic.txt", std::ios::binary) << "LanguageName=Mein Deutsch\r\n0000=\"x\",\r\n";
  std::ofstream(dir / "nameless.dic.txt", std::ios::binary) << "0000=\"x\",\r\n";
  std::ofstream(dir / "notes.txt", std::ios::binary) << "LanguageName=Notes\r\n";
  EXPECT_THAT(FindLanguageFiles({dir.path(), NORVANE_LANGUAGE_DIR, dir / "missing"}),
              ElementsAre(Field(&LanguageFile::name, "Español"), Field(&LanguageFile::name, "Français"),
                          Field(&LanguageFile::name, "Mein Deutsch")));
}

// UTF-8 read as Latin-1 or Windows-1252 somewhere on its way: "Ã¶" for "ö", "â€" for a dash.
bool LooksGarbled(const std::string& text) {
  for (size_t at = text.find("\xC3\x83"); at != std::string::npos; at = text.find("\xC3\x83", at + 1))
    if (at + 2 < text.size() && static_cast<unsigned char>(text[at + 2]) >= 0x80) return true;
  return text.find("\xC3\xA2\xE2\x82\xAC") != std::string::npos;
}

// Words of letters, so a marker, a number or a unit shared by every language does not count.
size_t Words(const std::string& text) {
  size_t words = 0, letters = 0;
  for (const char c : text + " ") {
    if (std::isalpha(static_cast<unsigned char>(c))) {
      ++letters;
    } else {
      if (letters >= 2) ++words;
      letters = 0;
    }
  }
  return words;
}

// Every numbered text has its entry in every language, written as Latin-1 with CRLF lines: a file
// saved as UTF-8 shows as mojibake, a sentence left in English is found here, not by a user.
TEST(LanguageFiles, EveryShippedDictionaryTranslatesEveryBuiltInText) {
  const LanguageDictionary english;
  const std::vector<LanguageFile> files = FindLanguageFiles({NORVANE_LANGUAGE_DIR});
  ASSERT_EQ(files.size(), 3u);
  for (const LanguageFile& file : files) {
    const std::string bytes = Slurp(file.path);
    for (size_t at = bytes.find('\n'); at != std::string::npos; at = bytes.find('\n', at + 1))
      ASSERT_TRUE(at > 0 && bytes[at - 1] == '\r') << file.name << ": a line without CR at byte " << at;
    const ParsedDictionary parsed = ParseDictionary(bytes);
    ASSERT_EQ(static_cast<int>(parsed.texts.size()), kBuiltInTextCount) << file.name;
    for (int n = 0; n < kBuiltInTextCount; ++n) {
      const std::string& en = english.GetText(n);
      const std::string& text = parsed.texts[static_cast<size_t>(n)];
      EXPECT_EQ(en.empty(), text.empty()) << file.name << " text " << n;
      EXPECT_FALSE(LooksGarbled(text)) << file.name << " text " << n << ": " << text;
      if (Words(en) >= 3) {
        EXPECT_NE(text, en) << file.name << " text " << n << " is English";
      }
      for (const char* marker : {"%1", "%2", "%3", "%4", "&"})
        EXPECT_EQ(en.find(marker) == std::string::npos, text.find(marker) == std::string::npos)
            << file.name << " text " << n << ": " << text;
    }
  }
}

}  // namespace
}  // namespace norvane
