// norvane-cli monitor (a headless realtime logger) and map (the web map's verify and submit).
#include <atomic>
#include <charconv>
#include <chrono>
#include <condition_variable>
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
#include "core/realtime/realtime_monitor.h"
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
  const std::vector<std::string>& a = context.args;
  for (size_t i = 0; i < a.size(); ++i) {
    const std::string& o = a[i];
    const bool has_value = i + 1 < a.size();
    if (o == "--seconds" || o == "--autosave") {
      if (!has_value) return context.Usage(o + " needs a number of seconds");
      const std::optional<uint32_t> n = ParseCount(a[++i]);
      if (!n || *n == 0) return context.Usage(o + " takes a whole number of seconds above 0, not '" + a[i] + "'");
      (o == "--seconds" ? m.seconds : m.autosave) = n;
    } else if (o == "--out" || o == "--type") {
      if (!has_value) return context.Usage(o + " needs a value");
      (o == "--out" ? m.out : m.type) = a[++i];
    } else if (o == "--submit") {
      m.submit = true;
    } else if (o == "--demo") {
      m.demo = true;
    } else if (o == "--quiet") {
      m.quiet = true;
    } else {
      return context.Usage("unknown argument '" + o + "'");
    }
  }
  if (!m.demo && !context.port) return context.Usage("monitor needs --port DEV, or --demo");
  return std::nullopt;
}

std::string SecondLine(const PollOutcome& poll) {
  const std::string count = poll.second.recorded ? Format("%u", static_cast<unsigned>(poll.second.count)) : "-";
  return poll.elapsed_text + "  " + count + "  " + poll.second.cpm_text + "  " + poll.second.dose_text;
}

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

  StreamNotifier notifier(context.err);
  const std::optional<int> model = ChosenModel(context);
  if (!model) return context.Fail("unknown model '" + *context.model + "' (see the model list in the README)");
  TraceFile trace;
  if (auto problem = OpenTrace(context, trace)) return context.Fail(*problem);
  DeviceRig rig(PortCatalogue::DiscoverMachine(ExtraPaths(context)), notifier);
  rig.link.SetTrace(trace.trace.get());
  rig.session.SelectModelFromList(*model);
  if (args.demo) {
    rig.state.demo = true;
  } else {
    const std::optional<int> port = rig.ports.Resolve(*context.port);
    if (!port) return context.Usage("--port needs a port number or a device path, not '" + *context.port + "'");
    const IdentifyResult identified = rig.session.ConnectAndIdentify(*port);
    if (!identified.port_open) return context.Fail(Format("COM%d could not be opened", *port));
    if (!identified.family) return context.Fail("Please try again!");
  }

  SystemClock clock;
  LanguageDictionary dictionary;
  DataSet data(clock.Now());
  data.conversion = settings.calibration;
  FileSaver saver(data, dictionary, clock, notifier);
  saver.set_options(MakeWriterOptions(settings, data.conversion, dictionary));
  RealtimeRecorder recorder(data, saver, clock, notifier);
  recorder.set_name_prefix(prefix);
  MapSubmitter submitter(clock, notifier);

  std::atomic<bool> sync_retry{false};
  RealtimeMonitor* monitor_ptr = nullptr;
  // The command leaves the user's RealtimeMornitoring alone: it is the window's start-up choice.
  RealtimeMonitor monitor({rig.session, rig.buffer, recorder, data, settings, dictionary, notifier, nullptr,
                           [&] {
                             ClockSync(rig.session, rig.buffer, clock, sync_retry, monitor_ptr)
                                 .SetClock(ClockTrigger::kPeriodic);
                           },
                           &sync_retry});
  monitor_ptr = &monitor;

  HousekeepingActions actions;
  actions.save = [&](std::string_view pattern, const std::string& name) {
    if (IsPicturePattern(pattern)) {
      notifier.Status("No chart to picture without the window: " + std::string(pattern) + " skipped.");
      return true;
    }
    return saver.SaveByType(pattern, name).saved();
  };
  actions.reset_realtime = [&] { recorder.ResetData(); };
  actions.submit = [&](const std::string& url) { submitter.Submit(url); };
  HousekeepingTick tick(settings, data, clock, std::move(actions));
  tick.set_name_prefix(prefix);

  StopFlag stop;
  InterruptWatch watch([&] { stop.Raise(); });
  // Every measured second also goes into the long-term store; a demonstration measures nothing.
  // The writer's thread starts after the watch, so Ctrl+C never lands on it.
  std::unique_ptr<store::SecondsWriter> writer;
  store::SecondsWriter::Handle counter = 0;
  if (!args.demo && !context.store_path.empty()) {
    writer = std::make_unique<store::SecondsWriter>(context.store_path, notifier);
    counter = writer->AddCounter(IdentifiedCounter(rig, rig.state.current_port), clock.Now());
  }
  if (!monitor.Start()) return context.Fail("realtime monitoring could not start: the port did not open");

  bool port_error = false;
  uint32_t seconds = 0;
  Steady::time_point next = Steady::now() + RealtimeMonitor::kConfirmDelay;
  if (stop.WaitUntil(next)) monitor.Confirm();
  while (!stop.raised() && (!args.seconds || seconds < *args.seconds)) {
    const Steady::time_point second_start = Steady::now();
    tick.Run(monitor.state() == MonitorState::kPolling, monitor.cpm());
    if (monitor.state() == MonitorState::kStarting) monitor.Confirm();  // after a clock sync
    // The second is stamped when its poll goes out: the count is of the second before it.
    const int64_t utc = clock.Now();
    if (monitor.BeginPoll()) {
      stop.WaitUntil(Steady::now() + RealtimeMonitor::kPollSettle);
      const PollOutcome poll = monitor.FinishPoll();
      ++seconds;
      // Into the store before the line, so a second shown is a second handed to the writer.
      if (writer && poll.second.recorded) writer->Append(counter, utc, poll.second.count);
      if (!args.quiet) context.out << SecondLine(poll) << std::endl;
    } else if (monitor.state() == MonitorState::kOff) {
      port_error = true;
      break;
    }
    stop.WaitUntil(second_start + 1s);
  }
  if (monitor.state() != MonitorState::kOff) monitor.Stop();

  // Nothing recorded is thrown away by stopping.
  const bool saved_all = SaveAtTheEnd(recorder, context);
  bool stored_all = true;
  if (writer && !writer->Flush(kStoreFlushLimit)) {
    stored_all = false;
    context.err << "norvane-cli: " << writer->health().queued << " seconds could not be written to the store "
                << context.store_path.string() << "\n";
  }
  submitter.WaitAll();
  if (port_error) return context.Fail("the counter stopped answering (Comport Error!)");
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

  std::optional<uint32_t> cpm;
  std::optional<double> acpm;
  for (size_t i = 1; i < a.size(); ++i) {
    if (a[i] == "--cpm" && i + 1 < a.size()) {
      cpm = ParseCount(a[++i]);
      if (!cpm) return context.Usage("--cpm takes a whole number, not '" + a[i] + "'");
    } else if (a[i] == "--acpm" && i + 1 < a.size()) {
      acpm = ParseLeadingDouble(a[++i]);
      if (!acpm || *acpm < 0) return context.Usage("--acpm takes a number, not '" + a[i] + "'");
    } else {
      return context.Usage("unknown argument '" + a[i] + "'");
    }
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
