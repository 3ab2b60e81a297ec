#include "core/store/store_export.h"

#include <algorithm>
#include <bitset>
#include <cctype>
#include <charconv>
#include <vector>

#include "core/files/local_time.h"
#include "core/files/realtime_binary.h"
#include "core/files/realtime_exports.h"
#include "core/common/text_format.h"
#include "core/history/realtime_series.h"
#include "core/store/poisson_interval.h"
#include "core/store/store_chart_queries.h"
#include "core/store/store_time.h"

namespace norvane::store {
namespace {

// A run of minutes that one writer call can take: no whole minute missing, no change of the local
// clock's offset inside, at most the day a recording holds. A minute measured in part is in it
// with zeros for the seconds not measured; `partial` marks those seconds for the rows' cells.
struct Run {
  int64_t start = 0;
  std::vector<uint32_t> counts;
  std::vector<std::pair<size_t, std::bitset<60>>> partial;  // (minute in the run, measured seconds)
};

std::vector<Run> MinuteRuns(std::span<const Second> seconds, const Clock& clock, size_t& partial) {
  std::vector<Run> runs;
  for (size_t i = 0; i < seconds.size();) {
    const int64_t minute = seconds[i].time - (seconds[i].time % 60 + 60) % 60;
    const bool joins = !runs.empty() && runs.back().start + static_cast<int64_t>(runs.back().counts.size()) == minute &&
                       runs.back().counts.size() + 60 <= RealtimeSeries::kCapacity &&
                       UtcOffset(minute, clock) == UtcOffset(runs.back().start, clock);
    if (!joins) runs.push_back({minute, {}, {}});
    Run& run = runs.back();
    const size_t base = run.counts.size();
    run.counts.resize(base + 60, 0);
    std::bitset<60> measured;
    for (; i < seconds.size() && seconds[i].time < minute + 60; ++i) {
      run.counts[base + static_cast<size_t>(seconds[i].time - minute)] = seconds[i].count;
      measured.set(static_cast<size_t>(seconds[i].time - minute));
    }
    if (!measured.all()) {
      ++partial;
      run.partial.emplace_back(base / 60, measured);
    }
  }
  return runs;
}

// The row's cells after its first `keep` ones, with an empty cell for each second not measured.
// CSV rows end in their separator, HTML cells are <TD>s.
void BlankUnmeasured(std::string& part, const Run& run, ExportKind kind, char separator) {
  const std::string_view row_end = kind == ExportKind::kCsv ? "\r\n" : "</TR>";
  const std::string_view cell_end = kind == ExportKind::kCsv ? std::string_view(&separator, 1) : "</TD>";
  const size_t keep = kind == ExportKind::kCsv ? 3 : 2;  // time, µSv/h and CPM; or time and CPM
  const size_t header_rows = kind == ExportKind::kCsv ? 2 : 1;
  std::string out;
  out.reserve(part.size());
  size_t pos = 0, row = 0, next_partial = 0;
  for (size_t r = 0; r < header_rows; ++r) pos = part.find(row_end, pos) + row_end.size();
  out.append(part, 0, pos);
  while (pos < part.size()) {
    size_t end = part.find(row_end, pos);
    if (end == std::string::npos) end = part.size();
    else end += row_end.size();
    if (next_partial < run.partial.size() && run.partial[next_partial].first == row) {
      const std::bitset<60>& measured = run.partial[next_partial++].second;
      size_t cells = pos;
      for (size_t k = 0; k < keep; ++k) cells = part.find(cell_end, cells) + cell_end.size();
      out.append(part, pos, cells - pos);
      for (size_t s = 0; s < 60; ++s) {
        const size_t cell = part.find(cell_end, cells) + cell_end.size();
        if (measured[s]) out.append(part, cells, cell - cells);
        else out += kind == ExportKind::kCsv ? std::string_view(&separator, 1) : "<TD></TD>";
        cells = cell;
      }
      out.append(part, cells, end - cells);
    } else {
      out.append(part, pos, end - pos);
    }
    pos = end;
    ++row;
  }
  part = std::move(out);
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

ExportText BuildExport(std::span<const Second> seconds, int64_t from, ExportKind kind, const WriterOptions& given,
                       const Clock& clock, const DoseScale& scale) {
  ExportText out;
  WriterOptions options = given;
  options.dose_rate = [&scale](int64_t start, uint32_t cpm) { return scale.UsvPerHour(cpm, start); };
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
      std::string part = BuildRealtimeCsv(series, start, options);
      if (!runs.empty() && !runs[r].partial.empty()) BlankUnmeasured(part, runs[r], kind, options.separator);
      out.text += r == 0 ? std::string_view(part) : AfterLines(part, 2);
    } else if (kind == ExportKind::kHtml) {
      std::string part = BuildRealtimeHtml(series, start, options);
      if (!runs.empty() && !runs[r].partial.empty()) BlankUnmeasured(part, runs[r], kind, options.separator);
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

namespace {

constexpr std::string_view kTidyColumns[] = {"time", "counter", "type", "seconds", "count", "usv_h", "note"};

std::string TypeName(uint8_t save_type) {
  std::string name(SaveTypeName(save_type));
  for (char& c : name) c = c == ' ' ? '_' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return name;
}

void AppendCsvText(std::string& out, std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
    out += text;
    return;
  }
  out += '"';
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

void AppendJsonText(std::string& out, std::string_view text) {
  out += '"';
  for (char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      out += Format("\\u%04x", static_cast<unsigned>(c));
    } else {
      out += c;
    }
  }
  out += '"';
}

void AppendNumber(std::string& out, uint64_t value) {
  char digits[24];
  out.append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
}

// Writes rows a field at a time, so CSV and JSON Lines share one order of columns.
class TidyWriter {
 public:
  TidyWriter(TidyFormat format, std::string_view counter, const DoseScale& scale, const Clock& clock)
      : format_(format), scale_(scale), clock_(clock) {
    if (format_ == TidyFormat::kCsv) {
      AppendCsvText(counter_, counter);
      for (std::string_view column : kTidyColumns) out_ += std::string(column) + (column == "note" ? "\r\n" : ",");
    } else {
      AppendJsonText(counter_, counter);
    }
  }

  void Row(int64_t time, std::string_view type, int64_t seconds, uint64_t count, std::string_view note) {
    const bool csv = format_ == TidyFormat::kCsv;
    out_ += csv ? "" : "{\"time\":\"";
    out_ += TimeText(time);
    out_ += csv ? "," : "\",\"counter\":";
    out_ += counter_;
    out_ += csv ? "," : ",\"type\":\"";
    out_ += type;
    out_ += csv ? "," : "\",\"seconds\":";
    AppendNumber(out_, static_cast<uint64_t>(seconds));
    out_ += csv ? "," : ",\"count\":";
    AppendNumber(out_, count);
    out_ += csv ? "," : ",\"usv_h\":";
    out_ += DoseText(time, count, seconds);
    if (csv) {
      out_ += ',';
      AppendCsvText(out_, note);
      out_ += "\r\n";
    } else {
      if (!note.empty()) {
        out_ += ",\"note\":";
        AppendJsonText(out_, note);
      }
      out_ += "}\n";
    }
  }

  // The rows so far, handed over; the buffer is kept for the next ones.
  bool Flush(const std::function<bool(std::string_view)>& write) {
    const bool ok = write(out_);
    out_.clear();
    return ok;
  }

 private:
  // The clock is asked once a minute; the seconds are written into its text.
  const std::string& TimeText(int64_t time) {
    const int64_t minute = time - (time % 60 + 60) % 60;
    if (minute != minute_ || time_.empty()) {
      minute_ = minute;
      time_ = FormatTime(minute, clock_);
    }
    const auto second = static_cast<int>(time - minute);
    time_[17] = static_cast<char>('0' + second / 10);
    time_[18] = static_cast<char>('0' + second % 10);
    return time_;
  }

  // Under one calibration a second's dose rate depends on its count alone: each is worked out
  // once, and again when another calibration takes over.
  std::string DoseText(int64_t time, uint64_t count, int64_t seconds) {
    const double cpm = double(count) * 60.0 / double(seconds);
    if (seconds != 1 || count >= kCachedCounts) return FormatFixed(scale_.UsvPerHour(cpm, time), 4);
    if (const Calibration* in_force = scale_.At(time); in_force != doses_for_) {
      doses_for_ = in_force;
      second_doses_.clear();
    }
    if (second_doses_.size() <= count) second_doses_.resize(count + 1);
    std::string& text = second_doses_[count];
    if (text.empty()) text = FormatFixed(scale_.UsvPerHour(cpm, time), 4);
    return text;
  }

  static constexpr uint64_t kCachedCounts = 4096;
  TidyFormat format_;
  const DoseScale& scale_;
  const Clock& clock_;
  std::string counter_;
  std::string out_;
  int64_t minute_ = 0;
  std::string time_;
  std::vector<std::string> second_doses_;
  const Calibration* doses_for_ = nullptr;  // the calibration second_doses_ hold, null for the table
};

}  // namespace

TidyFormat TidyFormatOf(std::string_view path) {
  return path.ends_with(".jsonl") ? TidyFormat::kJsonLines : TidyFormat::kCsv;
}

TidyExport BuildTidyExport(CounterStore& db, CounterId counter, int64_t from, int64_t to, TidyFormat format,
                           const ConversionTable& conversion, const Clock& clock,
                           const std::function<bool(std::string_view)>& write) {
  TidyExport result;
  std::string name;
  for (const CounterRow& row : db.Counters())
    if (row.id == counter) name = !row.info.name.empty() ? row.info.name : !row.info.model.empty() ? row.info.model : row.info.version;
  const DoseScale scale = ScaleOf(db, counter, conversion);
  TidyWriter writer(format, name, scale, clock);
  for (int64_t day = from; day < to; day += 86400) {
    const int64_t end = std::min(to, day + 86400);
    const std::vector<Second> seconds = db.ReadSeconds(counter, day, end);
    const std::vector<HistoryRecord> records = db.History(counter, day, end);
    const std::vector<StoredNote> notes = records.empty() ? std::vector<StoredNote>{} : db.Notes(counter, day, end);
    size_t r = 0, n = 0;
    const auto record_until = [&](int64_t time) {
      for (; r < records.size() && records[r].time < time; ++r) {
        const HistoryRecord& record = records[r];
        const int64_t length = RecordSeconds(record.save_type);
        const uint64_t count = length == 1 ? record.value : uint64_t{record.value} * static_cast<uint64_t>(length) / 60;
        // A note goes with the first record of its time.
        while (n < notes.size() && notes[n].time < record.time) ++n;
        std::string note;
        for (; n < notes.size() && notes[n].time == record.time; ++n) note += (note.empty() ? "" : "; ") + notes[n].text;
        writer.Row(record.time, TypeName(record.save_type), length, count, note);
        ++result.records;
      }
    };
    for (const Second& second : seconds) {
      record_until(second.time);
      writer.Row(second.time, "live", 1, second.count, {});
    }
    record_until(end);
    result.seconds += seconds.size();
    if (!writer.Flush(write)) {
      result.written = false;
      result.dead_time_capped = scale.capped();
      return result;
    }
  }
  result.written = writer.Flush(write);
  result.dead_time_capped = scale.capped();
  return result;
}

}  // namespace norvane::store
