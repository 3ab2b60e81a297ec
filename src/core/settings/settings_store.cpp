#include "core/settings/settings_store.h"

#include "core/common/text_format.h"
#include "core/platform/settings_location.h"

namespace norvane {
namespace {

namespace n = setting_names;

// Each read starts from the default, never from whatever was read before it.
uint32_t NumberOr(const RegistryKey& key, const char* name, uint32_t fallback) {
  uint32_t value = fallback;
  key.ReadNumber(name, value);
  return value;
}

std::string TextOr(const RegistryKey& key, const char* name, const std::string& fallback) {
  std::string value = fallback;
  key.ReadText(name, value);
  return value;
}

}  // namespace

int64_t Settings::AutoSavePeriodSeconds() const {
  int64_t seconds = int64_t{auto_save_time_hour} * 3600 + int64_t{auto_save_time_minute} * 60 +
                    int64_t{auto_save_time_second};
  return seconds < 5 ? 5 : seconds;
}

char Settings::CsvSeparator() const { return csv_save_use_semicolon == 1 ? ';' : ','; }

bool Settings::ResumeMonitoring() const { return realtime_mornitoring == 1; }

bool Settings::AutoSubmitOn() const { return auto_submit_enabled == 1; }

bool Settings::HasLanguageFile() const { return language_file.size() > 3; }

std::string ReadLanguageFileSetting(RegistryKey& key) {
  std::string path;
  key.OpenNamed(kSettingsKey);
  key.ReadText(n::kLanguageFile, path);
  key.Close();
  return path;
}

SettingsStore::SettingsStore(RegistryKey& key) : key_(key) {}

SettingsStore::SettingsStore(const std::filesystem::path& file)
    : owned_key_(std::make_unique<RegistryKey>(file)), key_(*owned_key_) {}

Settings SettingsStore::Load() {
  const Settings d;
  Settings s;

  // A failed open leaves every read below failing, so everything keeps its default.
  key_.OpenNamed(kSettingsKey);
  s.auto_save_enabled = NumberOr(key_, n::kAutoSaveEnabled, d.auto_save_enabled);
  s.auto_save_time_hour = NumberOr(key_, n::kAutoSaveTimeHour, d.auto_save_time_hour);
  s.auto_save_time_minute = NumberOr(key_, n::kAutoSaveTimeMinute, d.auto_save_time_minute);
  s.auto_save_time_second = NumberOr(key_, n::kAutoSaveTimeSecond, d.auto_save_time_second);
  s.auto_save_restart_counter = NumberOr(key_, n::kAutoSaveRestartCounter, d.auto_save_restart_counter);
  s.auto_save_file_type = TextOr(key_, n::kAutoSaveFileType, d.auto_save_file_type);
  s.file_save_path = TextOr(key_, n::kFileSavePath, d.file_save_path);
  s.file_load_path = TextOr(key_, n::kFileLoadPath, d.file_load_path);
  s.file_download_path = TextOr(key_, n::kFileDownloadPath, d.file_download_path);
  s.cpm_color = NumberOr(key_, n::kCpmColor, d.cpm_color);
  s.usv_color = NumberOr(key_, n::kUsvColor, d.usv_color);
  s.auto_time_sync_period = NumberOr(key_, n::kAutoTimeSyncPeriod, d.auto_time_sync_period);
  s.fast_download = NumberOr(key_, n::kFastDownload, d.fast_download);
  s.download_speed = NumberOr(key_, n::kDownloadSpeed, d.download_speed);
  s.auto_detect_when_start_up =
      NumberOr(key_, n::kAutoDetectWhenStartUp, d.auto_detect_when_start_up) != 0 ? 1 : 0;
  s.com_port = NumberOr(key_, n::kComPort, d.com_port);
  s.last_geiger_counter_selected =
      NumberOr(key_, n::kLastGeigerCounterSelected, d.last_geiger_counter_selected);
  for (size_t i = 0; i < s.calibration.size(); ++i)
    s.calibration[i].cpm = NumberOr(key_, n::kCalibrationCpm[i], d.calibration[i].cpm);
  for (size_t i = 0; i < s.calibration.size(); ++i) {
    // Text that is not a number keeps the point's default: a zero dose rate would silently
    // flatten every reading converted through this point.
    std::string text;
    std::optional<double> usv;
    if (key_.ReadText(n::kCalibrationUsv[i], text)) usv = ParseLeadingDouble(text);
    s.calibration[i].usv = usv ? *usv : d.calibration[i].usv;
  }
  key_.Close();

  key_.OpenNamed(kSettingsKey);
  s.zqt_map_user_account_id = TextOr(key_, n::kZqtMapUserAccountId, d.zqt_map_user_account_id);
  s.zqt_map_geiger_counter_id = TextOr(key_, n::kZqtMapGeigerCounterId, d.zqt_map_geiger_counter_id);
  s.zqt_map_server = TextOr(key_, n::kZqtMapServer, d.zqt_map_server);
  s.auto_submit_period = NumberOr(key_, n::kAutoSubmitPeriod, d.auto_submit_period);
  s.auto_submit_enabled = NumberOr(key_, n::kAutoSubmitEnabled, d.auto_submit_enabled);
  s.realtime_mornitoring = NumberOr(key_, n::kRealtimeMornitoring, d.realtime_mornitoring);
  s.csv_save_use_semicolon = NumberOr(key_, n::kCsvSaveUseSemicolon, d.csv_save_use_semicolon);
  key_.Close();
  return s;
}

// The key is made by the first write rather than at start-up, so only a change writes the file.
void SettingsStore::StoreNumber(std::string_view name, uint32_t value) {
  if (!key_.OpenNamed(kSettingsKey)) key_.Create(kSettingsKey);
  key_.WriteNumber(name, value);
  key_.Close();
}

void SettingsStore::StoreText(std::string_view name, std::string_view text) {
  if (!key_.OpenNamed(kSettingsKey)) key_.Create(kSettingsKey);
  key_.WriteText(name, text);
  key_.Close();
}

std::optional<std::string> SettingsStore::StoreFolderOf(std::string_view name,
                                                        std::string_view chosen_file_path) {
  size_t last = chosen_file_path.rfind(kPathSeparator);
  if (last == std::string_view::npos) return std::nullopt;
  std::string folder(chosen_file_path.substr(0, last + 1));
  StoreText(name, folder);
  return folder;
}

}  // namespace norvane
