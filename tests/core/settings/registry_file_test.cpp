#include "core/settings/registry_file.h"

#include <gtest/gtest.h>

namespace norvane {
namespace {

const RegistryValue* Value(const RegistryDocument& doc, std::string_view section,
                          std::string_view name) {
  const RegistrySection* s = doc.Find(section);
  return s ? s->Find(name) : nullptr;
}

TEST(RegistryFile, ReadsACrlfExportIgnoringCaseAndKeepingTheLastRepeat) {
  RegistryDocument doc = ParseRegistry(
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_CURRENT_USER\\Software\\Norvane]\r\n"
      "\"CPMColor\"=dword:0000001f\r\n"
      "\"FileSavePath\"=\"C:\\\\Data\\\\\"\r\n"
      "[Other]\r\n\"X\"=dword:FFFFFFFF\r\n"
      "[hkey_current_user\\software\\norvane]\r\n\"cpmcolor\"=dword:00000020\r\n");
  ASSERT_EQ(doc.sections.size(), 2u);  // the repeated section merged into the first
  EXPECT_EQ(Value(doc, "HKEY_CURRENT_USER\\Software\\Norvane", "CPMCOLOR")->number, 0x20u);
  EXPECT_EQ(doc.sections[0].values[0].name, "cpmcolor");  // spelled as last written
  EXPECT_EQ(Value(doc, "HKEY_CURRENT_USER\\Software\\Norvane", "FileSavePath")->text, "C:\\Data\\");
  EXPECT_EQ(Value(doc, "other", "x")->number, 0xFFFFFFFFu);
}

TEST(RegistryFile, WritesTheExportFormatAndEscapesRoundTrip) {
  RegistryDocument doc;
  RegistrySection& s = doc.FindOrAdd("HKEY_CURRENT_USER\\K");
  s.Set({"AutoSaveEnabled", RegistryValueType::kDword, 0xAB, {}, {}});
  s.Set({"Path", RegistryValueType::kSz, 0, "C:\\a \"b\"\\", {}});
  std::string bytes = SerializeRegistry(doc);
  EXPECT_EQ(bytes,
            "Windows Registry Editor Version 5.00\n\n"
            "[HKEY_CURRENT_USER\\K]\n"
            "\"AutoSaveEnabled\"=dword:000000ab\n"
            "\"Path\"=\"C:\\\\a \\\"b\\\"\\\\\"\n\n");

  const std::string texts[] = {"", "\\", "\"", "end\\", "a\"b\\\"c", "\xB5Sv\x01\t"};
  for (const std::string& text : texts) s.Set({"n\\\"" + text, RegistryValueType::kSz, 0, text, {}});
  RegistryDocument back = ParseRegistry(SerializeRegistry(doc));
  for (const std::string& text : texts) {
    const RegistryValue* v = Value(back, "HKEY_CURRENT_USER\\K", "n\\\"" + text);
    ASSERT_NE(v, nullptr) << text;
    EXPECT_EQ(v->text, text);
  }
}

TEST(RegistryFile, OtherTypesAreKeptButNeverReadAsNumberOrText) {
  const std::string others =
      "\"Bin\"=hex:01,02,03,\\\n"
      "  04,05\n"
      "\"Expand\"=hex(2):25,00,00,00\n"
      "@=\"default value\"\n"
      "\"Gone\"=-\n"
      "\"BadDword\"=dword:12345678z\n"
      "\"Unclosed\"=\"text\n"
      "\"Trailing\"=\"text\" junk\n";
  RegistryDocument doc = ParseRegistry("[K]\n" + others + "\"N\"=dword:00000002\n");
  ASSERT_EQ(doc.Find("K")->values.size(), 8u);
  for (const char* name : {"Bin", "Expand", "", "Gone", "BadDword", "Unclosed", "Trailing"})
    EXPECT_EQ(Value(doc, "K", name)->type, RegistryValueType::kOther) << name;

  std::string rewritten = SerializeRegistry(doc);
  EXPECT_NE(rewritten.find(others), std::string::npos) << rewritten;
  EXPECT_EQ(ParseRegistry(rewritten).Find("K")->values.size(), 8u);
}

TEST(RegistryFile, DamagedInputSkipsOnlyWhatCannotBeRead) {
  EXPECT_TRUE(ParseRegistry("").sections.empty());
  std::string junk;
  for (int i = 0; i < 4096; ++i) {
    char c = static_cast<char>((i * 7919) % 251);
    junk.push_back(c == '[' ? ']' : c);  // without a section header nothing can be read
  }
  EXPECT_TRUE(ParseRegistry(junk).sections.empty());

  RegistryDocument doc = ParseRegistry(
      "\"BeforeAnySection\"=dword:00000001\n"
      "[Good]\n"
      "\"Unterminated name=dword:00000001\n"
      "\"NoEquals\" dword:00000001\n"
      "random words\n"
      "\"Kept\"=dword:00000003\n"
      "[Broken header\n"
      "\"Orphan\"=dword:00000004\n"
      "[Good]\n"
      "\"Last\"=\"\\");  // ends inside an escape, without a newline
  ASSERT_EQ(doc.sections.size(), 1u);
  ASSERT_EQ(doc.Find("Good")->values.size(), 2u);
  EXPECT_EQ(Value(doc, "Good", "Kept")->number, 3u);
  EXPECT_EQ(Value(doc, "Good", "Orphan"), nullptr);  // not poured into the section before
  EXPECT_EQ(Value(doc, "Good", "Last")->type, RegistryValueType::kOther);
}

TEST(RegistryFile, ReadsTheUtf16FileRegeditSaves) {
  std::string wide = "\xFF\xFE";
  for (char c : std::string("[K]\r\n\"Lang\"=\"x\"\r\n\"W\"=\"")) wide += {c, '\0'};
  wide += "\x3A\x26\"";  // U+263A has no single-byte form
  wide.push_back('\0');
  EXPECT_EQ(Value(ParseRegistry(wide), "K", "Lang")->text, "x");
  EXPECT_EQ(Value(ParseRegistry(wide), "K", "W")->text, "?");
}

TEST(RegistryFile, LineBreaksThatCannotBeWrittenAreLeftOut) {
  RegistryDocument doc;
  RegistrySection& s = doc.FindOrAdd("K");
  s.Set({"Fine", RegistryValueType::kDword, 1, {}, {}});
  s.Set({"Broken", RegistryValueType::kSz, 0, "two\nlines", {}});
  doc.FindOrAdd("Bad\nSection");
  RegistryDocument back = ParseRegistry(SerializeRegistry(doc));
  ASSERT_EQ(back.sections.size(), 1u);
  EXPECT_EQ(back.Find("K")->values.size(), 1u);
}

TEST(RegistryFile, NamesStayFoundAfterValuesAndSectionsAreErased) {
  RegistryDocument doc;
  RegistrySection& s = doc.FindOrAdd("K");
  for (const char* name : {"A", "B", "C", "D"}) s.Set({name, RegistryValueType::kDword, 1, {}, {}});
  EXPECT_TRUE(s.Erase("b"));
  EXPECT_FALSE(s.Erase("B"));
  s.Set({"d", RegistryValueType::kDword, 4, {}, {}});  // replaced in place, not appended
  s.Set({"B", RegistryValueType::kDword, 2, {}, {}});  // back at the end
  std::string order;
  for (const RegistryValue& v : s.values) order += v.name + std::to_string(v.number);
  EXPECT_EQ(order, "A1C1d4B2");
  EXPECT_EQ(s.Find("D")->number, 4u);
  EXPECT_EQ(s.Find("c")->name, "C");
  EXPECT_EQ(s.Find("b")->number, 2u);

  doc.FindOrAdd("L").Set({"X", RegistryValueType::kDword, 9, {}, {}});
  doc.FindOrAdd("M");
  EXPECT_TRUE(doc.Erase("k"));
  EXPECT_FALSE(doc.Erase("K"));
  EXPECT_EQ(Value(doc, "l", "x")->number, 9u);
  EXPECT_NE(doc.Find("M"), nullptr);
  EXPECT_EQ(doc.Find("K"), nullptr);
  EXPECT_EQ(doc.FindOrAdd("K").values.size(), 0u);
  EXPECT_EQ(doc.sections.size(), 3u);
}

TEST(RegistryFile, OnlyRegistryExportsCountAsSettingsFiles) {
  EXPECT_TRUE(LooksLikeRegistryFile(""));
  EXPECT_TRUE(LooksLikeRegistryFile(" \r\n\n"));
  EXPECT_TRUE(LooksLikeRegistryFile("\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n"));
  EXPECT_TRUE(LooksLikeRegistryFile("\n  REGEDIT4\n"));
  EXPECT_TRUE(LooksLikeRegistryFile("[HKEY_CURRENT_USER\\Software]\n\"A\"=dword:1\n"));  // header lost
  std::string wide = "\xFF\xFE";
  for (char c : std::string("Windows Registry Editor Version 5.00\r\n")) wide += {c, '\0'};
  EXPECT_TRUE(LooksLikeRegistryFile(wide));

  EXPECT_FALSE(LooksLikeRegistryFile(std::string("\x7F" "ELF\x02\x01\x01\0\0", 9)));
  EXPECT_FALSE(LooksLikeRegistryFile("\"CPMColor\"=dword:00000001\n"));
  EXPECT_FALSE(LooksLikeRegistryFile("Windows Registry Editor Version 4\n"));
}

}  // namespace
}  // namespace norvane
