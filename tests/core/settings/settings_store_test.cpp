#include "core/settings/settings_store.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <ctime>
#include <mutex>
#include <thread>

#include "core/common/text_format.h"
#include "core/platform/settings_location.h"
#include "tests/common/temp_dir.h"

namespace norvane {
namespace {

using testing::EntryCount;
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

TEST(SettingsStore, FirstStartGivesEveryDefaultAndTheFirstWriteCreatesTheKey) {
  TempDir dir;
  auto file = dir / "config" / "norvane-data-viewer" / "settings.reg";
  SettingsStore store(file);
  ExpectDefaults(store.Load());
  EXPECT_FALSE(std::filesystem::exists(file));  // loading alone writes nothing
  EXPECT_EQ(store.FileProblem(), "");
  store.StoreNumber(n::kComPort, 3);
  EXPECT_NE(ReadAll(file).find("[HKEY_CURRENT_USER\\Software\\Norvane Data Viewer\\Settings]\n\"COMPORT\"=dword:00000003"),
            std::string::npos);
  EXPECT_EQ(store.Load().com_port, 3u);
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

TEST(SettingsStore, AFileThatIsNotASettingsFileIsNeverWritten) {
  TempDir dir;
  std::string junk;
  for (int i = 0; i < 4096; ++i) junk.push_back(static_cast<char>((i * 7919) % 251));
  WriteAll(dir / "junk.reg", junk);
  WriteAll(dir / "notes.txt", "\"COMPORT\"=dword:00000004\nmy own notes\n");
  for (const char* name : {"junk.reg", "notes.txt"}) {
    SCOPED_TRACE(name);
    const std::string before = ReadAll(dir / name);
    SettingsStore store(dir / name);
    ExpectDefaults(store.Load());
    store.StoreNumber(n::kCpmColor, 7);
    store.StoreText(n::kFileSavePath, "/tmp/");
    EXPECT_EQ(ReadAll(dir / name), before);  // the user's file survives, whatever it holds
    EXPECT_NE(store.FileProblem().find("does not read as a settings file"), std::string::npos) << store.FileProblem();
    EXPECT_EQ(EntryCount(dir.path()), 2u);  // and nothing was left beside it
  }

  // Valid settings are still rewritten in place; a file with only its header lost is still ours.
  WriteAll(dir / "headless.reg", "[HKEY_CURRENT_USER\\Software\\Norvane Data Viewer\\Settings]\n");
  SettingsStore headless(dir / "headless.reg");
  headless.StoreNumber(n::kCpmColor, 7);
  EXPECT_EQ(headless.Load().cpm_color, 7u);
  EXPECT_EQ(headless.FileProblem(), "");
}

TEST(SettingsStore, OnlyRegularFilesOfASaneSizeAreRead) {
  TempDir dir;
  ASSERT_EQ(mkfifo((dir / "fifo.reg").c_str(), 0600), 0);
  // Were the store to wait for a writer on the FIFO, this one lets every such wait go after
  // 20 s: the time check below then fails instead of the test hanging.
  std::mutex mutex;
  std::condition_variable done_changed;
  bool done = false;
  std::thread release([&] {
    std::unique_lock lock(mutex);
    if (done_changed.wait_for(lock, std::chrono::seconds(20), [&] { return done; })) return;
    while (!done_changed.wait_for(lock, std::chrono::milliseconds(100), [&] { return done; })) {
      const int fd = open((dir / "fifo.reg").c_str(), O_WRONLY | O_NONBLOCK);
      if (fd >= 0) close(fd);
    }
  });
  const auto start = std::chrono::steady_clock::now();
  SettingsStore fifo(dir / "fifo.reg");
  ExpectDefaults(fifo.Load());
  fifo.StoreNumber(n::kComPort, 2);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  {
    std::lock_guard lock(mutex);
    done = true;
  }
  done_changed.notify_all();
  release.join();
  EXPECT_TRUE(std::filesystem::is_fifo(dir / "fifo.reg"));
  EXPECT_EQ(fifo.FileProblem(), "not a regular file");

  SettingsStore zero("/dev/zero");  // endless: read whole it would exhaust the memory
  ExpectDefaults(zero.Load());
  EXPECT_EQ(zero.FileProblem(), "not a regular file");

  // Far larger than any settings file: not read (sparse, so the test costs no disk).
  WriteAll(dir / "huge.reg", std::string(kHeader) + "\"COMPORT\"=dword:00000004\r\n");
  std::filesystem::resize_file(dir / "huge.reg", uint64_t{1} << 30);
  SettingsStore huge(dir / "huge.reg");
  ExpectDefaults(huge.Load());
  EXPECT_NE(huge.FileProblem().find("larger than"), std::string::npos);
  huge.StoreNumber(n::kComPort, 2);
  EXPECT_EQ(std::filesystem::file_size(dir / "huge.reg"), uint64_t{1} << 30);
}

TEST(SettingsStore, AFileOfManyValuesLoadsQuickly) {
  // Each value used to be looked up among all those before it: 80 000 took minutes.
  TempDir dir;
  std::string values;
  for (int i = 0; i < 80000; ++i) values += "\"Extra" + std::to_string(i) + "\"=dword:" + Format("%08x", i) + "\r\n";
  values += "\"COMPORT\"=dword:00000009\r\n\"extra79999\"=\"last\"\r\n";
  WriteAll(dir / "s.reg", kHeader + values);
  SettingsStore store(dir / "s.reg");
  // Processor time, which a busy machine does not stretch. A linear load takes well under a
  // second optimised and about two under the sanitizers; the quadratic one took minutes.
  const std::clock_t start = std::clock();
  const Settings s = store.Load();
  EXPECT_LT(std::clock() - start, 20 * CLOCKS_PER_SEC);
  EXPECT_EQ(s.com_port, 9u);

  store.StoreNumber(n::kCpmColor, 5);  // a write reads and rewrites the whole file
  EXPECT_LT(std::clock() - start, 40 * CLOCKS_PER_SEC);
  RegistryKey key(dir / "s.reg");
  ASSERT_TRUE(key.Open(kSettingsKey));
  uint32_t number = 0;
  std::string text;
  EXPECT_TRUE(key.ReadNumber("EXTRA40000", number));
  EXPECT_EQ(number, 40000u);
  EXPECT_TRUE(key.ReadText("Extra79999", text));  // the repeat wins, under its new type
  EXPECT_EQ(text, "last");
  EXPECT_TRUE(key.ReadNumber("CPMColor", number));
  EXPECT_EQ(number, 5u);
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
