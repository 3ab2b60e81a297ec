#include "core/settings/registry_key.h"

#include <gtest/gtest.h>

#include "tests/common/temp_dir.h"

namespace norvane {
namespace {

using testing::ReadAll;
using testing::TempDir;
using testing::WriteAll;

constexpr char kKey[] = "Software\\Norvane Data Viewer\\Settings";

TEST(RegistryKey, OpenNeedsAnExistingKeyWhileCreateMakesFileAndFolders) {
  TempDir dir;
  auto file = dir / "deep" / "er" / "settings.reg";
  RegistryKey key(file);
  EXPECT_FALSE(key.OpenNamed(kKey));
  EXPECT_EQ(key.SubKeyName(), kKey);            // remembered even though the open failed
  EXPECT_FALSE(std::filesystem::exists(file));  // opening never creates

  ASSERT_TRUE(key.Create(kKey));
  EXPECT_TRUE(key.IsOpen());
  key.Close();
  key.Close();
  EXPECT_TRUE(key.Open("software\\NORVANE data viewer\\settings"));
  EXPECT_TRUE(key.Open("Software\\Norvane Data Viewer"));  // a parent exists through its child
  EXPECT_FALSE(key.Open("Software\\Norvane Data Viewer\\Settings\\Below"));
  EXPECT_FALSE(key.Create("bad\nkey"));

  std::filesystem::create_directory(dir / "folder.reg");  // exists but cannot be read
  EXPECT_FALSE(RegistryKey(dir / "folder.reg").Create(kKey));
  EXPECT_TRUE(std::filesystem::is_directory(dir / "folder.reg"));
}

TEST(RegistryKey, ReadsOnlyTheMatchingTypeOfAnOpenKey) {
  TempDir dir;
  WriteAll(dir / "s.reg",
           "[HKEY_CURRENT_USER\\Software\\Norvane Data Viewer\\Settings]\n"
           "\"Number\"=dword:00000007\n\"Text\"=\"7\"\n\"Blob\"=hex:07\n");
  RegistryKey key(dir / "s.reg");
  ASSERT_TRUE(key.Open(kKey));
  uint32_t number = 42;
  std::string text = "before";
  EXPECT_FALSE(key.ReadNumber("Text", number));
  EXPECT_FALSE(key.ReadNumber("Blob", number));
  EXPECT_FALSE(key.ReadText("Number", text));
  EXPECT_EQ(number, 42u);
  EXPECT_EQ(text, "before");
  EXPECT_TRUE(key.ReadNumber("NUMBER", number));
  EXPECT_EQ(number, 7u);

  key.Close();
  EXPECT_FALSE(key.ReadText("Text", text));
  EXPECT_FALSE(key.WriteNumber("Number", 8));
  EXPECT_FALSE(key.DeleteValue("Number"));
  EXPECT_EQ(text, "before");
}

TEST(RegistryKey, EachWriteReachesTheFileWithoutUndoingAnotherKeysWrite) {
  TempDir dir;
  auto file = dir / "s.reg";
  RegistryKey settings(file);
  RegistryKey dictionary(file);
  ASSERT_TRUE(settings.Create(kKey));
  ASSERT_TRUE(dictionary.Open(kKey));
  ASSERT_TRUE(dictionary.WriteText("LanguageFile", "/usr/share/lang.txt"));
  ASSERT_TRUE(settings.WriteNumber("COMPORT", 3));  // opened before the dictionary wrote

  RegistryKey fresh(file);
  ASSERT_TRUE(fresh.Open(kKey));
  uint32_t port = 0;
  std::string language;
  EXPECT_TRUE(fresh.ReadNumber("COMPORT", port) && port == 3);
  EXPECT_TRUE(fresh.ReadText("LanguageFile", language));
  EXPECT_EQ(language, "/usr/share/lang.txt");

  ASSERT_TRUE(settings.WriteText("comport", "five"));  // any type, under the new spelling
  EXPECT_NE(ReadAll(file).find("\"comport\"=\"five\""), std::string::npos);
  const std::string before = ReadAll(file);
  EXPECT_FALSE(settings.WriteText("T", "two\nlines"));
  EXPECT_FALSE(settings.WriteText("T", "cr\r"));
  EXPECT_FALSE(settings.WriteText("T", std::string_view("nul\0", 4)));
  EXPECT_FALSE(settings.WriteNumber("", 1));
  EXPECT_EQ(ReadAll(file), before);
}

TEST(RegistryKey, DeletesValuesAndOnlyKeysWithNothingBelow) {
  TempDir dir;
  RegistryKey key(dir / "s.reg");
  ASSERT_TRUE(key.Create("Software\\A\\B\\C"));
  ASSERT_TRUE(key.Create("Software\\A\\B"));
  ASSERT_TRUE(key.WriteNumber("V", 1));
  EXPECT_TRUE(key.DeleteValue("v"));
  EXPECT_FALSE(key.DeleteValue("v"));
  ASSERT_TRUE(key.Open("Software\\A"));
  EXPECT_FALSE(key.DeleteSubKey("B"));  // still has C below it
  ASSERT_TRUE(key.Open("Software\\A\\B"));
  EXPECT_TRUE(key.DeleteSubKey("C"));
  EXPECT_FALSE(key.Open("Software\\A\\B\\C"));
}

}  // namespace
}  // namespace norvane
