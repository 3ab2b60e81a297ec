#include "core/files/file_saver.h"

#include <algorithm>

#include "core/common/text_format.h"
#include "core/files/dump_file.h"
#include "core/files/file_naming.h"
#include "core/files/history_csv.h"
#include "core/files/realtime_binary.h"
#include "core/files/realtime_exports.h"
#include "core/platform/atomic_file.h"

namespace norvane {
namespace {

enum class Writer { kRealtimeBinary, kMinuteLog, kRealtimeCsv, kRealtimeHtml, kWindowPicture };

struct SaveKind {
  std::string_view pattern;
  std::string_view extension;
  Writer writer;
};

// First match wins: "*.html" must come before "*.htm", which it contains.
constexpr SaveKind kSaveKinds[] = {
    {"*.bin", ".bin", Writer::kRealtimeBinary}, {"*.rbn", ".rbn", Writer::kRealtimeBinary},
    {"*.R@H", ".R@H", Writer::kMinuteLog},      {"*.csv", ".csv", Writer::kRealtimeCsv},
    {"*.html", ".html", Writer::kRealtimeHtml}, {"*.htm", ".htm", Writer::kRealtimeHtml},
    {"*.bmp", ".bmp", Writer::kWindowPicture},  {"*.jpg", ".jpg", Writer::kWindowPicture},
    {"*.jpeg", ".jpeg", Writer::kWindowPicture},
};

bool Contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

}  // namespace

std::string SaveStatusEntry(const LocalTime& now, std::string_view word, std::string_view path) {
  return Format("20%02d-%02d-%02d %02d:%02d:%02d:\r\n", (now.year - 2000) % 100, now.month, now.day, now.hour,
                now.minute, now.second) +
         std::string(word) + ":" + std::string(path) + "\r\n";
}

bool AllSaved(std::span<const SaveResult> results) {
  return std::all_of(results.begin(), results.end(), [](const SaveResult& r) { return r.saved(); });
}

std::vector<std::string_view> RealtimePatternsFor(std::string_view type_text) {
  const std::string text = LowerAscii(type_text);
  if (Contains(text, "both")) return {"*.rbn", "*.csv"};
  if (Contains(text, "html")) return {"*.html"};
  if (Contains(text, "htm")) return {"*.htm"};
  if (Contains(text, "r@h")) return {"*.R@H"};
  if (Contains(text, "rbn")) return {"*.rbn"};
  if (Contains(text, "bin")) return {"*.bin"};
  if (Contains(text, "csv")) return {"*.csv"};
  return {};
}

FileSaver::FileSaver(DataSet& data, const LanguageDictionary& dictionary, const Clock& clock, UserNotifier& notifier)
    : data_(data), dictionary_(dictionary), clock_(clock), notifier_(notifier) {
  options_.conversion = data.conversion;
}

void FileSaver::set_options(const WriterOptions& options) {
  std::string model = std::move(options_.model);
  options_ = options;
  if (options_.model.empty()) options_.model = std::move(model);
}

SaveResult FileSaver::Logged(SaveResult result) {
  // Only a file really written says "Saved": a type without a writer is no success either.
  const int entry = result.saved() ? kSavedTextEntry : kFileErrorTextEntry;
  notifier_.Status(SaveStatusEntry(clock_.LocalNow(), dictionary_.GetText(entry), result.path));
  return result;
}

SaveResult FileSaver::SaveByType(std::string_view pattern, std::string_view path) {
  if (!pattern.empty()) pattern_ = pattern;
  if (!path.empty()) path_ = path;

  SaveResult result;
  result.path = path_;
  const auto kind = std::find_if(std::begin(kSaveKinds), std::end(kSaveKinds),
                                 [&](const SaveKind& k) { return Contains(pattern_, k.pattern); });
  if (kind == std::end(kSaveKinds)) {
    result.error = "no writer for the file type '" + pattern_ + "'";
    return Logged(std::move(result));
  }
  // Either case of the minute log's extension is its own; the others are matched as given.
  result.path = kind->writer == Writer::kMinuteLog ? EnsureMinuteLogExtension(path_)
                                                   : EnsureExtension(path_, kind->extension);
  const RealtimeSeries& series = data_.realtime;
  bool written = false;
  switch (kind->writer) {
    case Writer::kRealtimeBinary:
      written = WriteRealtimeBinary(result.path, series, clock_, &result.error);
      break;
    case Writer::kMinuteLog:
      written = WriteMinuteLog(result.path, series, clock_, &result.error);
      break;
    case Writer::kRealtimeCsv:
      written = WriteRealtimeCsv(result.path, series, clock_, options_, &result.error);
      break;
    case Writer::kRealtimeHtml:
      written = WriteRealtimeHtml(result.path, series, clock_, options_, &result.error);
      break;
    case Writer::kWindowPicture:
      if (!picture_writer_) {
        result.error = "no window to take a picture of";
      } else {
        written = picture_writer_(kind->pattern, result.path, &result.error);
        // The picture's own line comes before the dispatcher's entry.
        if (!written) notifier_.Status(dictionary_.GetText(kFileErrorTextEntry) + ":" + result.path);
      }
      break;
  }
  result.outcome = written ? SaveOutcome::kSaved : SaveOutcome::kFileError;
  return Logged(std::move(result));
}

SaveResult FileSaver::ExportHistoryCsv(std::string_view pattern, std::string_view path) {
  SaveResult result;
  result.path = std::string(path);
  bool written = false;
  if (Contains(pattern, "*.csv") || Contains(pattern, "both")) {
    result.path = EnsureExtension(path, ".csv");
    written = AtomicWriteFile(result.path, BuildHistoryCsv(data_.dump.image(), options_), &result.error);
  } else if (Contains(pattern, "*.htm")) {
    result.path = EnsureExtension(path, Contains(pattern, "*.html") ? ".html" : ".htm");
    written = WriteRealtimeHtml(result.path, data_.realtime, clock_, options_, &result.error);
  } else {
    result.error = "no writer for the file type '" + std::string(pattern) + "'";
    return Logged(std::move(result));
  }
  result.outcome = written ? SaveOutcome::kSaved : SaveOutcome::kFileError;
  return Logged(std::move(result));
}

std::vector<SaveResult> FileSaver::SaveRealtimeAs(std::string_view type_text, std::string_view path) {
  const std::vector<std::string_view> patterns = RealtimePatternsFor(type_text);
  // Two files share one name: "day.rbn" typed for both gives day.rbn and day.csv, not day.rbn.csv.
  if (patterns.size() > 1) {
    for (std::string_view ending : {".rbn", ".csv"})
      if (path.ends_with(ending)) path.remove_suffix(ending.size());
  }
  std::vector<SaveResult> results;
  for (std::string_view pattern : patterns) results.push_back(SaveByType(pattern, path));
  if (results.empty()) {
    notifier_.Message("Nothing was saved: choose one of the file types.", "Save Realtime Data");
    return results;
  }
  // Resetting after a save that failed would throw the only copy of the recording away.
  const bool any_saved = std::any_of(results.begin(), results.end(), [](const SaveResult& r) { return r.saved(); });
  if (any_saved && notifier_.Ask("Reset and Restart?", "Reset and Restart?")) data_.ClearAll(clock_.Now());
  return results;
}

DumpSaveResult FileSaver::SaveDump(std::string_view type_text, std::string_view path,
                                   std::span<const uint8_t> config_received) {
  HistoryDump& dump = data_.dump;
  const std::vector<uint8_t> block = PrepareConfigBlock(dump.model().family, config_received);
  const size_t image_size = dump.image_size();
  std::copy(block.begin(), block.end(), dump.buffer().begin() + static_cast<std::ptrdiff_t>(image_size));

  DumpSaveResult result;
  if (path.empty() || path == "noname") return result;

  const std::string type = LowerAscii(type_text);
  const auto name = DumpFileName(type, path);
  if (!name) {
    result.dump.outcome = SaveOutcome::kFileError;
    result.dump.path = std::string(path);
    result.dump.error = "no dump is written for the file type '" + std::string(type_text) + "'";
    notifier_.Message("Couldn't create the file!");
    return result;
  }
  result.dump.path = *name;
  if (!WriteDumpFile(*name, dump.buffer().first(image_size), block, &result.dump.error)) {
    result.dump.outcome = SaveOutcome::kFileError;
    notifier_.Status(result.dump.error);
    notifier_.Message("Couldn't create the file!");
    return result;
  }
  result.dump.outcome = SaveOutcome::kSaved;
  notifier_.Status("Data saved into: " + *name);
  if (Contains(type, "both")) result.csv = ExportHistoryCsv("both", std::string(path) + ".csv");
  return result;
}

}  // namespace norvane
