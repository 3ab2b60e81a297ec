#include "core/settings/settings_store.h"

#include <gtest/gtest.h>

#include "core/platform/settings_location.h"
#include "tests/common/temp_dir.h"

namespace norvane {
namespace {

using testing::ReadAll;
using testing::TempDir;
using testing::WriteAll;
namespace n = setting_names;

constexpr char kHeader[] =
    "Windows Registry Editor Version 5.00\r\n\r\n"
    "[HKEY_CURRENT_USER\\Software\\Norvane Data Viewer\\Settings]\r\n";

Settings LoadFrom(const std::filesystem::path& file, std::string_view values) {
  WriteAll(file, kHeader + std::string(values));
  return SettingsStore(file).Load();
}

void ExpectDefaults(const Settings& s) {
  EXPECT_EQ(s.auto_save_enabled, 0u);
  EXPECT_EQ(s.AutoSavePeriodSeconds(), 24 * 3600);
  EXPECT_EQ(s.auto_save_restart_counter, 1u);
  EXPECT_EQ(s.cpm_color, 0x000000FFu);
  EXPECT_EQ(s.usv_color, 0x00FF00FFu);
  EXPECT_EQ(s.CsvSeparator(), ',');
  EXPECT_EQ(s.auto_time_sync_period, 12u);
  EXPECT_EQ(s.download_speed, 50u);
  EXPECT_EQ(s.last_geiger_counter_selected, 0u);
  for (size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(s.calibration[i].cpm, kDefaultConversionTable[i].cpm);
    EXPECT_EQ(s.calibration[i].usv, kDefaultConversionTable[i].usv);
  }
  EXPECT_EQ(s.auto_submit_period, 5u);
  EXPECT_FALSE(s.ResumeMonitoring());
}

TEST(SettingsStore, FirstStartCreatesTheKeyAndGivesEveryDefault) {
  TempDir dir;
  auto file = dir / "config" / "norvane-data-viewer" / "settings.reg";
  SettingsStore store(file);
  ExpectDefaults(store.Load());
  EXPECT_NE(ReadAll(file).find("[HKEY_CURRENT_USER\\Software\\Norvane Data Viewer\\Settings]"),
            std::string::npos);
  EXPECT_FALSE(store.Key().IsOpen());  // never left open between uses
}

TEST(SettingsStore, ReadsEveryValueUnderItsExactStoredName) {
  TempDir dir;
  Settings s = LoadFrom(dir / "s.reg",
      "\"AutoSaveEnabled\"=dword:00000001\n\"AutoSaveTimeHour\"=dword:00000001\n"
      "\"AutoSaveTimeMinute\"=dword:00000002\n\"AutoSaveTimeSecond\"=dword:00000003\n"
      "\"AutoSaveRestartCounter\"=dword:00000000\n\"AutoSaveFileType\"=\"R@H\"\n"
      "\"FileSavePath\"=\"/s/\"\n\"FileLoadPath\"=\"/l/\"\n\"FileDownloadPath\"=\"/d/\"\n"
      "\"CPMColor\"=dword:00123456\n\"uSvColor\"=dword:00abcdef\n"
      "\"CsvSaveUseSemicolon\"=dword:00000001\n"
      "\"AutoTimeSyncPeriod\"=dword:00000000\n\"AutoDetectWhenStartUp\"=dword:00000007\n"
      "\"Fast Download\"=dword:00000001\n\"Download Speed\"=dword:00000064\n\"COMPORT\"=dword:00000040\n"
      "\"nLastGeigerCounterSelected\"=dword:00000009\n\"uSVCAL0CPM\"=dword:00000064\n"
      "\"uSVCAL4CPM\"=dword:00002710\n\"uSVCAL0uSv\"=\"0.65\"\n\"uSVCAL4uSv\"=\"65\"\n"
      "\"ZQTmapUserAccountID\"=\"acct\"\n\"ZQTmapGeigerCounterID\"=\"dev-7\"\n"
      "\"AutoSubmitPeriod\"=dword:0000000a\n\"AutoSubmitEnabled\"=dword:00000001\n"
      "\"RealtimeMornitoring\"=dword:00000001\n");
  EXPECT_EQ(s.auto_save_enabled, 1u);
  EXPECT_EQ(s.AutoSavePeriodSeconds(), 3600 + 120 + 3);
  EXPECT_EQ(s.auto_save_restart_counter, 0u);
  EXPECT_EQ(s.auto_save_file_type + s.file_save_path + s.file_load_path + s.file_download_path,
            "R@H/s//l//d/");
  EXPECT_EQ(s.cpm_color, 0x123456u);
  EXPECT_EQ(s.usv_color, 0xABCDEFu);
  EXPECT_EQ(s.CsvSeparator(), ';');
  EXPECT_EQ(s.auto_time_sync_period, 0u);
  EXPECT_EQ(s.auto_detect_when_start_up, 1u);  // any non-zero value is held as 1
  EXPECT_EQ(s.fast_download, 1u);
  EXPECT_EQ(s.download_speed, 100u);
  EXPECT_EQ(s.com_port, 64u);
  EXPECT_EQ(s.last_geiger_counter_selected, 9u);
  EXPECT_EQ(s.calibration[0].cpm, 100u);
  EXPECT_EQ(s.calibration[0].usv, 0.65);
  EXPECT_EQ(s.calibration[1].cpm, 240u);  // points not stored keep theirs
  EXPECT_EQ(s.calibration[4].cpm, 10000u);
  EXPECT_EQ(s.calibration[4].usv, 65.0);
  EXPECT_EQ(s.zqt_map_user_account_id + "|" + s.zqt_map_geiger_counter_id, "acct|dev-7");
  EXPECT_EQ(s.auto_submit_period, 10u);
  EXPECT_TRUE(s.AutoSubmitOn());
  EXPECT_TRUE(s.ResumeMonitoring());
}

TEST(SettingsStore, WrongTypesAndNearMissesKeepTheDefaults) {
  TempDir dir;
  Settings s = LoadFrom(dir / "s.reg",
      "\"CPMColor\"=\"255\"\n\"Download Speed\"=hex:10,00,00,00\n\"FileSavePath\"=dword:00000001\n"
      "\"uSVCAL0CPM\"=\"100\"\n\"uSVCAL0uSv\"=dword:00000002\n\"uSVCAL1uSv\"=\"abc\"\n"
      "\"uSVCAL2uSv\"=\"  7.25 uSv/h\"\n\"uSVCAL3uSv\"=\"\"\n"
      "\"RealtimeMornitoring\"=dword:00000002\n\"AutoSubmitEnabled\"=dword:00000002\n"
      "\"CsvSaveUseSemicolon\"=dword:00000002\n\"AutoSaveTimeHour\"=dword:00000000\n"
      "\"AutoSaveTimeSecond\"=dword:00000003\n");
  EXPECT_EQ(s.cpm_color, 0x000000FFu);
  EXPECT_EQ(s.download_speed, 50u);
  EXPECT_EQ(s.file_save_path, "");
  EXPECT_EQ(s.calibration[0].cpm, 60u);
  EXPECT_EQ(s.calibration[0].usv, 0.39);
  EXPECT_EQ(s.calibration[1].usv, 1.56);  // text that is not a number
  EXPECT_EQ(s.calibration[2].usv, 7.25);  // read like %lf: the leading number counts
  EXPECT_EQ(s.calibration[3].usv, 13.0);
  EXPECT_FALSE(s.ResumeMonitoring());
  EXPECT_FALSE(s.AutoSubmitOn());
  EXPECT_EQ(s.CsvSeparator(), ',');
  EXPECT_EQ(s.AutoSavePeriodSeconds(), 5);  // 0 h 0 min 3 s

  s.auto_save_time_hour = s.auto_save_time_minute = s.auto_save_time_second = 0xFFFFFFFF;
  EXPECT_EQ(s.AutoSavePeriodSeconds(), int64_t{0xFFFFFFFF} * 3661);  // no 32-bit wrap
}

TEST(SettingsStore, WritesSurviveAReloadAndFoldersKeepTheirSeparator) {
  TempDir dir;
  auto file = dir / "s.reg";
  WriteAll(file, std::string(kHeader) + "\"Window\"=hex:01,02,\\\r\n  03\r\n");
  SettingsStore store(file);
  store.StoreNumber(n::kCpmColor, 0x00112233);
  store.StoreText(n::kZqtMapUserAccountId, "we \"quote\" and \\back\\slash");
  store.StoreText(n::kZqtMapGeigerCounterId, "bad\nvalue");  // cannot be stored: lost
  const std::string sep(1, kPathSeparator);
  EXPECT_EQ(store.StoreFolderOf(n::kFileSavePath, sep + "data" + sep + "run.csv"), sep + "data" + sep);
  EXPECT_EQ(store.StoreFolderOf(n::kFileSavePath, "run.csv"), std::nullopt);
  EXPECT_FALSE(store.Key().IsOpen());

  Settings s = store.Load();
  EXPECT_EQ(s.cpm_color, 0x00112233u);
  EXPECT_EQ(s.zqt_map_user_account_id, "we \"quote\" and \\back\\slash");
  EXPECT_EQ(s.zqt_map_geiger_counter_id, "");
  EXPECT_EQ(s.file_save_path, sep + "data" + sep);  // untouched by the path without a separator
  EXPECT_NE(ReadAll(file).find("\"Window\"=hex:01,02,\\\n  03\n"), std::string::npos);
}

TEST(SettingsStore, DamagedOrUnusableFilesGiveDefaults) {
  TempDir dir;
  WriteAll(dir / "empty.reg", "");
  ExpectDefaults(SettingsStore(dir / "empty.reg").Load());
  std::string junk;
  for (int i = 0; i < 4096; ++i) junk.push_back(static_cast<char>((i * 7919) % 251));
  WriteAll(dir / "junk.reg", junk);
  ExpectDefaults(SettingsStore(dir / "junk.reg").Load());
  WriteAll(dir / "noheader.reg", "\"CPMColor\"=dword:00000001\n");
  ExpectDefaults(SettingsStore(dir / "noheader.reg").Load());
  std::filesystem::create_directory(dir / "folder.reg");
  ExpectDefaults(SettingsStore(dir / "folder.reg").Load());
  ExpectDefaults(SettingsStore(std::filesystem::path()).Load());

  // Only the header lost: the values below an intact section line still count.
  WriteAll(dir / "headless.reg",
           "[HKEY_CURRENT_USER\\Software\\Norvane Data Viewer\\Settings]\n\"COMPORT\"=dword:00000004\n");
  EXPECT_EQ(SettingsStore(dir / "headless.reg").Load().com_port, 4u);
}

TEST(SettingsStore, LanguageFileIsReadWithTheDictionarysOwnKey) {
  TempDir dir;
  RegistryKey dictionary_key(dir / "s.reg");
  EXPECT_EQ(ReadLanguageFileSetting(dictionary_key), "");  // no file yet
  WriteAll(dir / "s.reg", std::string(kHeader) + "\"LanguageFile\"=\"/opt/nv/de.txt\"\r\n");
  Settings s;
  s.language_file = ReadLanguageFileSetting(dictionary_key);
  EXPECT_EQ(s.language_file, "/opt/nv/de.txt");
  EXPECT_TRUE(s.HasLanguageFile());
  s.language_file = "a.b";
  EXPECT_FALSE(s.HasLanguageFile());
}

}  // namespace
}  // namespace norvane
