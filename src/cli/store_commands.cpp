// store: what the long-term store holds, and getting data in and out of it.
#include <nlohmann/json.hpp>

#include <charconv>
#include <ostream>

#include "cli/command.h"
#include "cli/image_loading.h"
#include "cli/stream_notifier.h"
#include "cli/text_output.h"
#include "core/common/clock.h"
#include "core/common/text_format.h"
#include "core/files/file_naming.h"
#include "core/files/local_time.h"
#include "core/files/realtime_binary.h"
#include "core/files/realtime_exports.h"
#include "core/files/writer_options.h"
#include "core/i18n/language_dictionary.h"
#include "core/platform/atomic_file.h"
#include "core/settings/settings_store.h"
#include "core/publish/mqtt_messages.h"
#include "core/store/counter_store.h"
#include "core/store/dose_scale.h"
#include "core/store/store_export.h"
#include "core/store/store_quality.h"
#include "core/store/store_time.h"
#include "core/upload/upload_queue.h"

namespace norvane::cli {
namespace {

using store::CounterId;
using store::CounterStore;

struct StoreArgs {
  std::vector<std::string> paths;  // after the subcommand
  std::optional<std::string> from, to, counter, format, usv_per_cpm, dead_time_us;
  bool json = false;
  bool semicolon = false;
  bool quality = false;
};

StoreArgs ReadStoreArgs(const CommandContext& context) {
  const ParsedOptions& o = context.options;
  return {{context.args.begin() + 1, context.args.end()},
          o.Value("--from"),
          o.Value("--to"),
          o.Value("--counter"),
          o.Value("--format"),
          o.Value("--usv-per-cpm"),
          o.Value("--dead-time-us"),
          o.Has("--json"),
          o.Has("--semicolon"),
          o.Has("--quality")};
}

std::string CounterLabel(const store::CounterRow& row) {
  std::string label = row.info.name.empty() ? row.info.model : row.info.name;
  if (!row.info.version.empty()) label += (label.empty() ? "" : ", ") + row.info.version;
  return label;
}

// --counter, or the store's only counter.
std::optional<CounterId> ChooseCounter(const CommandContext& context, CounterStore& db, const StoreArgs& args, int& code) {
  if (args.counter) {
    if (auto id = db.FindCounter(*args.counter)) return id;
    code = context.Fail("the store holds no counter '" + *args.counter + "' (see 'store info')");
    return std::nullopt;
  }
  const auto counters = db.Counters();
  if (counters.size() == 1) return counters.front().id;
  code = counters.empty() ? context.Fail("the store holds no counter yet")
                          : context.Usage("the store holds several counters; choose one with --counter (see 'store info')");
  return std::nullopt;
}

// --from and --to, each defaulting to the counter's first and last measured second, or with
// `downloads` its first and last second of data of either kind.
bool ChooseRange(const CommandContext& context, CounterStore& db, CounterId counter, const StoreArgs& args,
                 const Clock& clock, int64_t& from, int64_t& to, int& code, bool downloads = false) {
  std::string error;
  std::optional<store::CounterSpan> span;
  const auto data_span = [&] {
    span = db.Span(counter);
    const auto records = downloads ? db.HistoryEnds(counter) : std::nullopt;
    if (!records) return;
    span->first = span->measured ? std::min(span->first, records->first) : records->first;
    span->last = span->measured ? std::max(span->last, records->last) : records->last;
  };
  const auto bound = [&](const std::optional<std::string>& text, bool end, int64_t& into) {
    if (text) {
      const auto t = store::ParseTime(*text, clock, &error);
      if (!t) return false;
      into = *t;
      return true;
    }
    if (!span) data_span();
    into = end ? span->last + 1 : span->first;
    return true;
  };
  if (!bound(args.from, false, from) || !bound(args.to, true, to)) {
    code = context.Usage(error);
    return false;
  }
  if (from >= to) {
    code = context.Usage("--from must come before --to");
    return false;
  }
  return true;
}

std::string Percent(double fraction) { return FormatFixed(100 * fraction, 1) + " %"; }

// A decimal number that is the whole text, whatever the locale.
std::optional<double> ParseDecimal(const std::string& text) {
  double value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  return value;
}

void WarnDeadTimeCapped(const CommandContext& context) {
  context.err << "norvane-cli: the dead-time correction was held at a tenfold rate where the counts came within "
              << FormatFixed(100 * (1 - store::kMaxDeadTimeShare), 0)
              << " % of one per dead time; the dead time is likely set too long (see 'store calibrations')\n";
}

Json CalibrationJson(const store::Calibration& c, const Clock& clock) {
  return {{"from", store::FormatTime(c.from, clock)}, {"usv_per_cpm", c.usv_per_cpm}, {"dead_time_us", c.dead_time_us}};
}

std::string CalibrationLine(const store::Calibration& c, const Clock& clock) {
  return "  from " + store::FormatTime(c.from, clock) + ": " + ExactNumber(c.usv_per_cpm) + " uSv/h per CPM" +
         (c.dead_time_us > 0 ? ", dead time " + ExactNumber(c.dead_time_us) + " us" : "");
}

Json ClockJson(const store::ClockQuality& q, const Clock& clock) {
  Json json{{"readings", q.readings}, {"ok", q.problems.empty()}, {"problems", q.problems}};
  if (q.last) {
    json["last_reading"] = store::FormatTime(q.last->time, clock);
    json["offset_seconds"] = q.last->offset;
  }
  if (q.drift_per_day) {
    json["drift_seconds_per_day"] = *q.drift_per_day;
    json["drift_measured_over_seconds"] = q.drift_span;
  }
  return json;
}

std::string ClockLine(const store::ClockQuality& q, const Clock& clock) {
  std::string line = "  clock: " + std::to_string(q.readings) + " reading(s)";
  if (q.last)
    line += ", " + std::to_string(q.last->offset) + " s off the computer's at " + store::FormatTime(q.last->time, clock);
  if (q.drift_per_day) line += ", drift " + FormatFixed(*q.drift_per_day, 1) + " s a day";
  line += ": ";
  if (q.problems.empty()) return line + "ok";
  for (size_t i = 0; i < q.problems.size(); ++i) line += (i ? "; " : "") + q.problems[i];
  return line;
}

// Days are UTC days, named by their date.
std::string UtcDate(int64_t day) { return publish::IsoUtc(day).substr(0, 10); }

Json QualityJson(const store::DayQuality& q) {
  return {{"day", UtcDate(q.day)},
          {"measured_seconds", q.measured},
          {"coverage", q.coverage()},
          {"mean_per_second", q.mean},
          {"dispersion", q.dispersion},
          {"longest_repeat_seconds", q.longest_repeat},
          {"repeated_count", q.repeated_count},
          {"longest_silence_seconds", q.longest_silence},
          {"judged", q.judged()},
          {"ok", q.problems.empty() && q.judged()},
          {"problems", q.problems}};
}

// Why a day without a failing rule is not called ok.
std::string NotJudged(const store::DayQuality& q) {
  return Format("not judged (%llu s measured, %llu needed)", static_cast<unsigned long long>(q.measured),
                static_cast<unsigned long long>(store::kQualityMinimumSeconds));
}

std::string QualityLine(const store::DayQuality& q) {
  std::string line = "  " + UtcDate(q.day) + ": " + std::to_string(q.measured) + " s (" + Percent(q.coverage()) +
                     "), " + FormatFixed(q.mean, 3) + " counts/s, dispersion " + FormatFixed(q.dispersion, 3) +
                     ", repeat " + std::to_string(q.longest_repeat) + " s, silence " +
                     std::to_string(q.longest_silence) + " s: ";
  if (q.problems.empty()) return line + (q.judged() ? "ok" : NotJudged(q));
  for (size_t i = 0; i < q.problems.size(); ++i) line += (i ? "; " : "") + q.problems[i];
  return line;
}

// `store info` shows the quality of the last days a counter measured.
constexpr int64_t kInfoQualityDays = 7;

int RunInfo(const CommandContext& context, CounterStore& db, const StoreArgs& args, const Clock& clock) {
  Json json;
  json["store"] = db.Location();
  json["size_bytes"] = db.SizeOnDisk();
  json["schema_version"] = db.SchemaVersion();
  std::ostream& out = context.out;
  if (!args.json) out << "store " << db.Location() << " (" << db.SizeOnDisk() << " bytes)\n";
  json["counters"] = Json::array();
  for (const store::CounterRow& row : db.Counters()) {
    const store::CounterSpan span = db.Span(row.id);
    Json c{{"id", row.id},           {"name", row.info.name},     {"model", row.info.model},
           {"family", row.info.family}, {"version", row.info.version}, {"port", row.info.port},
           {"first_seen", store::FormatTime(row.first_seen, clock)},
           {"last_seen", store::FormatTime(row.last_seen, clock)}};
    c["measured_seconds"] = span.measured;
    if (span.measured) {
      c["first_second"] = store::FormatTime(span.first, clock);
      c["last_second"] = store::FormatTime(span.last, clock);
      c["coverage"] = double(span.measured) / double(span.last - span.first + 1);
    }
    c["gaps"] = span.gap_count;
    c["long_gaps"] = Json::array();
    for (const store::Gap& gap : span.long_gaps)
      c["long_gaps"].push_back({{"from", store::FormatTime(gap.from, clock)}, {"to", store::FormatTime(gap.to, clock)},
                                {"seconds", gap.to - gap.from}});
    c["history_records"] = span.history_records;
    if (span.history_records) {
      c["history_first"] = store::FormatTime(span.history_first, clock);
      c["history_last"] = store::FormatTime(span.history_last, clock);
    }
    c["notes"] = span.notes;
    const std::vector<store::DayQuality> quality =
        span.measured ? store::DailyQuality(db, row.id, span.last + 1 - kInfoQualityDays * 86400, span.last + 1)
                      : std::vector<store::DayQuality>{};
    c["quality"] = Json::array();
    for (const store::DayQuality& q : quality) c["quality"].push_back(QualityJson(q));
    const std::vector<store::Calibration> calibrations = db.Calibrations(row.id);
    c["calibrations"] = Json::array();
    for (const store::Calibration& cal : calibrations) c["calibrations"].push_back(CalibrationJson(cal, clock));
    const store::ClockQuality clock_quality = store::JudgeClock(db, row.id);
    c["clock"] = ClockJson(clock_quality, clock);
    if (!args.json) {
      out << "counter " << row.id << ": " << CounterLabel(row) << (row.info.port.empty() ? "" : " on " + row.info.port)
          << "\n  seen " << store::FormatTime(row.first_seen, clock) << " to " << store::FormatTime(row.last_seen, clock)
          << "\n";
      if (span.measured)
        out << "  seconds " << store::FormatTime(span.first, clock) << " to " << store::FormatTime(span.last, clock)
            << ": " << span.measured << " measured ("
            << Percent(double(span.measured) / double(span.last - span.first + 1)) << "), " << span.gap_count
            << " gaps\n";
      else out << "  no measured seconds\n";
      for (const store::Gap& gap : span.long_gaps)
        out << "    gap " << store::FormatTime(gap.from, clock) << " to " << store::FormatTime(gap.to, clock) << " ("
            << gap.to - gap.from << " s)\n";
      if (span.history_records || span.notes)
        out << "  downloaded history: " << span.history_records << " records"
            << (span.history_records ? " from " + store::FormatTime(span.history_first, clock) + " to " +
                                           store::FormatTime(span.history_last, clock)
                                     : std::string())
            << ", " << span.notes << " notes\n";
      if (!quality.empty()) out << "  quality by UTC day:\n";
      for (const store::DayQuality& q : quality) out << QualityLine(q) << "\n";
      out << (calibrations.empty() ? "  no calibration stored: the settings' conversion table applies\n"
                                   : "  calibrations:\n");
      for (const store::Calibration& cal : calibrations) out << CalibrationLine(cal, clock) << "\n";
      if (clock_quality.readings) out << ClockLine(clock_quality, clock) << "\n";
    }
    json["counters"].push_back(std::move(c));
  }
  if (args.json) out << json.dump(2) << "\n";
  return kExitOk;
}

int RunStats(const CommandContext& context, CounterStore& db, const StoreArgs& args, const Clock& clock) {
  int code = kExitOk;
  const auto counter = ChooseCounter(context, db, args, code);
  if (!counter) return code;
  std::ostream& out = context.out;
  // Without a range given, a counter that was only ever downloaded has no measured span to
  // default to: that is said, with what the downloads hold, rather than a range of nothing.
  if (!args.from || !args.to) {
    const store::CounterSpan span = db.Span(*counter);
    if (span.measured == 0) {
      Json json{{"counter", *counter}, {"measured_seconds", 0}, {"history_records", span.history_records}};
      if (span.history_records) {
        json["history_first"] = store::FormatTime(span.history_first, clock);
        json["history_last"] = store::FormatTime(span.history_last, clock);
      }
      if (args.json) {
        out << json.dump(2) << "\n";
        return kExitOk;
      }
      out << "measured     none: no second of this counter was measured live\n";
      if (span.history_records)
        out << "downloaded   " << span.history_records << " records from "
            << store::FormatTime(span.history_first, clock) << " to " << store::FormatTime(span.history_last, clock)
            << "\n";
      return kExitOk;
    }
  }
  int64_t from = 0, to = 0;
  if (!ChooseRange(context, db, *counter, args, clock, from, to, code)) return code;
  const Settings settings = SettingsStore(context.settings_path).Load();
  const store::Stats s = db.ComputeStats(*counter, from, to, settings.calibration);
  if (args.json) {
    Json json{{"counter", *counter}, {"from", store::FormatTime(from, clock)}, {"to", store::FormatTime(to, clock)},
              {"measured_seconds", s.measured_seconds}, {"coverage", s.coverage}, {"counts", s.counts}};
    if (s.measured_seconds) {
      json["mean_cpm"] = s.mean_cpm;
      json["mean_cpm_95"] = {s.cpm_low, s.cpm_high};
      json["mean_usv_h"] = s.mean_usv_h;
      json["dose_usv"] = s.dose_usv;
    }
    if (s.max_cpm) {
      json["max_cpm"] = *s.max_cpm;
      json["max_cpm_at"] = store::FormatTime(s.max_cpm_at, clock);
      json["max_usv_h"] = *s.max_usv_h;
    }
    json["dead_time_capped"] = s.dead_time_capped;
    out << json.dump(2) << "\n";
    if (s.dead_time_capped) WarnDeadTimeCapped(context);
    return kExitOk;
  }
  if (s.dead_time_capped) WarnDeadTimeCapped(context);
  out << "range        " << store::FormatTime(from, clock) << " to " << store::FormatTime(to, clock) << "\n"
      << "measured     " << s.measured_seconds << " s (" << Percent(s.coverage) << ")\n"
      << "counts       " << s.counts << "\n";
  if (s.measured_seconds == 0) return kExitOk;
  out << "mean CPM     " << FormatFixed(s.mean_cpm, 3) << " (95 % interval " << FormatFixed(s.cpm_low, 3) << " to "
      << FormatFixed(s.cpm_high, 3) << ")\n";
  if (s.max_cpm) out << "max CPM      " << *s.max_cpm << " in the minute from " << store::FormatTime(s.max_cpm_at, clock) << "\n";
  out << "mean uSv/h   " << FormatFixed(s.mean_usv_h, 4) << "\n";
  if (s.max_usv_h) out << "max uSv/h    " << FormatFixed(*s.max_usv_h, 4) << "\n";
  out << "dose         " << FormatFixed(s.dose_usv, 4) << " uSv over the measured time\n";
  return kExitOk;
}

// --quality: every day of each counter (or of --counter) within --from and --to against the
// data-quality rules, after the store's own check.
int RunCheck(const CommandContext& context, CounterStore& db, const StoreArgs& args, const Clock& clock) {
  const store::CheckReport report = db.Check();
  Json json{{"store", db.Location()}, {"ok", report.ok()}, {"problems", report.problems}, {"notes", report.notes}};
  if (!args.json) {
    for (const std::string& p : report.problems) context.out << p << "\n";
    for (const std::string& n : report.notes) context.out << n << "\n";
    if (report.ok()) context.out << db.Location() << ": no problems found\n";
  }
  size_t failed_days = 0, failed_clocks = 0, unjudged_days = 0;
  if (args.quality) {
    std::vector<CounterId> ids;
    if (args.counter) {
      int code = 0;
      const std::optional<CounterId> id = ChooseCounter(context, db, args, code);
      if (!id) return code;
      ids.push_back(*id);
    } else {
      for (const store::CounterRow& row : db.Counters()) ids.push_back(row.id);
    }
    json["quality"] = Json::array();
    for (const CounterId id : ids) {
      std::string error;
      const auto bound = [&](const std::optional<std::string>& text, int64_t fallback) {
        if (!text) return std::optional<int64_t>(fallback);
        return store::ParseTime(*text, clock, &error);
      };
      const std::optional<int64_t> from = bound(args.from, INT64_MIN / 2), to = bound(args.to, INT64_MAX / 2);
      if (!from || !to) return context.Usage(error);
      Json days = Json::array();
      if (!args.json) context.out << "counter " << id << " quality by UTC day:\n";
      for (const store::DayQuality& q : store::DailyQuality(db, id, *from, *to)) {
        failed_days += q.problems.empty() ? 0 : 1;
        unjudged_days += q.problems.empty() && !q.judged() ? 1 : 0;
        days.push_back(QualityJson(q));
        if (!args.json) context.out << QualityLine(q) << "\n";
      }
      const store::ClockQuality clock_quality = store::JudgeClock(db, id);
      failed_clocks += clock_quality.problems.empty() ? 0 : 1;
      if (!args.json && clock_quality.readings) context.out << ClockLine(clock_quality, clock) << "\n";
      json["quality"].push_back({{"counter", id}, {"days", std::move(days)}, {"clock", ClockJson(clock_quality, clock)}});
    }
    json["ok"] = report.ok() && failed_days == 0 && failed_clocks == 0 && unjudged_days == 0;
  }
  if (args.json) context.out << json.dump(2) << "\n";
  if (!report.ok()) return context.Fail(Format("%zu problem(s) in the store", report.problems.size()));
  if (failed_days || failed_clocks)
    return context.Fail(Format("%zu day(s) and %zu counter clock(s) fail a data-quality rule", failed_days, failed_clocks));
  // Nothing failed: a check run daily by cron must not fail every day on the day just begun.
  if (unjudged_days)
    context.err << Format("norvane-cli: %zu day(s) not judged: fewer than %llu measured seconds\n", unjudged_days,
                          static_cast<unsigned long long>(store::kQualityMinimumSeconds));
  return kExitOk;
}

int RunImport(const CommandContext& context, CounterStore& db, const StoreArgs& args, const Clock& clock) {
  if (args.paths.size() != 1) return context.Usage("store import needs one history image or dump");
  if (!context.model) return context.Usage("store import needs --model, the model the image comes from");
  DataSet data(clock.Now());
  if (int code = LoadImage(context, args.paths.front(), data)) return code;
  // An image carries no version reply; it is filed under the name given, else the model's.
  store::CounterInfo info;
  info.model = *context.model;
  info.name = args.counter ? *args.counter : *context.model;
  const auto existing = db.FindCounter(info.name);
  const CounterId counter = existing ? *existing : db.RegisterCounter(info, clock.Now());
  const store::ImportResult r = db.ImportHistory(counter, data.dump.image(), clock);
  if (args.json) {
    context.out << Json{{"counter", counter},     {"records", r.records},         {"added", r.added},
                        {"notes", r.notes},       {"notes_added", r.notes_added}, {"undated_rows", r.undated_rows}}
                       .dump(2)
                << "\n";
  } else {
    context.out << "counter " << counter << ": " << r.added << " of " << r.records << " records and " << r.notes_added
                << " of " << r.notes << " notes added";
    if (r.undated_rows) context.out << "; " << r.undated_rows << " rows without a readable time left out";
    context.out << "\n";
  }
  return kExitOk;
}

// One row per measured second and downloaded record, as CSV or (by a .jsonl ending) JSON Lines.
int RunTidyExport(const CommandContext& context, CounterStore& db, const StoreArgs& args, const Clock& clock) {
  const std::string& path = args.paths.front();
  int code = kExitOk;
  const auto counter = ChooseCounter(context, db, args, code);
  if (!counter) return code;
  int64_t from = 0, to = 0;
  if (!ChooseRange(context, db, *counter, args, clock, from, to, code, true)) return code;
  const Settings settings = SettingsStore(context.settings_path).Load();
  // A year of seconds is gigabytes: it is written a day at a time to a file with no name yet,
  // which takes the target's place once whole, so a failed or killed export leaves the old file
  // as it was and nothing beside it.
  AtomicFileWriter file(path);
  const store::TidyExport built = store::BuildTidyExport(
      db, *counter, from, to, store::TidyFormatOf(path), settings.calibration, clock,
      [&](std::string_view rows) { return file.Write(rows); });
  if (!built.written || !file.Commit()) return context.Fail(file.error());
  if (built.dead_time_capped) WarnDeadTimeCapped(context);
  context.out << "wrote " << path << " (" << built.seconds << " measured seconds, " << built.records
              << " downloaded records)\n";
  return kExitOk;
}

int RunStoreExport(const CommandContext& context, CounterStore& db, const StoreArgs& args, const Clock& clock) {
  if (args.paths.size() != 1) return context.Usage("store export needs one output file");
  const std::string& path = args.paths.front();
  if (args.format && *args.format != "tidy" && *args.format != "original")
    return context.Usage("--format is 'original' (the default for .csv) or 'tidy'");
  const bool jsonl = store::TidyFormatOf(path) == store::TidyFormat::kJsonLines;
  if (jsonl && args.format == "original") return context.Usage("a .jsonl file holds the tidy export only");
  if (args.format == "tidy" && !jsonl && !path.ends_with(".csv"))
    return context.Usage("the tidy export is written to a .csv or .jsonl file");
  if (jsonl || args.format == "tidy") return RunTidyExport(context, db, args, clock);
  const auto kind = store::ExportKindOf(path);
  if (!kind) return context.Usage("OUT must end in .csv, .html, .htm, .R@H, .rbn or .jsonl");

  int code = kExitOk;
  const auto counter = ChooseCounter(context, db, args, code);
  if (!counter) return code;
  int64_t from = 0, to = 0;
  if (!ChooseRange(context, db, *counter, args, clock, from, to, code)) return code;
  const std::vector<store::Second> seconds = db.ReadSeconds(*counter, from, to);

  StreamNotifier notifier(context.err);
  const Settings settings = SettingsStore(context.settings_path).Load();
  LanguageDictionary dictionary;
  SettingsStore settings_store(context.settings_path);
  dictionary.LoadAtStartUp(ReadLanguageFileSetting(settings_store.Key()), notifier);
  WriterOptions options = MakeWriterOptions(settings, settings.calibration, dictionary, args.semicolon);
  for (const store::CounterRow& row : db.Counters())
    if (row.id == *counter) options.model = row.info.model;

  const store::DoseScale scale = store::ScaleOf(db, *counter, settings.calibration);
  const store::ExportText built = store::BuildExport(seconds, from, *kind, options, clock, scale);
  if (!built.error.empty()) return context.Fail(built.error);
  if (scale.capped()) WarnDeadTimeCapped(context);
  if (built.partial_minutes)
    context.err << "norvane-cli: " << built.partial_minutes
                << " partly measured minute(s) kept: their missing seconds are empty cells, or uncounted in a minute log\n";
  std::string error;
  const std::string target = *kind == store::ExportKind::kMinuteLog ? EnsureMinuteLogExtension(path) : path;
  if (!AtomicWriteFile(target, built.text, &error)) return context.Fail("cannot write " + target + ": " + error);
  context.out << "wrote " << target << "\n";
  return kExitOk;
}

// A calibration of --counter from --from on; the counts stay as they are, and every dose read
// from then on comes from it.
int RunCalibrate(const CommandContext& context, CounterStore& db, const StoreArgs& args, const Clock& clock) {
  if (!args.counter || !args.from || !args.usv_per_cpm)
    return context.Usage("store calibrate needs --counter, --from and --usv-per-cpm");
  std::string error;
  const std::optional<int64_t> from = store::ParseTime(*args.from, clock, &error);
  if (!from) return context.Usage(error);
  store::Calibration c{*from, 0, 0};
  const std::optional<double> factor = ParseDecimal(*args.usv_per_cpm);
  if (!factor) return context.Usage("--usv-per-cpm takes a number, not '" + *args.usv_per_cpm + "'");
  c.usv_per_cpm = *factor;
  if (args.dead_time_us) {
    const std::optional<double> dead = ParseDecimal(*args.dead_time_us);
    if (!dead) return context.Usage("--dead-time-us takes a number, not '" + *args.dead_time_us + "'");
    c.dead_time_us = *dead;
  }
  if (const std::string problem = store::CalibrationProblem(c); !problem.empty()) return context.Usage(problem);
  int code = kExitOk;
  const auto counter = ChooseCounter(context, db, args, code);
  if (!counter) return code;
  db.AddCalibration(*counter, c);
  context.out << "counter " << *counter << ":\n" << CalibrationLine(c, clock) << "\n";
  return kExitOk;
}

int RunCalibrations(const CommandContext& context, CounterStore& db, const StoreArgs& args, const Clock& clock) {
  int code = kExitOk;
  const auto counter = ChooseCounter(context, db, args, code);
  if (!counter) return code;
  const std::vector<store::Calibration> calibrations = db.Calibrations(*counter);
  if (args.json) {
    Json list = Json::array();
    for (const store::Calibration& c : calibrations) list.push_back(CalibrationJson(c, clock));
    context.out << Json{{"counter", *counter}, {"calibrations", std::move(list)}}.dump(2) << "\n";
    return kExitOk;
  }
  context.out << "counter " << *counter << ": "
              << (calibrations.empty() ? "no calibration stored: the settings' conversion table applies\n" : "\n");
  for (const store::Calibration& c : calibrations) context.out << CalibrationLine(c, clock) << "\n";
  return kExitOk;
}

// `store uploads`: per public map, what was sent, what waits and what it last refused.
int RunUploads(const CommandContext& context, CounterStore& db, const StoreArgs& args, const Clock& clock) {
  auto* station = dynamic_cast<store::Store*>(&db);
  if (!station) return context.Fail("uploads to the public maps are kept in a station's SQLite store, not here");
  const std::vector<upload::UploadSummary> summaries = upload::UploadSummaries(*station);
  const auto name = [](const std::string& key) {
    const auto network = upload::NetworkByKey(key);
    return network ? std::string(upload::NetworkName(*network)) : key;
  };
  const auto when = [&](int64_t t) { return t ? Json(store::FormatTime(t, clock)) : Json(); };
  if (args.json) {
    Json list = Json::array();
    for (const upload::UploadSummary& s : summaries)
      list.push_back({{"network", s.network},
                      {"sent", s.sent},
                      {"waiting", s.waiting},
                      {"refused", s.refused},
                      {"skipped", s.skipped},
                      {"last_sent", when(s.last_sent)},
                      {"oldest_waiting", when(s.oldest_waiting)},
                      {"last_refusal", s.last_refusal.empty() ? Json() : Json(s.last_refusal)},
                      {"last_refusal_time", when(s.last_refusal_at)}});
    context.out << Json{{"uploads", std::move(list)}}.dump(2) << "\n";
    return kExitOk;
  }
  if (summaries.empty()) context.out << "no uploads to the public maps yet\n";
  for (const upload::UploadSummary& s : summaries) {
    context.out << name(s.network) << ": " << s.sent << " sent, " << s.waiting << " waiting";
    if (s.oldest_waiting) context.out << " (the oldest from " << store::FormatTime(s.oldest_waiting, clock) << ")";
    context.out << ", " << s.refused << " refused";
    if (s.skipped) context.out << ", " << s.skipped << " not sent (the network takes only the present)";
    context.out << "\n";
    if (s.last_sent) context.out << "  last sent " << store::FormatTime(s.last_sent, clock) << "\n";
    if (!s.last_refusal.empty())
      context.out << "  last refusal " << store::FormatTime(s.last_refusal_at, clock) << ": " << s.last_refusal << "\n";
  }
  return kExitOk;
}

}  // namespace

int RunStore(CommandContext& context) {
  if (context.args.empty())
    return context.Usage("store needs a subcommand: info, stats, export, import, check, calibrate, calibrations or uploads");
  const std::string& sub = context.args.front();
  const StoreArgs args = ReadStoreArgs(context);
  SystemClock clock;
  const bool writes = sub == "import" || sub == "calibrate";
  if (sub != "info" && sub != "stats" && sub != "export" && sub != "import" && sub != "check" && sub != "calibrate" &&
      sub != "calibrations" && sub != "uploads")
    return context.Usage("unknown store subcommand '" + sub + "'");
  if (context.store_path.empty()) return context.Fail("no store path: set --store, NORVANE_STORE or HOME");
  try {
    const std::unique_ptr<CounterStore> opened = store::OpenStore(
        context.store_path.string(), writes ? store::StoreAccess::kReadWrite : store::StoreAccess::kReadOnly);
    CounterStore& db = *opened;
    if (sub == "info") return RunInfo(context, db, args, clock);
    if (sub == "stats") return RunStats(context, db, args, clock);
    if (sub == "export") return RunStoreExport(context, db, args, clock);
    if (sub == "import") return RunImport(context, db, args, clock);
    if (sub == "calibrate") return RunCalibrate(context, db, args, clock);
    if (sub == "calibrations") return RunCalibrations(context, db, args, clock);
    if (sub == "uploads") return RunUploads(context, db, args, clock);
    return RunCheck(context, db, args, clock);
  } catch (const store::StoreError& e) {
    return context.Fail(e.what());
  }
}

}  // namespace norvane::cli
