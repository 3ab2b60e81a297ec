#include "core/store/store_export.h"

#include <vector>

#include "core/files/local_time.h"
#include "core/files/realtime_binary.h"
#include "core/files/realtime_exports.h"
#include "core/history/realtime_series.h"
#include "core/store/store_time.h"

namespace norvane::store {
namespace {

// A run of whole measured minutes that one writer call can take: no gap, no change of the
// local clock's offset inside, at most the day a recording holds.
struct Run {
  int64_t start = 0;
  std::vector<uint32_t> counts;
};

std::vector<Run> MinuteRuns(std::span<const Second> seconds, const Clock& clock, size_t& partial) {
  std::vector<Run> runs;
  for (size_t i = 0; i < seconds.size();) {
    const int64_t minute = seconds[i].time - (seconds[i].time % 60 + 60) % 60;
    size_t j = i;
    while (j < seconds.size() && seconds[j].time < minute + 60) ++j;
    if (j - i != 60) {
      ++partial;
      i = j;
      continue;
    }
    const bool joins = !runs.empty() && runs.back().start + static_cast<int64_t>(runs.back().counts.size()) == minute &&
                       runs.back().counts.size() + 60 <= RealtimeSeries::kCapacity &&
                       UtcOffset(minute, clock) == UtcOffset(runs.back().start, clock);
    if (!joins) runs.push_back({minute, {}});
    for (; i < j; ++i) runs.back().counts.push_back(seconds[i].count);
  }
  return runs;
}

// Everything after the first `lines` line ends of a writer's output.
std::string_view AfterLines(std::string_view text, int lines) {
  size_t p = 0;
  for (int i = 0; i < lines && p != std::string_view::npos; ++i) {
    p = text.find("\r\n", p);
    if (p != std::string_view::npos) p += 2;
  }
  return p == std::string_view::npos ? std::string_view() : text.substr(p);
}

}  // namespace

std::optional<ExportKind> ExportKindOf(std::string_view path) {
  if (path.ends_with(".csv")) return ExportKind::kCsv;
  if (path.ends_with(".html") || path.ends_with(".htm")) return ExportKind::kHtml;
  if (path.ends_with(".R@H") || path.ends_with(".r@h")) return ExportKind::kMinuteLog;
  if (path.ends_with(".rbn")) return ExportKind::kBinary;
  return std::nullopt;
}

ExportText BuildExport(std::span<const Second> seconds, int64_t from, ExportKind kind, const WriterOptions& options,
                       const Clock& clock) {
  ExportText out;
  if (kind == ExportKind::kBinary) {
    for (size_t i = 1; i < seconds.size(); ++i)
      if (seconds[i].time != seconds[i - 1].time + 1) {
        out.error = "a .rbn file holds one unbroken recording, and the range has a gap from " +
                    FormatTime(seconds[i - 1].time + 1, clock) + " to " + FormatTime(seconds[i].time, clock) +
                    "; export it as .csv, or choose a range without gaps";
        return out;
      }
    if (seconds.empty()) out.error = "no measured seconds in that range";
    else if (seconds.size() > RealtimeSeries::kCapacity) out.error = "a .rbn file holds at most a day of seconds";
    if (!out.error.empty()) return out;
    std::vector<uint32_t> counts;
    counts.reserve(seconds.size());
    for (const Second& s : seconds) counts.push_back(s.count);
    RealtimeSeries series(seconds.front().time);
    series.Restore(seconds.front().time, StampFromLocal(clock.ToLocal(seconds.front().time)), counts);
    out.text = BuildRealtimeBinary(series, clock);
    return out;
  }
  const std::vector<Run> runs = MinuteRuns(seconds, clock, out.partial_minutes);
  // Each run goes through the writer on its own, so a gap between runs is a gap between rows.
  for (size_t r = 0; r < runs.size() || (r == 0 && kind != ExportKind::kMinuteLog); ++r) {
    RealtimeSeries series(runs.empty() ? from : runs[r].start);
    const LocalTime start = clock.ToLocal(runs.empty() ? from : runs[r].start);
    if (!runs.empty()) series.Restore(runs[r].start, StampFromLocal(start), runs[r].counts);
    if (kind == ExportKind::kCsv) {
      const std::string part = BuildRealtimeCsv(series, start, options);
      out.text += r == 0 ? std::string_view(part) : AfterLines(part, 2);
    } else if (kind == ExportKind::kHtml) {
      std::string part = BuildRealtimeHtml(series, start, options);
      static constexpr std::string_view kTail = "</TABLE></html>";
      if (part.ends_with(kTail)) part.resize(part.size() - kTail.size());
      const size_t rows = part.find("</TR>") + 5;
      out.text += r == 0 ? std::string_view(part) : std::string_view(part).substr(rows);
      if (r + 1 >= runs.size()) out.text += kTail;
    } else {
      out.text += BuildMinuteLog(series, start);
    }
    if (runs.empty()) break;
  }
  return out;
}

}  // namespace norvane::store
