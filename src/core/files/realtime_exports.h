// Realtime recordings as text: the CSV, the HTML table and the minute log, one row per minute.
#pragma once

#include <ctime>
#include <string>

#include "core/common/clock.h"
#include "core/files/writer_options.h"
#include "core/history/realtime_series.h"

namespace norvane {

// Only the measured seconds are written, the first row starting at `start` (the series' start
// time as local time; seconds are dropped from the row times). A last part-minute is a shorter
// row in the CSV and the HTML table.
std::string BuildRealtimeCsv(const RealtimeSeries& series, const LocalTime& start, const WriterOptions& options);
std::string BuildRealtimeHtml(const RealtimeSeries& series, const LocalTime& start, const WriterOptions& options);
// Whole minutes only. The first field counts thousands of days since 1970 from the series' start time.
std::string BuildMinuteLog(const RealtimeSeries& series, const LocalTime& start);

// Each writes its file whole or not at all; false (with the reason in *error) when it could not
// be created. The path's extension is the caller's business, except for the minute log, which
// ensures its own.
bool WriteRealtimeCsv(const std::string& path, const RealtimeSeries& series, const Clock& clock,
                      const WriterOptions& options, std::string* error = nullptr);
bool WriteRealtimeHtml(const std::string& path, const RealtimeSeries& series, const Clock& clock,
                       const WriterOptions& options, std::string* error = nullptr);
bool WriteMinuteLog(const std::string& path, const RealtimeSeries& series, const Clock& clock,
                    std::string* error = nullptr);

}  // namespace norvane
