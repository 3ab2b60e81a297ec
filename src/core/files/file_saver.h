// Saving on the user's command or a timer: the save dispatcher, the history CSV export and the
// dump written after a download. Every save ends with one entry in the status log.
#pragma once

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/common/clock.h"
#include "core/common/user_notifier.h"
#include "core/files/writer_options.h"
#include "core/history/data_set.h"
#include "core/i18n/language_dictionary.h"

namespace norvane {

enum class SaveOutcome {
  kSaved,
  kFileError,       // the file could not be created; nothing was changed on disk
  kNothingWritten,  // no writer for the type, or no file name (the image stays in memory)
};

struct SaveResult {
  SaveOutcome outcome = SaveOutcome::kNothingWritten;
  std::string path;   // the file as named on disk, extension ensured
  std::string error;  // the system's reason for kFileError
  bool saved() const { return outcome == SaveOutcome::kSaved; }
};

// True when every one of the saves wrote its file.
bool AllSaved(std::span<const SaveResult> results);

struct DumpSaveResult {
  SaveResult dump;
  std::optional<SaveResult> csv;  // for the "both" type
};

// "20YY-MM-DD hh:mm:ss:\r\n<word>:<path>\r\n", the status log's record of one save.
std::string SaveStatusEntry(const LocalTime& now, std::string_view word, std::string_view path);

// Patterns SaveRealtimeAs hands to SaveByType for a dialog type text, first match of "both",
// "html", "htm", "r@h", "rbn", "bin", "csv" winning. Empty for any other type.
std::vector<std::string_view> RealtimePatternsFor(std::string_view type_text);

class FileSaver {
 public:
  FileSaver(DataSet& data, const LanguageDictionary& dictionary, const Clock& clock, UserNotifier& notifier);

  // Separator, dose table and header words; until set, commas, the data set's table and English.
  // The model stays the one set_model gave: it belongs to the data, not to the settings.
  void set_options(const WriterOptions& options);
  // The counter model the realtime data comes from, which the HTML header names.
  void set_model(std::string_view model) { options_.model = model; }
  const WriterOptions& options() const { return options_; }

  // Takes the window's picture for "*.bmp", "*.jpg" and "*.jpeg": the pattern, the path with its
  // extension ensured, and where to say why it failed.
  using PictureWriter = std::function<bool(std::string_view pattern, const std::string& path, std::string* error)>;
  void set_picture_writer(PictureWriter writer) { picture_writer_ = std::move(writer); }

  // Writes the realtime series by a type pattern ("*.bin", "*.rbn", "*.R@H", "*.csv", "*.html",
  // "*.htm"), or the window's picture ("*.bmp", "*.jpg", "*.jpeg"). An empty pattern or path
  // means the one used last.
  SaveResult SaveByType(std::string_view pattern, std::string_view path);

  // The history CSV for "*.csv" or "both", the realtime HTML for "*.htm" or "*.html".
  SaveResult ExportHistoryCsv(std::string_view pattern, std::string_view path);

  // The realtime save dialog's choice: saves by the type text, then, when anything was saved,
  // asks whether to reset the data and does so on yes.
  std::vector<SaveResult> SaveRealtimeAs(std::string_view type_text, std::string_view path);

  // After a download: stores the configuration block that arrived after the image and writes the
  // dump (and for "both" the CSV). An empty path or "noname" keeps the image in memory only.
  DumpSaveResult SaveDump(std::string_view type_text, std::string_view path,
                          std::span<const uint8_t> config_received);

 private:
  SaveResult Logged(SaveResult result);

  DataSet& data_;
  const LanguageDictionary& dictionary_;
  const Clock& clock_;
  UserNotifier& notifier_;
  WriterOptions options_;
  PictureWriter picture_writer_;
  std::string path_;
  std::string pattern_;
};

}  // namespace norvane
