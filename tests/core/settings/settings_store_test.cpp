#include "core/settings/settings_store.h"

#include <gtest/gtest.h>

#include "core/platform/settings_location.h"
#include "temp_dir.h"

namespace norvane {
namespace {

using testing::ReadAll;
using testing::TempDir;
using testing::WriteAll;
namespace n = setting_names;

constexpr char kHeader[] =
    "Windows Registry Editor Version 5.00\r\n\r\n"
    "[HKEY_CURRENT_USER\\Software\\Norvane Data Viewer\\Settings]\r\n";

Settings LoadFrom(const std::filesystem::path& file, std::string_view contents) {
  WriteAll(file, contents);
  return SettingsStore(file).Load();
}

void ExpectDefaults(const Settings& s) {
  EXPECT_EQ(s.auto_save_enabled, 0u);
  EXPECT_EQ(s.AutoSavePeriodSeconds(), 24 * 3600);
  EXPECT_EQ(s.auto_save_restart_counter, 1u);
  EXPECT_EQ(s.auto_save_file_type, "");
  EXPECT_EQ(s.file_save_path, "");
  EXPECT_EQ(s.cpm_color, 0x000000FFu);
  EXPECT_EQ(s.usv_color, 0x00FF00FFu);
  EXPECT_EQ(s.CsvSeparator(), ',');
  EXPECT_EQ(s.auto_time_sync_period, 12u);
  EXPECT_EQ(s.auto_detect_when_start_up, 0u);
  EXPECT_EQ(s.fast_download, 0u);
  EXPECT_EQ(s.download_speed, 50u);
  EXPECT_EQ(s.com_port, 0u);
  EXPECT_EQ(s.last_geiger_counter_selected, 0u);
  for (size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(s.calibration[i].cpm, kDefaultConversionTable[i].cpm);
    EXPECT_EQ(s.calibration[i].usv, kDefaultConversionTable[i].usv);
  }
  EXPECT_EQ(s.zqt_map_user_account_id, "");
  EXPECT_EQ(s.auto_submit_period, 5u);
  EXPECT_FALSE(s.AutoSubmitOn());
  EXPECT_FALSE(s.ResumeMonitoring());
}

TEST(SettingsStore, FirstStartCreatesTheKeyAndGivesEveryDefault) {
  TempDir dir;
  auto file = dir / "config" / "norvane-data-viewer" / "settings.reg";
  SettingsStore store(file);
  Settings s = store.Load();
  ExpectDefaults(s);
  ASSERT_TRUE(std::filesystem::exists(file));
  EXPECT_NE(ReadAll(file).find("[HKEY_CURRENT_USER\\Software\\Norvane Data Viewer\\Settings]"),
            std::string::npos);
  EXPECT_EQ(store.Key().SubKeyName(), kSettingsKey);
  EXPECT_FALSE(store.Key().IsOpen());  // never left open between uses
  ExpectDefaults(store.Load());        // the second start finds the key it made
}

TEST(SettingsStore, ReadsEveryValueUnderItsExactStoredName) {
  TempDir dir;
  Settings s = LoadFrom(dir / "s.reg",
                        std::string(kHeader) +
                            "\"AutoSaveEnabled\"=dword:00000001\r\n"
                            "\"AutoSaveTimeHour\"=dword:00000001\r\n"
                            "\"AutoSaveTimeMinute\"=dword:00000002\r\n"
                            "\"AutoSaveTimeSecond\"=dword:00000003\r\n"
                            "\"AutoSaveRestartCounter\"=dword:00000000\r\n"
                            "\"AutoSaveFileType\"=\"R@H\"\r\n"
                            "\"FileSavePath\"=\"/save/\"\r\n"
                            "\"FileLoadPath\"=\"/load/\"\r\n"
                            "\"FileDownloadPath\"=\"/down/\"\r\n"
                            "\"CPMColor\"=dword:00123456\r\n"
                            "\"uSvColor\"=dword:00abcdef\r\n"
                            "\"CsvSaveUseSemicolon\"=dword:00000001\r\n"
                            "\"AutoTimeSyncPeriod\"=dword:00000000\r\n"
                            "\"AutoDetectWhenStartUp\"=dword:00000001\r\n"
                            "\"Fast Download\"=dword:00000001\r\n"
                            "\"Download Speed\"=dword:00000064\r\n"
                            "\"COMPORT\"=dword:00000040\r\n"
                            "\"nLastGeigerCounterSelected\"=dword:00000009\r\n"
                            "\"uSVCAL0CPM\"=dword:00000064\r\n"
                            "\"uSVCAL4CPM\"=dword:00002710\r\n"
                            "\"uSVCAL0uSv\"=\"0.65\"\r\n"
                            "\"uSVCAL4uSv\"=\"65\"\r\n"
                            "\"ZQTmapUserAccountID\"=\"acct\"\r\n"
                            "\"ZQTmapGeigerCounterID\"=\"dev-7\"\r\n"
                            "\"AutoSubmitPeriod\"=dword:0000000a\r\n"
                            "\"AutoSubmitEnabled\"=dword:00000001\r\n"
                            "\"RealtimeMornitoring\"=dword:00000001\r\n");
  EXPECT_EQ(s.auto_save_enabled, 1u);
  EXPECT_EQ(s.AutoSavePeriodSeconds(), 3600 + 120 + 3);
  EXPECT_EQ(s.auto_save_restart_counter, 0u);
  EXPECT_EQ(s.auto_save_file_type, "R@H");
  EXPECT_EQ(s.file_save_path, "/save/");
  EXPECT_EQ(s.file_load_path, "/load/");
  EXPECT_EQ(s.file_download_path, "/down/");
  EXPECT_EQ(s.cpm_color, 0x123456u);
  EXPECT_EQ(s.usv_color, 0xABCDEFu);
  EXPECT_EQ(s.CsvSeparator(), ';');
  EXPECT_EQ(s.auto_time_sync_period, 0u);
  EXPECT_EQ(s.auto_detect_when_start_up, 1u);
  EXPECT_EQ(s.fast_download, 1u);
  EXPECT_EQ(s.download_speed, 100u);
  EXPECT_EQ(s.com_port, 64u);
  EXPECT_EQ(s.last_geiger_counter_selected, 9u);
  EXPECT_EQ(s.calibration[0].cpm, 100u);
  EXPECT_EQ(s.calibration[0].usv, 0.65);
  EXPECT_EQ(s.calibration[1].cpm, 240u);  // points not stored keep theirs
  EXPECT_EQ(s.calibration[1].usv, 1.56);
  EXPECT_EQ(s.calibration[4].cpm, 10000u);
  EXPECT_EQ(s.calibration[4].usv, 65.0);
  EXPECT_EQ(s.zqt_map_user_account_id, "acct");
  EXPECT_EQ(s.zqt_map_geiger_counter_id, "dev-7");
  EXPECT_EQ(s.auto_submit_period, 10u);
  EXPECT_TRUE(s.AutoSubmitOn());
  EXPECT_TRUE(s.ResumeMonitoring());
}

TEST(SettingsStore, WrongTypeOrUnreadableTextCountsAsAbsent) {
  TempDir dir;
  Settings s = LoadFrom(dir / "s.reg",
                        std::string(kHeader) +
                            "\"CPMColor\"=\"255\"\r\n"                  // text for a number
                            "\"Download Speed\"=hex:10,00,00,00\r\n"   // binary for a number
                            "\"FileSavePath\"=dword:00000001\r\n"      // number for a text
                            "\"uSVCAL0CPM\"=\"100\"\r\n"
                            "\"uSVCAL0uSv\"=dword:00000002\r\n"
                            "\"uSVCAL1uSv\"=\"abc\"\r\n"               // does not parse
                            "\"uSVCAL2uSv\"=\"  7.25 uSv/h\"\r\n"     // parses like %lf
                            "\"uSVCAL3uSv\"=\"\"\r\n");
  EXPECT_EQ(s.cpm_color, 0x000000FFu);
  EXPECT_EQ(s.download_speed, 50u);
  EXPECT_EQ(s.file_save_path, "");
  EXPECT_EQ(s.calibration[0].cpm, 60u);
  EXPECT_EQ(s.calibration[0].usv, 0.39);
  EXPECT_EQ(s.calibration[1].usv, 1.56);
  EXPECT_EQ(s.calibration[2].usv, 7.25);
  EXPECT_EQ(s.calibration[3].usv, 13.0);
}

TEST(SettingsStore, FlagsFollowTheirExactValueRules) {
  TempDir dir;
  Settings s = LoadFrom(dir / "s.reg",
                        std::string(kHeader) +
                            "\"AutoDetectWhenStartUp\"=dword:00000007\r\n"
                            "\"RealtimeMornitoring\"=dword:00000002\r\n"
                            "\"AutoSubmitEnabled\"=dword:00000002\r\n"
                            "\"CsvSaveUseSemicolon\"=dword:00000002\r\n"
                            "\"AutoSaveTimeHour\"=dword:00000000\r\n"
                            "\"AutoSaveTimeSecond\"=dword:00000003\r\n");
  EXPECT_EQ(s.auto_detect_when_start_up, 1u);
  EXPECT_FALSE(s.ResumeMonitoring());
  EXPECT_FALSE(s.AutoSubmitOn());
  EXPECT_EQ(s.CsvSeparator(), ',');
  EXPECT_EQ(s.AutoSavePeriodSeconds(), 5);

  Settings big;
  big.auto_save_time_hour = 0xFFFFFFFF;
  big.auto_save_time_minute = 0xFFFFFFFF;
  big.auto_save_time_second = 0xFFFFFFFF;
  EXPECT_EQ(big.AutoSavePeriodSeconds(), int64_t{0xFFFFFFFF} * 3661);  // no 32-bit wrap
  big.auto_save_time_hour = 0;
  big.auto_save_time_minute = 0;
  big.auto_save_time_second = 5;
  EXPECT_EQ(big.AutoSavePeriodSeconds(), 5);
  big.auto_save_time_second = 6;
  EXPECT_EQ(big.AutoSavePeriodSeconds(), 6);
}

TEST(SettingsStore, WrittenValuesSurviveAReloadAlongsideForeignOnes) {
  TempDir dir;
  auto file = dir / "s.reg";
  WriteAll(file, std::string(kHeader) + "\"Window\"=hex:01,02,\\\r\n  03\r\n\"COMPORT\"=dword:00000002\r\n");
  SettingsStore store(file);
  store.StoreNumber(n::kCpmColor, 0x00112233);
  store.StoreNumber(n::kDownloadSpeed, 75);
  store.StoreText(n::kZqtMapUserAccountId, "we \"quote\" and \\back\\slash");
  store.StoreText(n::kZqtMapGeigerCounterId, "bad\nvalue");  // cannot be stored: silently lost
  EXPECT_FALSE(store.Key().IsOpen());

  Settings s = store.Load();
  EXPECT_EQ(s.cpm_color, 0x00112233u);
  EXPECT_EQ(s.download_speed, 75u);
  EXPECT_EQ(s.com_port, 2u);
  EXPECT_EQ(s.zqt_map_user_account_id, "we \"quote\" and \\back\\slash");
  EXPECT_EQ(s.zqt_map_geiger_counter_id, "");
  EXPECT_NE(ReadAll(file).find("\"Window\"=hex:01,02,\\\n  03\n"), std::string::npos);
}

TEST(SettingsStore, FolderOfAChosenFileKeepsItsSeparator) {
  TempDir dir;
  SettingsStore store(dir / "s.reg");
  store.Load();
  const std::string sep(1, kPathSeparator);
  const std::string chosen = sep + "data" + sep + "run 1" + sep + "log.csv";
  std::optional<std::string> folder = store.StoreFolderOf(n::kFileSavePath, chosen);
  ASSERT_TRUE(folder.has_value());
  EXPECT_EQ(*folder, sep + "data" + sep + "run 1" + sep);
  EXPECT_EQ(store.Load().file_save_path, *folder);

  EXPECT_EQ(store.StoreFolderOf(n::kFileSavePath, "log.csv"), std::nullopt);
  EXPECT_EQ(store.StoreFolderOf(n::kFileSavePath, ""), std::nullopt);
  EXPECT_EQ(store.Load().file_save_path, *folder);  // left as it was

  EXPECT_EQ(store.StoreFolderOf(n::kFileLoadPath, sep), sep);
  EXPECT_EQ(store.Load().file_load_path, sep);
}

TEST(SettingsStore, DamagedOrUnusableFilesGiveDefaults) {
  TempDir dir;
  ExpectDefaults(LoadFrom(dir / "empty.reg", ""));
  std::string junk;
  for (int i = 0; i < 4096; ++i) junk.push_back(static_cast<char>((i * 7919) % 251));
  ExpectDefaults(LoadFrom(dir / "junk.reg", junk));
  ExpectDefaults(LoadFrom(dir / "noheader.reg", "\"CPMColor\"=dword:00000001\n"));
  ExpectDefaults(LoadFrom(dir / "othersection.reg",
                          "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\Software\\Else]\n"
                          "\"CPMColor\"=dword:00000001\n"));

  // The header alone may be lost: the values below an intact section line still count.
  Settings s = LoadFrom(dir / "headless.reg",
                        "[HKEY_CURRENT_USER\\Software\\Norvane Data Viewer\\Settings]\n"
                        "\"COMPORT\"=dword:00000004\n");
  EXPECT_EQ(s.com_port, 4u);

  std::filesystem::create_directory(dir / "folder.reg");
  ExpectDefaults(SettingsStore(dir / "folder.reg").Load());
  ExpectDefaults(SettingsStore(std::filesystem::path()).Load());
}

TEST(SettingsStore, LanguageFileIsReadWithTheDictionarysOwnKey) {
  TempDir dir;
  auto file = dir / "s.reg";
  RegistryKey dictionary_key(file);
  EXPECT_EQ(ReadLanguageFileSetting(dictionary_key), "");  // no file yet
  WriteAll(file, std::string(kHeader) + "\"LanguageFile\"=\"/opt/nv/lang/de.txt\"\r\n");
  Settings s;
  s.language_file = ReadLanguageFileSetting(dictionary_key);
  EXPECT_EQ(s.language_file, "/opt/nv/lang/de.txt");
  EXPECT_TRUE(s.HasLanguageFile());
  EXPECT_FALSE(dictionary_key.IsOpen());
  s.language_file = "a.b";
  EXPECT_FALSE(s.HasLanguageFile());
}

}  // namespace
}  // namespace norvane
