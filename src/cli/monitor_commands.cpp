// norvane-cli monitor (a headless realtime logger) and map (the web map's verify and submit).
#include <atomic>
#include <charconv>
#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "cli/command.h"
#include "cli/device_rig.h"
#include "cli/stop_flag.h"
#include "cli/stream_notifier.h"
#include "core/common/text_format.h"
#include "core/files/file_saver.h"
#include "core/files/writer_options.h"
#include "core/net/map_submission.h"
#include "core/net/map_urls.h"
#include "core/platform/folder_check.h"
#include "core/platform/interrupt_watch.h"
#include "core/live/live_run.h"
#include "core/live/port_loan.h"
#include "core/protocol/model_identification.h"
#include "core/realtime/realtime_recorder.h"
#include "core/tasks/elapsed_text.h"
#include "core/tools/clock_rules.h"
#include "core/settings/settings_store.h"
#include "core/store/seconds_writer.h"
#include "core/tasks/housekeeping_tick.h"
#include "core/tasks/submit_schedule.h"
#include "core/tools/clock_sync.h"

namespace norvane::cli {
namespace {

using namespace std::chrono_literals;
using Steady = std::chrono::steady_clock;

// How long the end of a run waits for the store to take the last seconds.
constexpr std::chrono::seconds kStoreFlushLimit{10};

std::optional<uint32_t> ParseCount(std::string_view text) {
  uint32_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  return value;
}

struct MonitorArgs {
  std::optional<uint32_t> seconds;
  std::optional<std::string> out;
  std::optional<uint32_t> autosave;
  std::optional<std::string> type;
  bool submit = false;
  bool demo = false;
  bool quiet = false;
};

std::optional<int> ParseMonitorArgs(const CommandContext& context, MonitorArgs& m) {
  const ParsedOptions& o = context.options;
  if (!context.args.empty()) return context.Usage("unknown argument '" + context.args.front() + "'");
  for (const std::string_view name : {"--seconds", "--autosave"}) {
    const std::optional<std::string> value = o.Value(name);
    if (!value) continue;
    const std::optional<uint32_t> n = ParseCount(*value);
    if (!n || *n == 0)
      return context.Usage(std::string(name) + " takes a whole number of seconds above 0, not '" + *value + "'");
    (name == "--seconds" ? m.seconds : m.autosave) = n;
  }
  m.out = o.Value("--out");
  m.type = o.Value("--type");
  m.submit = o.Has("--submit");
  m.demo = o.Has("--demo");
  m.quiet = o.Has("--quiet");
  if (!m.demo && !context.port) return context.Usage("monitor needs --port DEV, or --demo");
  return std::nullopt;
}

// What a run records into: the day of seconds, its files, the web map and the housekeeping tick.
struct Recording {
  Recording(const Settings& settings, const std::string& prefix, UserNotifier& notifier)
      : data(clock.Now()), saver(data, dictionary, clock, notifier), recorder(data, saver, clock, notifier),
        submitter(clock, notifier), tick(settings, data, clock, Actions(notifier)) {
    data.conversion = settings.calibration;
    saver.set_options(MakeWriterOptions(settings, data.conversion, dictionary));
    recorder.set_name_prefix(prefix);
    tick.set_name_prefix(prefix);
  }
  HousekeepingActions Actions(UserNotifier& notifier) {
    HousekeepingActions actions;
    actions.save = [this, &notifier](std::string_view pattern, const std::string& name) {
      if (IsPicturePattern(pattern)) {
        notifier.Status("No chart to picture without the window: " + std::string(pattern) + " skipped.");
        return true;
      }
      return saver.SaveByType(pattern, name).saved();
    };
    actions.reset_realtime = [this] { recorder.ResetData(); };
    actions.submit = [this](const std::string& url) { submitter.Submit(url); };
    return actions;
  }

  SystemClock clock;
  LanguageDictionary dictionary;
  DataSet data;
  FileSaver saver;
  RealtimeRecorder recorder;
  MapSubmitter submitter;
  HousekeepingTick tick;
};

// The engine's news on stderr, as the rest of the command's.
class StderrLog final : public live::EngineLog {
 public:
  explicit StderrLog(std::ostream& err) : err_(err) {}
  void Write(live::Priority, std::string_view text) override { err_ << text << "\n" << std::flush; }

 private:
  std::ostream& err_;
};

// One line a polled second: elapsed time, its count ("-" when it stays a gap), CPM and dose rate.
std::string SecondLine(const std::string& elapsed, std::optional<uint32_t> count, uint32_t cpm, double usv_h) {
  return elapsed + "  " + (count ? Format("%u", static_cast<unsigned>(*count)) : "-") + "  " +
         Format("CPM:%u", static_cast<unsigned>(cpm)) + "  " + FormatFixed(usv_h, 3) + " uSv/h";
}

// The engine's seconds into the day's recording, with a line for each; on the engine's thread,
// beside the housekeeping on the main thread, hence the lock.
class MonitorSink final : public LiveSink {
 public:
  MonitorSink(std::mutex& mutex, RealtimeRecorder& recorder, FileSaver& saver, DataSet& data,
              const LanguageDictionary& dictionary, std::ostream* out, UserNotifier& notifier)
      : mutex_(mutex), recorder_(recorder), saver_(saver), data_(data), dictionary_(dictionary), out_(out),
        notifier_(notifier) {}

  void OnSecond(const store::CounterInfo&, const LiveSecond& second) override {
    Polled(second.count, second.cpm, second.usv_h);
  }
  void OnGap(const store::CounterInfo&, int64_t) override { Polled(std::nullopt, cpm_, usv_h_); }
  void OnLinkState(const store::CounterInfo& counter, LinkState state) override {
    if (state != LinkState::kConnected) return;
    {
      // The day's files name the counter that measured them.
      std::lock_guard lock(mutex_);
      saver_.set_model(counter.model);
    }
    if (started_) return;
    started_ = true;
    notifier_.Status("Heartbeat started..");
    notifier_.Status(counter.version + " connected.");
  }
  uint32_t cpm() const { return cpm_; }

 private:
  void Polled(std::optional<uint32_t> count, uint32_t cpm, double usv_h) {
    std::lock_guard lock(mutex_);
    cpm_ = cpm;
    usv_h_ = usv_h;
    data_.realtime.set_elapsed(data_.realtime.elapsed() + 1);
    recorder_.Record(count);
    if (out_) *out_ << SecondLine(ElapsedText(data_.realtime.elapsed(), dictionary_), count, cpm, usv_h) << std::endl;
  }

  std::mutex& mutex_;
  RealtimeRecorder& recorder_;
  FileSaver& saver_;
  DataSet& data_;
  const LanguageDictionary& dictionary_;
  std::ostream* out_;
  UserNotifier& notifier_;
  std::atomic<uint32_t> cpm_{0};
  double usv_h_ = 0;
  bool started_ = false;
};

// The files written, and a line on stderr for each one that was not. True when all were.
bool ReportSaves(const std::vector<SaveResult>& results, std::string& where, CommandContext& context) {
  for (const SaveResult& r : results) {
    if (r.saved()) where += (where.empty() ? "" : ", ") + r.path;
    else context.err << "norvane-cli: could not save " << r.path << ": " << r.error << "\n";
  }
  return AllSaved(results);
}

// Saves what is still unsaved into the chosen folder; when that fails, into the temporary folder
// so that the run is not lost. True only when the chosen folder took every file.
bool SaveAtTheEnd(RealtimeRecorder& recorder, CommandContext& context) {
  const uint32_t unsaved = recorder.recorded_seconds();
  if (unsaved == 0) return true;
  std::string where;
  const bool saved_all = ReportSaves(recorder.SaveRecording(), where, context);
  if (!where.empty()) context.err << "saved " << unsaved << " recorded seconds to " << where << "\n";
  if (saved_all) return true;

  std::string fallback = TemporaryFolder();
  if (fallback.back() != '/') fallback += '/';
  std::string kept;
  ReportSaves(recorder.SaveRecording(fallback), kept, context);
  if (!kept.empty()) context.err << "norvane-cli: the " << unsaved << " recorded seconds are kept in " << kept << "\n";
  else context.err << "norvane-cli: the recording could not be saved in " << fallback << " either\n";
  return false;
}

}  // namespace

int RunMonitor(CommandContext& context) {
  MonitorArgs args;
  if (auto code = ParseMonitorArgs(context, args)) return *code;

  Settings settings = SettingsStore(context.settings_path).Load();
  if (args.autosave) {
    settings.auto_save_enabled = 1;
    settings.auto_save_time_hour = 0;
    settings.auto_save_time_minute = 0;
    settings.auto_save_time_second = *args.autosave;
  }
  if (args.type) settings.auto_save_file_type = *args.type;
  if (args.submit) settings.auto_submit_enabled = 1;

  std::string prefix = args.out ? *args.out : settings.file_save_path;
  if (!prefix.empty()) {
    std::error_code ec;
    std::filesystem::create_directories(prefix, ec);
    if (!std::filesystem::is_directory(prefix, ec)) return context.Fail("cannot use '" + prefix + "' as the folder for saved files");
  }
  // A whole run recorded into a folder that takes no files would be lost at its end.
  if (auto problem = CheckFolderWritable(prefix.empty() ? "." : prefix)) return context.Fail(*problem);
  if (!prefix.empty() && prefix.back() != '/') prefix += '/';

  if (!args.demo && !context.store_path.empty())
    if (auto why = store::SecondsWriter::CheckPath(context.store_path)) return context.Fail(*why);
  StreamNotifier notifier(context.err);
  const std::optional<int> model = ChosenModel(context);
  if (!model) return context.Fail("unknown model '" + *context.model + "' (see the model list in the README)");
  TraceFile trace;
  if (auto problem = OpenTrace(context, trace)) return context.Fail(*problem);
  DeviceRig rig(PortCatalogue::DiscoverMachine(ExtraPaths(context)), notifier);
  rig.SetTrace(trace.trace.get());
  rig.session.SelectModelFromList(*model);
  live::RunSetup setup;
  if (args.demo) {
    // Made-up counts of 0 to 2 a second, with no port and no store, as the window's demonstration.
    notifier.Status("DEMO Mode!!!");
    setup.demo_version = std::string(ModelListEntry(static_cast<uint32_t>(*model)));
  } else {
    const std::optional<int> port = rig.ports.Resolve(*context.port);
    if (!port) return context.Usage("--port needs a port number or a device path, not '" + *context.port + "'");
    setup.options.port = rig.ports.PathOf(*port).value_or(*context.port);
  }

  Recording r(settings, prefix, notifier);
  r.recorder.StartSession();
  std::mutex mutex;

  StopFlag stop;
  // Ctrl+C ends the housekeeping loop below, which then stops the engine: the watch's thread
  // never touches the engine, which may be going away meanwhile.
  InterruptWatch watch([&] { stop.Raise(); });
  // Every measured second also goes into the long-term store. The writer's thread starts after
  // the watch, so Ctrl+C never lands on it.
  std::unique_ptr<store::SecondsWriter> writer;
  if (!args.demo && !context.store_path.empty())
    writer = std::make_unique<store::SecondsWriter>(context.store_path, notifier);

  MonitorSink sink(mutex, r.recorder, r.saver, r.data, r.dictionary, args.quiet ? nullptr : &context.out, notifier);
  StderrLog log(context.err);
  setup.options.family = rig.state.family.load();
  setup.options.polls = args.seconds;
  setup.options.end_when_lost = true;
  setup.extra_paths = ExtraPaths(context);
  setup.trace = trace.trace.get();
  setup.conversion = settings.calibration;
  setup.ended = [&] { stop.Raise(); };
  if (writer) setup.recent = live::RecentFromStore(context.store_path, writer->holder());
  auto run = std::make_unique<live::LiveRun>(std::move(setup), log, writer.get(), std::vector<LiveSink*>{&sink});
  // The periodic clock sync borrows the engine's port; the pause is a gap. Each sync it makes is
  // kept in the store, as a reading the clock's drift is counted afresh from.
  live::PortLoan loan(rig.session, rig.ports);
  loan.Attach(&run->engine());
  std::atomic<bool> sync_retry{false};
  ClockSync sync(rig.session, r.clock, sync_retry, &loan, {}, KeepClockReadings(context, rig, notifier));

  // The housekeeping once a second beside the polls: automatic saves, the web map, the clock.
  for (Steady::time_point next = Steady::now() + 1s; stop.WaitUntil(next); next += 1s) {
    std::lock_guard lock(mutex);
    r.tick.Run(true, sink.cpm());
    const std::optional<live::CounterIdentity> counter = run->engine().counter();
    if (!args.demo && counter &&
        PeriodicClockSyncDue(counter->family, FirmwareVersionNumber(counter->version), settings.auto_time_sync_period,
                             sync_retry.load(), r.data.realtime.elapsed()))
      sync.SetClock(ClockTrigger::kPeriodic);
  }
  loan.Attach(nullptr);
  const bool lost = run->engine().gave_up();
  const uint64_t polled = run->engine().tally().polled;
  const std::string problem = run->engine().last_problem();
  run.reset();
  if (lost && polled == 0) {
    r.submitter.WaitAll();
    return context.Fail(problem);
  }

  // Nothing recorded is thrown away by stopping.
  const bool saved_all = SaveAtTheEnd(r.recorder, context);
  bool stored_all = true;
  if (writer && !writer->Flush(kStoreFlushLimit)) {
    stored_all = false;
    context.err << "norvane-cli: " << writer->health().queued << " seconds could not be written to the store "
                << context.store_path.string() << "\n";
  }
  r.submitter.WaitAll();
  if (lost) return context.Fail("the counter stopped answering (Comport Error!): " + problem);
  return saved_all && stored_all ? kExitOk : kExitFailure;
}

int RunMap(CommandContext& context) {
  const std::vector<std::string>& a = context.args;
  if (a.empty() || (a[0] != "verify" && a[0] != "submit")) return context.Usage("map needs 'verify' or 'submit'");
  const Settings settings = SettingsStore(context.settings_path).Load();
  StreamNotifier notifier(context.err);
  const auto post = [](const std::string& url) { return PostMapRequest(url); };

  if (a[0] == "verify") {
    if (a.size() != 1) return context.Usage("map verify takes no arguments");
    const std::string url =
        VerificationUrl(settings.zqt_map_server, settings.zqt_map_user_account_id, settings.zqt_map_geiger_counter_id);
    const VerifyOutcome outcome = VerifyMapAccount(url, post, notifier);
    if (!outcome.answer.delivered) return kExitFailure;
    context.out << url << "\n" << outcome.answer.status << " " << outcome.answer.status_text << "\n"
                << outcome.answer.body << "\n";
    return outcome.verified ? kExitOk : context.Fail("the account and counter IDs were not verified");
  }

  if (a.size() > 1) return context.Usage("unexpected argument '" + a[1] + "'");
  std::optional<uint32_t> cpm;
  std::optional<double> acpm;
  if (const std::optional<std::string> text = context.options.Value("--cpm")) {
    cpm = ParseCount(*text);
    if (!cpm) return context.Usage("--cpm takes a whole number, not '" + *text + "'");
  }
  if (const std::optional<std::string> text = context.options.Value("--acpm")) {
    acpm = ParseLeadingDouble(*text);
    if (!acpm || *acpm < 0) return context.Usage("--acpm takes a number, not '" + *text + "'");
  }
  if (!cpm) return context.Usage("map submit needs --cpm N");
  const float usv = DoseRateFromCpm(settings.calibration, *cpm);
  const std::string url = SubmissionUrl(settings.zqt_map_server, settings.zqt_map_user_account_id,
                                        settings.zqt_map_geiger_counter_id, *cpm,
                                        acpm ? static_cast<float>(*acpm) : static_cast<float>(*cpm), usv);
  // The three status lines go to standard output here: they are what this command is for.
  struct OutNotifier final : UserNotifier {
    OutNotifier(std::ostream& out, UserNotifier& rest) : out_(out), rest_(rest) {}
    void Message(std::string_view text, std::string_view caption) override { rest_.Message(text, caption); }
    void Status(std::string_view line) override { out_ << line << (line.ends_with('\n') ? "" : "\n"); }
    bool Ask(std::string_view q, std::string_view c) override { return rest_.Ask(q, c); }
    std::ostream& out_;
    UserNotifier& rest_;
  } out(context.out, notifier);
  SystemClock clock;
  return RunSubmission(url, post, clock, out) ? kExitOk : kExitFailure;
}

}  // namespace norvane::cli
