#include "core/i18n/language_dictionary.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "core/common/text_format.h"
#include "core/i18n/window_texts.h"
#include "core/platform/system_error.h"
#include "core/serial/serial_link.h"

namespace norvane {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

class RecordingNotifier : public UserNotifier {
 public:
  void Message(std::string_view text, std::string_view caption) override {
    messages.emplace_back(text);
    EXPECT_EQ(caption, "");
  }
  void Status(std::string_view) override {}
  bool Ask(std::string_view, std::string_view) override { return false; }
  std::vector<std::string> messages;
};

constexpr const char* kDefaultLanguageMessage = "Language file open error! Default lanuage used.";

std::string WithHeader(const std::string& body) {
  return "; test\r\nLanguageName=Deutsch\r\nLanguageDisplayMode=1\r\nLanguageIndex=2\r\n" + body;
}

std::string TextLines(int count, const std::string& prefix) {
  std::string out;
  for (int i = 0; i < count; ++i) out += Format("%04d=\"%s%d\",\r\n", i, prefix.c_str(), i);
  return out;
}

class LanguageDictionaryFile : public ::testing::Test {
 protected:
  void TearDown() override {
    for (const auto& p : paths_) std::filesystem::remove(p);
  }
  std::string Write(const std::string& contents) {
    const char* test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    auto path = std::filesystem::temp_directory_path() /
                Format("norvane_%d_%s_%zu.dic.txt", static_cast<int>(getpid()), test, paths_.size());
    std::ofstream(path, std::ios::binary) << contents;
    paths_.push_back(path);
    return path.string();
  }
  LanguageDictionary dict_;
  RecordingNotifier notifier_;

 private:
  std::vector<std::filesystem::path> paths_;
};

TEST(LanguageDictionary, BuiltInTextsWithoutAFile) {
  LanguageDictionary dict;
  EXPECT_EQ(dict.Count(), kBuiltInTextCount);
  EXPECT_EQ(dict.GetText(75), "File error");
  EXPECT_EQ(dict.GetText(25), "Eualization");
  EXPECT_EQ(dict.GetText(38), "");
  EXPECT_EQ(dict.GetText(91), "");
  EXPECT_EQ(dict.GetText(100), "Co&nnect");
  EXPECT_EQ(dict.GetText(kBuiltInTextCount), "");
  EXPECT_EQ(dict.GetText(-1), "");
  EXPECT_EQ(dict.DisplayMode(), "");
  EXPECT_TRUE(dict.UsesSecondSuffix());
}

TEST(ParseDictionary, HeaderLines) {
  auto p = ParseDictionary("LanguageName = Fran\xE7" "ais\nLanguageDisplayMode=0\nLanguageIndex=12\n");
  EXPECT_EQ(p.header.name, "Fran\u00E7ais");  // Latin-1 in the file, UTF-8 in the program
  EXPECT_EQ(p.header.display_mode, "0");
  EXPECT_EQ(p.header.index, 2);
  EXPECT_EQ(ParseDictionary("  \tLanguageName=Nederlands  \n").header.name, "Nederlands  ");
  EXPECT_EQ(ParseDictionary("LanguageIndex=x\n").header.index, 0);
  EXPECT_EQ(ParseDictionary("nothing here\n").header.index, 1);
}

TEST(ParseDictionary, CommentsAndNonTextLinesAreSkipped) {
  auto p = ParseDictionary(
      ";0000=\"semicolon\",\n"
      "  /0000=\"slash\",\n"
      "   0=\"\n"            // four characters once the blanks are gone
      "00000=\"shifted\",\n"  // =" at position 5
      "ab=\"cd\"ef\n"
      "0000=\"kept\",\n");
  EXPECT_THAT(p.texts, ElementsAre("kept"));
}

TEST(ParseDictionary, TextLineShapes) {
  auto p = ParseDictionary(
      "\t 0005=\"five first\",  \t\n"  // numbered by position, not by its label
      "0001=\"a=\"b\",\n"               // only the first =" has to be at position 4
      "0002=\"\n"                       // too short to hold a text
      "0003=\"x\n"
      "0004=\"ab\"\n"                   // the closing pair is two characters, whatever they are
      "0005=\"one\\r\\ntwo\\r\\n\",\n"
      "0006=no quote\",\n"
      "0007=\"Fran\xE7" "ais \xB5" "Sv/h\",\n");  // Latin-1
  EXPECT_THAT(p.texts, ElementsAre("five first", "a=\"b", "", "", "a", "one\r\ntwo\r\n", "Fran\u00E7ais \u00B5Sv/h"));
}

TEST(ParseDictionary, LineEndingsAndLengthLimit) {
  EXPECT_THAT(ParseDictionary("0000=\"a\",\r\n0000=\"b\",\r0000=\"c\",\n\n\r\r0000=\"d\",").texts,
              ElementsAre("a", "b", "c", "d"));
  // A 1500-character line whose first 1024 characters end just before a second text line.
  const std::string long_line = "0000=\"" + std::string(1018, 'a') + "0001=\"" + std::string(468, 'b') + "\",";
  ASSERT_EQ(long_line.size(), 1500u);
  EXPECT_THAT(ParseDictionary(long_line + "\r\n").texts,
              ElementsAre(std::string(1016, 'a'), std::string(468, 'b')));
}

TEST_F(LanguageDictionaryFile, TextLinesReplaceEntriesByPosition) {
  dict_.LoadLanguageFile(Write(WithHeader("0000=\"Hello\",\r\n0001=\"one\\r\\ntwo\",\r\n")), notifier_);
  EXPECT_TRUE(notifier_.messages.empty());
  EXPECT_EQ(dict_.GetText(0), "Hello");
  EXPECT_EQ(dict_.GetText(1), "one\r\ntwo");
  EXPECT_EQ(dict_.LanguageName(), "Deutsch");
  EXPECT_EQ(dict_.DisplayMode(), "1");
  EXPECT_EQ(dict_.LanguageIndex(), 2);
  EXPECT_FALSE(dict_.UsesSecondSuffix());

  dict_.LoadLanguageFile(Write(WithHeader(TextLines(10, "t"))), notifier_);
  EXPECT_EQ(dict_.GetText(1), "t1");  // the earlier file's texts are gone
  EXPECT_EQ(dict_.GetText(9), "t9");
  EXPECT_EQ(dict_.GetText(10), "Month");
  EXPECT_EQ(dict_.GetText(90), "Data file not saved yet.");

  dict_.LoadLanguageFile(Write("LanguageName=Test\nLanguageDisplayMode=0\n0000=\"Hi\",\n"), notifier_);
  EXPECT_EQ(dict_.DisplayMode(), "0");
  EXPECT_EQ(dict_.LanguageIndex(), 1);  // no index line: back to English seconds
  EXPECT_EQ(dict_.GetText(0), "Hi");
  EXPECT_EQ(dict_.GetText(1), "Add");

  dict_.UseBuiltInLanguage();
  EXPECT_EQ(dict_.GetText(0), "Available Language");
  EXPECT_EQ(dict_.LanguageName(), "");
  EXPECT_EQ(dict_.DisplayMode(), "");
  EXPECT_TRUE(dict_.UsesSecondSuffix());
}

// Core words its lines in English; the window shows them in its language, values in their places.
TEST_F(LanguageDictionaryFile, CoreLinesAreTranslatedWithTheirValuesAndOtherLinesStay) {
  const std::string unusable = EnglishText(kTextLineStoreCannotUse, {"disk full: no space", "/data/a b.sqlite"});
  const std::string lost = EnglishText(kTextLineCounterLost);
  const std::string lost_why = EnglishText(kTextLineCounterLostDetail, {"x."});
  EXPECT_EQ(dict_.TranslatedLine(unusable), unusable);
  dict_.LoadLanguageFile(Write(WithHeader(TextLines(kTextLineStoreCannotUse, "t") +
                                          Format("%04d=\"an %%2: %%1\",\r\n", kTextLineStoreCannotUse))),
                         notifier_);
  EXPECT_EQ(dict_.TranslatedLine(unusable), "an /data/a b.sqlite: disk full: no space");
  EXPECT_EQ(dict_.TranslatedLine(lost), Format("t%d", kTextLineCounterLost));
  EXPECT_EQ(dict_.TranslatedLine(lost_why), Format("t%d", kTextLineCounterLostDetail));
  EXPECT_EQ(dict_.TranslatedLine("Counter lost"), "Counter lost");
}

// A port's message holds the open failure, which holds the system's reason: each is translated in
// its place, the path kept; a reason core did not word stays as the system gave it.
TEST_F(LanguageDictionaryFile, ValuesCoreWordedAreTranslatedInTurn) {
  dict_.LoadLanguageFile(NORVANE_LANGUAGE_DIR "/de.dic.txt", notifier_);
  EXPECT_EQ(dict_.TranslatedLine(OpenFailureText(3, DescribeOpenError("/dev/ttyUSB7", ENOENT))),
            "COM3 kann nicht ge\u00F6ffnet werden.\r\n\r\n/dev/ttyUSB7: Datei oder Verzeichnis nicht gefunden "
            "(ist der Z\u00E4hler angeschlossen?).");
  EXPECT_EQ(dict_.TranslatedLine(EnglishText(kTextMsgCannotOpenFile, {"/x.bin", SystemErrorText(EACCES)})),
            "Die Datei /x.bin konnte nicht ge\u00F6ffnet werden: Zugriff verweigert");
  EXPECT_EQ(dict_.TranslatedLine("cannot write into /x: " + SystemErrorText(ENOSPC)),
            "/x kann nicht beschrieben werden: Kein Platz mehr auf dem Ger\u00E4t");
  // Where the words around it have no translation, the system's reason is still translated.
  EXPECT_EQ(dict_.TranslatedLine("cannot flush /x: " + SystemErrorText(ENOSPC)),
            "cannot flush /x: Kein Platz mehr auf dem Ger\u00E4t");
  const std::string other = EnglishText(kTextMsgCannotOpenFile, {"/x.bin", SystemErrorText(ELOOP)});
  EXPECT_THAT(dict_.TranslatedLine(other), HasSubstr(": " + SystemErrorText(ELOOP)));
  EXPECT_EQ(dict_.TranslatedLine("Data loaded!"), "Daten geladen!");
  EXPECT_EQ(dict_.TranslatedLine(EnglishText(kTextLineCounterLostDetail, {"/dev/ttyUSB0 is gone (unplugged?)"})),
            FillIn(dict_.GetText(kTextLineCounterLostDetail), {"/dev/ttyUSB0 ist verschwunden (ausgesteckt?)"}));
  // A reason that is a sentence of its own ends the message with one full stop, in every language.
  const std::string busy = OpenFailureText(2, "The port /dev/pts/4 is in use by another program.");
  EXPECT_EQ(busy, "COM2 cannot be opened.\n\nThe port /dev/pts/4 is in use by another program.");
  EXPECT_EQ(dict_.TranslatedLine(busy),
            "COM2 kann nicht ge\u00F6ffnet werden.\r\n\r\nDer Port /dev/pts/4 wird von einem anderen Programm benutzt.");
}

TEST_F(LanguageDictionaryFile, TextLinesBeyondTheTableExtendIt) {
  dict_.LoadLanguageFile(Write(WithHeader(TextLines(95, "x"))), notifier_);
  EXPECT_EQ(dict_.Count(), kBuiltInTextCount);
  EXPECT_EQ(dict_.GetText(94), "x94");
  EXPECT_EQ(dict_.GetText(100), "Co&nnect");

  dict_.LoadLanguageFile(Write(WithHeader(TextLines(kBuiltInTextCount + 5, "y"))), notifier_);
  EXPECT_EQ(dict_.Count(), kBuiltInTextCount + 5);
  EXPECT_EQ(dict_.GetText(kBuiltInTextCount + 4), Format("y%d", kBuiltInTextCount + 4));
}

TEST_F(LanguageDictionaryFile, UnreadableFilesKeepTheCurrentTexts) {
  const std::string missing = (std::filesystem::temp_directory_path() / "norvane_no_such.dic.txt").string();
  dict_.LoadLanguageFile(missing, notifier_);
  ASSERT_EQ(notifier_.messages.size(), 1u);
  EXPECT_EQ(notifier_.messages[0], missing + " Language file open error.");
  EXPECT_EQ(dict_.GetText(0), "Available Language");

  EXPECT_FALSE(LanguageDictionary::ReadLanguageHeader(missing, notifier_));
  // A directory opens but cannot be read.
  dict_.LoadLanguageFile(std::filesystem::temp_directory_path().string(), notifier_);
  EXPECT_THAT(notifier_.messages,
              ElementsAre(HasSubstr(missing), HasSubstr(missing), HasSubstr("Language file open error.")));
}

TEST_F(LanguageDictionaryFile, FileWithoutLanguageNameKeepsTheCurrentTexts) {
  dict_.LoadLanguageFile(Write("LanguageIndex=5\n0000=\"Nope\",\n"), notifier_);
  EXPECT_THAT(notifier_.messages, ElementsAre(kDefaultLanguageMessage));
  EXPECT_EQ(dict_.GetText(0), "Available Language");
  EXPECT_EQ(dict_.LanguageIndex(), 1);

  notifier_.messages.clear();
  dict_.LoadLanguageFile(Write(WithHeader("0000=\"Hallo\",\n")), notifier_);
  dict_.LoadLanguageFile(Write("LanguageDisplayMode=0\n0000=\"Nope\",\n"), notifier_);
  EXPECT_THAT(notifier_.messages, ElementsAre(kDefaultLanguageMessage));
  EXPECT_EQ(dict_.GetText(0), "Hallo");
  EXPECT_EQ(dict_.DisplayMode(), "1");
  EXPECT_EQ(dict_.LanguageIndex(), 2);
}

TEST_F(LanguageDictionaryFile, ReadLanguageHeaderLeavesTheDictionaryAlone) {
  auto header = LanguageDictionary::ReadLanguageHeader(Write(WithHeader("0000=\"Hallo\",\n")), notifier_);
  ASSERT_TRUE(header);
  EXPECT_EQ(header->name, "Deutsch");
  EXPECT_EQ(header->index, 2);
  EXPECT_EQ(dict_.GetText(0), "Available Language");
  EXPECT_EQ(dict_.LanguageIndex(), 1);
}

TEST_F(LanguageDictionaryFile, StartUpLoadsOnlySettingsThatCanBePaths) {
  dict_.LoadAtStartUp("abc", notifier_);  // would be an open error if it were tried
  EXPECT_TRUE(notifier_.messages.empty());
  EXPECT_EQ(dict_.GetText(0), "Available Language");

  dict_.LoadAtStartUp(Write(WithHeader("0000=\"Hallo\",\n")), notifier_);
  EXPECT_EQ(dict_.GetText(0), "Hallo");
  dict_.LoadAtStartUp("", notifier_);
  EXPECT_EQ(dict_.GetText(0), "Available Language");
}

}  // namespace
}  // namespace norvane
