// Measured seconds of the store written out as CSV, HTML, minute log or realtime binary.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "core/common/clock.h"
#include "core/files/writer_options.h"
#include "core/store/store.h"

namespace norvane::store {

enum class ExportKind { kCsv, kHtml, kMinuteLog, kBinary };

// By the file's ending: .csv, .html/.htm, .R@H (either case) or .rbn; empty for any other.
std::optional<ExportKind> ExportKindOf(std::string_view path);

struct ExportText {
  std::string text;
  std::string error;          // non-empty: nothing to write, and why
  size_t partial_minutes = 0; // left out: these files hold whole minutes only
};

// The seconds of [from, to) (oldest first, as ReadSeconds gives them) through the file writers.
// A range that crosses days is one file, and a gap between seconds stays a gap between rows. A
// realtime binary holds one unbroken recording of at most a day, so a gap there is an error.
ExportText BuildExport(std::span<const Second> seconds, int64_t from, ExportKind kind, const WriterOptions& options,
                       const Clock& clock);

}  // namespace norvane::store
