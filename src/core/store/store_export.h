// Measured seconds of the store written out as CSV, HTML, minute log or realtime binary.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "core/common/clock.h"
#include "core/files/writer_options.h"
#include "core/store/dose_scale.h"
#include "core/store/store.h"

namespace norvane::store {

enum class ExportKind { kCsv, kHtml, kMinuteLog, kBinary };

// By the file's ending: .csv, .html/.htm, .R@H (either case) or .rbn; empty for any other.
std::optional<ExportKind> ExportKindOf(std::string_view path);

struct ExportText {
  std::string text;
  std::string error;          // non-empty: nothing to write, and why
  size_t partial_minutes = 0; // measured in part: written with empty cells for the seconds not measured
};

// The seconds of [from, to) (oldest first, as ReadSeconds gives them) through the file writers.
// A range that crosses days is one file, and a minute without a measured second is no row. A
// minute measured in part is a row all the same: in the CSV and the HTML table its unmeasured
// seconds are empty cells; in the minute log, which has no cells, it counts what was measured. A
// realtime binary holds one unbroken recording of at most a day, so a gap there is an error.
// The CSV's µSv/h of each minute comes from `scale` at that minute.
ExportText BuildExport(std::span<const Second> seconds, int64_t from, ExportKind kind, const WriterOptions& options,
                       const Clock& clock, const DoseScale& scale);

// The tidy export: one row per measured second and per downloaded record, for tools that read a
// table as it is (pandas, R, a spreadsheet). Columns: time (local ISO 8601 with its offset),
// counter, type ("live" for a measured second, else the record's save type such as
// "every_minute"), seconds (the length it counted: 1, 60 or 3600), count (counts over that
// length), usv_h (the dose rate of that count, by the counter's calibration at that time; see
// CounterStore::Calibrations) and note (a downloaded note at that time). The
// counter is named by its user-given name, else its model, else its version reply.
enum class TidyFormat { kCsv, kJsonLines };

// By the file's ending: .jsonl for JSON Lines, else CSV.
TidyFormat TidyFormatOf(std::string_view path);

struct TidyExport {
  size_t seconds = 0, records = 0;  // rows of each kind
  bool dead_time_capped = false;    // a dead-time correction was held at its limit
  bool written = true;              // false: `write` refused a part, and the export stopped there
};

// The rows of `counter` in [from, to), oldest first (a measured second before a record of the
// same time), read and handed to `write` a day at a time: a year of seconds is gigabytes.
TidyExport BuildTidyExport(CounterStore& db, CounterId counter, int64_t from, int64_t to, TidyFormat format,
                           const ConversionTable& conversion, const Clock& clock,
                           const std::function<bool(std::string_view)>& write);

}  // namespace norvane::store
