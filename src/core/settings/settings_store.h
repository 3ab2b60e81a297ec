// The program's persistent settings: their names, defaults, the start-up load and the writers.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/common/dose_conversion.h"
#include "core/settings/registry_key.h"

namespace norvane {

inline constexpr char kSettingsKey[] = "Software\\Norvane Data Viewer\\Settings";

// The stored value names, letter for letter: other versions of the program share the file, so
// the odd spellings ("Fast Download", "RealtimeMornitoring") must stay.
namespace setting_names {
inline constexpr char kAutoSaveEnabled[] = "AutoSaveEnabled";
inline constexpr char kAutoSaveTimeHour[] = "AutoSaveTimeHour";
inline constexpr char kAutoSaveTimeMinute[] = "AutoSaveTimeMinute";
inline constexpr char kAutoSaveTimeSecond[] = "AutoSaveTimeSecond";
inline constexpr char kAutoSaveRestartCounter[] = "AutoSaveRestartCounter";
inline constexpr char kAutoSaveFileType[] = "AutoSaveFileType";
inline constexpr char kFileSavePath[] = "FileSavePath";
inline constexpr char kFileLoadPath[] = "FileLoadPath";
inline constexpr char kFileDownloadPath[] = "FileDownloadPath";
inline constexpr char kCpmColor[] = "CPMColor";
inline constexpr char kUsvColor[] = "uSvColor";
inline constexpr char kCsvSaveUseSemicolon[] = "CsvSaveUseSemicolon";
inline constexpr char kAutoTimeSyncPeriod[] = "AutoTimeSyncPeriod";
inline constexpr char kAutoDetectWhenStartUp[] = "AutoDetectWhenStartUp";
inline constexpr char kFastDownload[] = "Fast Download";
inline constexpr char kDownloadSpeed[] = "Download Speed";
inline constexpr char kComPort[] = "COMPORT";
inline constexpr char kLastGeigerCounterSelected[] = "nLastGeigerCounterSelected";
inline constexpr const char* kCalibrationCpm[5] = {"uSVCAL0CPM", "uSVCAL1CPM", "uSVCAL2CPM",
                                                   "uSVCAL3CPM", "uSVCAL4CPM"};
inline constexpr const char* kCalibrationUsv[5] = {"uSVCAL0uSv", "uSVCAL1uSv", "uSVCAL2uSv",
                                                   "uSVCAL3uSv", "uSVCAL4uSv"};
inline constexpr char kZqtMapUserAccountId[] = "ZQTmapUserAccountID";
inline constexpr char kZqtMapGeigerCounterId[] = "ZQTmapGeigerCounterID";
inline constexpr char kZqtMapServer[] = "ZQTmapServer";
inline constexpr char kAutoSubmitPeriod[] = "AutoSubmitPeriod";
inline constexpr char kAutoSubmitEnabled[] = "AutoSubmitEnabled";
inline constexpr char kRealtimeMornitoring[] = "RealtimeMornitoring";
inline constexpr char kLanguageFile[] = "LanguageFile";
}  // namespace setting_names

// In-memory copies of every stored value; a default-constructed Settings holds the defaults.
// Values are kept as stored: the helpers below apply the few rules that interpret them.
struct Settings {
  uint32_t auto_save_enabled = 0;
  uint32_t auto_save_time_hour = 24;
  uint32_t auto_save_time_minute = 0;
  uint32_t auto_save_time_second = 0;
  uint32_t auto_save_restart_counter = 1;
  std::string auto_save_file_type;  // "ALL", "htm", "rbn", … compared case-sensitively; else CSV
  std::string file_save_path;       // folders end with their separator
  std::string file_load_path;
  std::string file_download_path;
  uint32_t cpm_color = 0x000000FF;  // 0x00BBGGRR
  uint32_t usv_color = 0x00FF00FF;
  uint32_t csv_save_use_semicolon = 0;
  uint32_t auto_time_sync_period = 12;     // hours, 0 = off
  uint32_t auto_detect_when_start_up = 0;  // 0 or 1 after loading
  uint32_t fast_download = 0;
  uint32_t download_speed = 50;
  uint32_t com_port = 0;
  uint32_t last_geiger_counter_selected = 0;
  ConversionTable calibration = kDefaultConversionTable;
  std::string zqt_map_user_account_id;
  std::string zqt_map_geiger_counter_id;
  std::string zqt_map_server = "http://www.zqtmap.com/";  // log2.asp and testlog.asp live here
  uint32_t auto_submit_period = 5;  // minutes
  uint32_t auto_submit_enabled = 0;
  uint32_t realtime_mornitoring = 0;
  // Not filled by SettingsStore::Load: the language dictionary reads it with its own key
  // through ReadLanguageFileSetting before the main window loads the rest.
  std::string language_file;

  // Hours, minutes and seconds together, never below 5 s. 64-bit: the parts are 32-bit each.
  int64_t AutoSavePeriodSeconds() const;
  char CsvSeparator() const;      // ';' only for exactly 1
  bool ResumeMonitoring() const;  // exactly 1
  bool AutoSubmitOn() const;      // exactly 1
  bool HasLanguageFile() const;   // a path of 3 characters or fewer is ignored
};

// Reads LanguageFile (open, read, close) with the dictionary's own key object. Empty when absent.
std::string ReadLanguageFileSetting(RegistryKey& key);

// Loads and stores the settings. Every failure is silent: an unreadable store means defaults, a
// failed write is lost. User-interface thread only, like the key it uses.
class SettingsStore {
 public:
  explicit SettingsStore(RegistryKey& key);
  explicit SettingsStore(const std::filesystem::path& file);
  SettingsStore(const SettingsStore&) = delete;
  SettingsStore& operator=(const SettingsStore&) = delete;

  // The start-up load: reads the values in the order and groups the main window has always
  // used. The caller then applies COMPORT and the model index to its lists and arms the
  // monitoring restart when ResumeMonitoring() says so. Loading never writes: a command that only
  // reads leaves the file as it was, and a file that is not ours is never replaced.
  Settings Load();
  // Why the file cannot be used (its values then keep their defaults and nothing is written to
  // it); empty when it can, or does not exist yet.
  std::string FileProblem() const { return key_.FileProblem(); }

  // Each writes one value at the moment a feature changes it: open (creating the key on a first
  // write), write, close.
  void StoreNumber(std::string_view name, uint32_t value);
  void StoreText(std::string_view name, std::string_view text);
  // Stores the folder of a chosen file (FileSavePath, FileLoadPath, FileDownloadPath): the path
  // cut back to its last separator, which is kept. A path without a separator stores nothing.
  std::optional<std::string> StoreFolderOf(std::string_view name, std::string_view chosen_file_path);

  RegistryKey& Key() { return key_; }

 private:
  std::unique_ptr<RegistryKey> owned_key_;  // set only when constructed from a file path
  RegistryKey& key_;
};

}  // namespace norvane
