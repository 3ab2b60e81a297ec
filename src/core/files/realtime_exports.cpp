#include "core/files/realtime_exports.h"

#include <algorithm>
#include <charconv>
#include <span>

#include "core/common/text_format.h"
#include "core/files/file_naming.h"
#include "core/files/history_csv.h"
#include "core/files/local_time.h"
#include "core/platform/atomic_file.h"

namespace norvane {
namespace {

constexpr uint32_t kRowSeconds = 60;

void AppendNumber(std::string& out, uint64_t value) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  out.append(digits, end);
}

// Rows of at most a minute of measured seconds; only the last one may be shorter.
std::span<const uint32_t> Row(std::span<const uint32_t> seconds, uint32_t row) {
  const size_t first = size_t{row} * kRowSeconds;
  return seconds.subspan(first, std::min<size_t>(kRowSeconds, seconds.size() - first));
}

uint32_t RowCount(std::span<const uint32_t> seconds) {
  return static_cast<uint32_t>((seconds.size() + kRowSeconds - 1) / kRowSeconds);
}

uint64_t Sum(std::span<const uint32_t> seconds) {
  uint64_t sum = 0;
  for (uint32_t v : seconds) sum += v;
  return sum;
}

uint32_t CpmOf(uint64_t sum) { return sum > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(sum); }

std::string RowTime(const StampTime& t) {
  return Format("20%02d-%02d-%02d %02d:%02d", t.year, t.month, t.day, t.hour, t.minute);
}

// Column titles: "1s" in English, else the number and the language's word; lower-cased whole.
std::string SecondTitle(int n, const WriterOptions& options, const char* before, const char* after) {
  std::string title = before + std::to_string(n) + (options.second_suffix ? std::string("s") : options.second_word) + after;
  return LowerAscii(title);
}

}  // namespace

std::string BuildRealtimeCsv(const RealtimeSeries& series, const LocalTime& start, const WriterOptions& options) {
  const char sep = options.separator;
  std::string out = CsvFirstLine(sep);
  out += Format("%s %s%cuSv/h%cCPM%c", options.date_word.c_str(), options.time_word.c_str(), sep, sep, sep);
  const std::string sep_text(1, sep);
  for (int i = 1; i <= 60; ++i) out += SecondTitle(i, options, "", sep_text.c_str());
  out += "\r\n";

  StampTime t = StampFromLocal(start);
  const std::span<const uint32_t> seconds = series.measured();
  const uint32_t rows = RowCount(seconds);
  out.reserve(out.size() + size_t{rows} * 240);
  for (uint32_t r = 0; r < rows; ++r) {
    out += RowTime(t);
    out += sep;
    // A last, shorter row's CPM is the sum of its seconds, as the live CPM of a short series is.
    const std::span<const uint32_t> row = Row(seconds, r);
    const uint64_t sum = Sum(row);
    const uint32_t cpm = CpmOf(sum);
    out += FormatFixed(options.dose_rate ? options.dose_rate(series.start_time() + 60 * int64_t{r}, cpm)
                                         : DoseRateFromCpm(options.conversion, cpm),
                       4);
    out += sep;
    AppendNumber(out, sum);
    out += sep;
    for (uint32_t v : row) {
      AppendNumber(out, v);
      out += sep;
    }
    out += "\r\n";
    AdvanceStamp(t, StampUnit::kMinute);
  }
  return out;
}

std::string BuildRealtimeHtml(const RealtimeSeries& series, const LocalTime& start, const WriterOptions& options) {
  std::string out = "<html><font size=5, color=green>";
  // The page names the counter it measured; with none known it keeps the original's heading.
  const std::string model = options.model.empty() ? std::string("ZQT-100") : options.model;
  out += Format("Norvane Electronics LLC, %s Data Viewer,Version %s\r\n", model.c_str(), kExportVersionText);
  out += "<font size=3, color=black><table border=\"1\" width=70%><TR  align=\"center\">";
  out += "<TD>" + options.date_word + " " + options.time_word + "</TD><TD>CPM</TD>";
  for (int i = 1; i <= 60; ++i) out += SecondTitle(i, options, "<TD>", "</TD>");
  out += "</TR>";

  StampTime t = StampFromLocal(start);
  const std::span<const uint32_t> seconds = series.measured();
  const uint32_t rows = RowCount(seconds);
  out.reserve(out.size() + size_t{rows} * 600);
  for (uint32_t r = 0; r < rows; ++r) {
    out += "<TR><TD>";
    out += RowTime(t);
    out += "</TD><TD>";
    const std::span<const uint32_t> row = Row(seconds, r);
    AppendNumber(out, Sum(row));
    out += "</TD>";
    for (uint32_t v : row) {
      out += "<TD>";
      AppendNumber(out, v);
      out += "</TD>";
    }
    out += "</TR>";
    AdvanceStamp(t, StampUnit::kMinute);
  }
  out += "</TABLE></html>";
  return out;
}

std::string BuildMinuteLog(const RealtimeSeries& series, const LocalTime& start) {
  const int64_t start_days = static_cast<int64_t>(series.start_time()) / 86400;
  StampTime t = StampFromLocal(start);
  std::string out;
  uint64_t running = 0;
  const std::span<const uint32_t> seconds = series.measured();
  // Whole minutes only: a log of minutes has no room for a part of one.
  const uint32_t rows = static_cast<uint32_t>(seconds.size() / kRowSeconds);
  for (uint32_t r = 0; r < rows; ++r) {
    out += std::to_string((r + start_days) * 1000);
    out += ',';
    running += Sum(Row(seconds, r));
    AppendNumber(out, running);
    out += ',';
    out += Format("20%02d-%02d-%02d %02d:%02d:%02d,300,%c,672303\r\n", t.year, t.month, t.day, t.hour, t.minute, 0,
                  r == 0 ? 'f' : 'n');
    AdvanceStamp(t, StampUnit::kMinute);
  }
  return out;
}

bool WriteRealtimeCsv(const std::string& path, const RealtimeSeries& series, const Clock& clock,
                      const WriterOptions& options, std::string* error) {
  return AtomicWriteFile(path, BuildRealtimeCsv(series, clock.ToLocal(series.start_time()), options), error);
}

bool WriteRealtimeHtml(const std::string& path, const RealtimeSeries& series, const Clock& clock,
                       const WriterOptions& options, std::string* error) {
  return AtomicWriteFile(path, BuildRealtimeHtml(series, clock.ToLocal(series.start_time()), options), error);
}

bool WriteMinuteLog(const std::string& path, const RealtimeSeries& series, const Clock& clock, std::string* error) {
  return AtomicWriteFile(EnsureMinuteLogExtension(path), BuildMinuteLog(series, clock.ToLocal(series.start_time())),
                         error);
}

}  // namespace norvane
