// norvane-cli record: the unattended logging service that polls the counter into the long-term store.
#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "cli/command.h"
#include "cli/device_rig.h"
#include "cli/stop_flag.h"
#include "cli/upload_setup.h"
#include "core/alarm/alarm_sink.h"
#include "core/alarm/alarm_text.h"
#include "core/common/text_format.h"
#include "core/common/dose_conversion.h"
#include "core/live/live_engine.h"
#include "core/live/serial_live_link.h"
#include "core/net/map_submission.h"
#include "core/net/map_urls.h"
#include "core/platform/command_start.h"
#include "core/platform/interrupt_watch.h"
#include "core/protocol/model_table.h"
#include "core/publish/mqtt_messages.h"
#include "core/publish/mqtt_password.h"
#include "core/publish/publishing_sink.h"
#include "core/realtime/live_sink.h"
#include "core/settings/settings_store.h"
#include "core/store/pg_db.h"
#include "core/store/seconds_writer.h"
#include "core/store/store_time.h"
#include "core/tasks/submit_schedule.h"

namespace norvane::cli {
namespace {

// How long a clean stop waits for the store to take the last seconds.
constexpr std::chrono::seconds kFlushLimit{10};

using live::Priority;
constexpr Priority kError = Priority::kError;
constexpr Priority kNotice = Priority::kNotice;
constexpr Priority kInfo = Priority::kInfo;

struct RecordArgs {
  std::optional<std::filesystem::path> log;
  std::optional<uint32_t> seconds;
  bool submit = false;
  bool echo = false;
  publish::PublishingOptions publishing;
  alarm::AlarmOptions alarm;
  std::string on_alarm;  // empty: no command
};

// A positive number, as "--alarm-rate 0.5" or "--alarm-usv-h 0.3" give it.
std::optional<double> PositiveNumber(const std::string& text) {
  double value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc{} || end != text.data() + text.size() || !(value > 0)) return std::nullopt;
  return value;
}

std::optional<int> ParseRecordArgs(const CommandContext& context, RecordArgs& r) {
  const ParsedOptions& o = context.options;
  if (!context.args.empty()) return context.Usage("unknown argument '" + context.args.front() + "'");
  if (auto log = o.Value("--log")) r.log = *log;
  r.on_alarm = o.Value("--on-alarm").value_or("");
  r.submit = o.Has("--submit");
  r.echo = o.Has("--echo");
  r.publishing.mqtt_url = o.Value("--mqtt").value_or(r.publishing.mqtt_url);
  r.publishing.mqtt_ca_file = o.Value("--mqtt-ca").value_or(r.publishing.mqtt_ca_file);
  if (auto file = o.Value("--mqtt-password-file")) r.publishing.mqtt_password_file = *file;
  r.publishing.discovery_prefix = o.Value("--discovery-prefix").value_or(r.publishing.discovery_prefix);
  r.publishing.metrics_address = o.Value("--metrics").value_or(r.publishing.metrics_address);
  for (const std::string_view name : {"--alarm-rate", "--alarm-usv-h"}) {
    const std::optional<std::string> value = o.Value(name);
    if (!value) continue;
    const std::optional<double> number = PositiveNumber(*value);
    if (!number) return context.Usage(std::string(name) + " takes a number above 0, not '" + *value + "'");
    if (name == "--alarm-rate") r.alarm.false_alarms_per_year = *number;
    else r.alarm.fixed_usv_h = *number;
  }
  for (const std::string_view name : {"--seconds", "--mqtt-every"}) {
    const std::optional<std::string> value = o.Value(name);
    if (!value) continue;
    uint32_t n = 0;
    const auto [end, ec] = std::from_chars(value->data(), value->data() + value->size(), n);
    if (ec != std::errc{} || end != value->data() + value->size() || n == 0)
      return context.Usage(std::string(name) + " takes a whole number of seconds above 0, not '" + *value + "'");
    if (name == "--seconds") r.seconds = n;
    else r.publishing.mqtt_every = n;
  }
  return std::nullopt;
}

// One line per event. On the journal (stderr with JOURNAL_STREAM set) the line starts with its
// priority and journald adds the time; anywhere else it starts with the local time and offset.
class ServiceLog {
 public:
  ServiceLog(std::optional<std::filesystem::path> file, std::ostream& err)
      : file_(std::move(file)), err_(err), journal_(!file_ && std::getenv("JOURNAL_STREAM") != nullptr) {}

  // Opens the --log file (appending); the reason when it cannot be written.
  std::optional<std::string> Open() {
    std::lock_guard lock(mutex_);
    return OpenLocked();
  }
  // After logrotate moved the file away: a fresh one under the same name.
  void Reopen() {
    std::lock_guard lock(mutex_);
    if (!file_) return;
    stream_.close();
    if (auto problem = OpenLocked()) err_ << "norvane-cli: " << *problem << "\n" << std::flush;
  }

  void Write(Priority priority, std::string_view text) {
    std::string line;
    line.reserve(text.size() + 32);
    if (journal_) line = Format("<%d>", static_cast<int>(priority));
    else line = store::FormatTime(clock_.Now(), clock_) + " ";
    for (char c : text) line += c == '\n' ? ' ' : c;
    line += '\n';
    std::lock_guard lock(mutex_);
    std::ostream& out = stream_.is_open() ? static_cast<std::ostream&>(stream_) : err_;
    out << line << std::flush;
  }

 private:
  std::optional<std::string> OpenLocked() {
    if (!file_) return std::nullopt;
    stream_.open(*file_, std::ios::out | std::ios::app);
    if (!stream_) return "cannot write the log file " + file_->string();
    return std::nullopt;
  }

  const std::optional<std::filesystem::path> file_;
  std::ostream& err_;
  const bool journal_;
  SystemClock clock_;
  std::mutex mutex_;
  std::ofstream stream_;
};

// What the store's writer and the web map report: messages are errors, status lines are news.
class LogNotifier final : public UserNotifier {
 public:
  explicit LogNotifier(ServiceLog& log) : log_(log) {}
  void Message(std::string_view text, std::string_view) override { log_.Write(kError, text); }
  void Status(std::string_view line) override {
    if (line.find_first_not_of(' ') != std::string_view::npos) log_.Write(kInfo, line);
  }
  bool Ask(std::string_view, std::string_view) override { return false; }

 private:
  ServiceLog& log_;
};

// What the engine tells goes to the service's log.
class EngineToLog final : public live::EngineLog {
 public:
  explicit EngineToLog(ServiceLog& log) : log_(log) {}
  void Write(live::Priority priority, std::string_view text) override { log_.Write(priority, text); }

 private:
  ServiceLog& log_;
};

// --echo: each second handed to the store, as a line a script can read.
class EchoSink final : public LiveSink {
 public:
  explicit EchoSink(std::ostream& out) : out_(out) {}
  void OnSecond(const store::CounterInfo&, const LiveSecond& second) override {
    out_ << store::FormatTime(second.utc, clock_) << " " << second.count << std::endl;
  }
  void OnLinkState(const store::CounterInfo&, LinkState) override {}

 private:
  std::ostream& out_;
  SystemClock clock_;
};

// The web map, on the schedule the settings give.
class MapSink final : public LiveSink {
 public:
  MapSink(const Settings& settings, MapSubmitter& submitter) : settings_(settings), submitter_(submitter) {}
  void OnSecond(const store::CounterInfo&, const LiveSecond& second) override {
    ++measured_;
    total_ += second.count;
    if (!schedule_.Tick(true, settings_.AutoSubmitOn(), settings_.auto_submit_period, second.cpm)) return;
    // Each submission runs on a worker; those that finished are joined so none pile up over weeks.
    if (!submitter_.running()) submitter_.WaitAll();
    const uint32_t seconds = static_cast<uint32_t>(std::min<uint64_t>(measured_, UINT32_MAX));
    submitter_.Submit(SubmissionUrl(settings_.zqt_map_server, settings_.zqt_map_user_account_id,
                                    settings_.zqt_map_geiger_counter_id, second.cpm,
                                    AverageCpmForMap(total_, seconds, second.cpm), second.usv_h));
  }
  void OnLinkState(const store::CounterInfo&, LinkState) override {}

 private:
  const Settings& settings_;
  MapSubmitter& submitter_;
  SubmitSchedule schedule_;
  uint64_t measured_ = 0;
  uint64_t total_ = 0;
};

// Each alarm and all-clear: a line in the log and, with --on-alarm, the user's command with the
// values in its environment.
class AlarmToLog final : public alarm::AlarmListener {
 public:
  AlarmToLog(ServiceLog& log, std::string command, std::optional<double> fixed_usv_h)
      : log_(log), command_(std::move(command)), fixed_usv_h_(fixed_usv_h) {}

  void OnAlarm(const store::CounterInfo& counter, const alarm::AlarmEvent& e) override {
    const bool on = e.kind == alarm::AlarmKind::kRaised;
    log_.Write(on ? kError : kNotice, alarm::DescribeAlarm(e, fixed_usv_h_));
    if (command_.empty()) return;
    const std::vector<std::pair<std::string, std::string>> variables{
        {"NORVANE_ALARM", on ? "on" : "off"},
        {"NORVANE_ALARM_TIME", publish::IsoUtc(e.utc)},
        {"NORVANE_ALARM_WINDOW_S", std::to_string(e.window)},
        {"NORVANE_ALARM_LEVEL_CPM", Format("%.2f", e.level_cpm)},
        {"NORVANE_ALARM_THRESHOLD_CPM", Format("%.2f", e.threshold_cpm)},
        {"NORVANE_ALARM_BACKGROUND_CPM", Format("%.2f", e.background_cpm)},
        {"NORVANE_ALARM_USV_H", Format("%.3f", e.usv_h)},
        {"NORVANE_COUNTER_MODEL", counter.model},
        {"NORVANE_COUNTER_SERIAL", counter.serial},
        {"NORVANE_COUNTER_PORT", counter.port},
    };
    // The command is the user's, but the broker's and the database's passwords are not its to see.
    if (auto problem = StartCommand(command_, variables, {publish::kMqttPasswordVariable, "PGPASSWORD"}))
      log_.Write(kError, "The --on-alarm command: " + *problem + ".");
  }

 private:
  ServiceLog& log_;
  const std::string command_;
  const std::optional<double> fixed_usv_h_;
};

}  // namespace

int RunRecord(CommandContext& context) {
  RecordArgs args;
  if (auto code = ParseRecordArgs(context, args)) return *code;
  // A file that can never be a store is refused before the counter is looked for, not retried.
  if (!context.store_path.empty())
    if (auto why = store::SecondsWriter::CheckPath(context.store_path)) return context.Fail(*why);
  // The MQTT password from --mqtt-password-file, $NORVANE_MQTT_PASSWORD or the systemd credential.
  if (auto problem = publish::ResolveMqttPassword(args.publishing)) return context.Fail(*problem);
  Settings settings = SettingsStore(context.settings_path).Load();
  if (args.submit) settings.auto_submit_enabled = 1;
  const std::optional<int> model = ChosenModel(context);
  if (!model) return context.Fail("unknown model '" + *context.model + "' (see the model list in the README)");
  // A port that names nothing is the user's slip, not a counter to wait for.
  std::string port_path;
  if (context.port) {
    PortCatalogue ports = PortCatalogue::DiscoverMachine(ExtraPaths(context));
    const std::optional<int> number = ports.Resolve(*context.port);
    if (!number) return context.Usage("--port needs a port number or a device path, not '" + *context.port + "'");
    port_path = ports.PathOf(*number).value_or(*context.port);
  }
  TraceFile trace;
  if (auto problem = OpenTrace(context, trace)) return context.Fail(*problem);

  ServiceLog log(args.log, context.err);
  if (auto problem = log.Open()) return context.Fail(*problem);
  StopFlag stop;
  // The watch comes before any other thread starts, so every thread leaves the signals to it. The
  // engine polls on this thread, so the watch stops it; the lock keeps the engine alive while the
  // watch's thread reaches it.
  std::mutex running_mutex;
  live::LiveEngine* running = nullptr;
  InterruptWatch interrupt([&] {
    stop.Raise();
    std::lock_guard lock(running_mutex);
    if (running) running->Stop();
  }, [&log] {
    log.Reopen();
    log.Write(kInfo, "Log reopened.");
  });

  LogNotifier notifier(log);
  std::unique_ptr<store::SecondsWriter> writer;
  if (context.store_path.empty()) {
    log.Write(kNotice, "Recording without the long-term store.");
  } else {
    writer = std::make_unique<store::SecondsWriter>(context.store_path, notifier);
    log.Write(kInfo, "Recording into the long-term store " + store::WithoutPassword(context.store_path.string()) + ".");
  }
  std::unique_ptr<LiveSink> uploads;
  if (auto problem = StartUploads(context, writer ? writer->holder() : std::string(), notifier, uploads))
    return context.Fail(*problem);
  SystemClock clock;
  MapSubmitter submitter(clock, notifier);
  // Publishers of live readings attach here. An option they cannot use is logged and left off.
  std::vector<LiveSink*> sinks;
  args.publishing.store = context.store_path;
  args.publishing.conversion = settings.calibration;
  std::optional<publish::LivePublishing> publishing;
  std::optional<publish::PublishingSink> publishing_sink;
  if (!args.publishing.mqtt_url.empty() || !args.publishing.metrics_address.empty()) {
    publishing.emplace(args.publishing, notifier);
    publishing_sink.emplace(*publishing, context.store_path, notifier, writer ? writer->holder() : std::string());
    sinks.push_back(&*publishing_sink);
  }
  // The alarm follows the publishers, so they know the counter when they are told of its alarm.
  alarm::AlarmSink alarms(args.alarm, context.store_path, notifier, writer ? writer->holder() : std::string());
  AlarmToLog alarm_log(log, args.on_alarm, args.alarm.fixed_usv_h);
  alarms.AddListener(alarm_log);
  if (publishing_sink) alarms.AddListener(*publishing_sink);
  sinks.push_back(&alarms);
  EchoSink echo(context.out);
  if (args.echo) sinks.push_back(&echo);
  MapSink map(settings, submitter);
  sinks.push_back(&map);
  if (uploads) sinks.push_back(uploads.get());

  live::SerialLiveLink link(ExtraPaths(context));
  link.SetTrace(trace.trace.get());
  live::SystemLiveClock engine_clock;
  EngineToLog engine_log(log);
  live::EngineOptions options;
  options.port = port_path;
  options.family = ModelForName(ModelListEntry(static_cast<uint32_t>(*model))).family;
  if (args.seconds) options.polls = *args.seconds;
  live::LiveEngine engine({link, engine_clock, engine_log, writer.get(), sinks, settings.calibration,
                          writer ? live::RecentFromStore(context.store_path, writer->holder()) : live::RecentSeconds()},
                         options);
  {
    std::lock_guard lock(running_mutex);
    running = &engine;
  }
  if (!stop.raised()) engine.Run();
  {
    std::lock_guard lock(running_mutex);
    running = nullptr;
  }

  bool flushed = true;
  if (writer) {
    flushed = writer->Flush(kFlushLimit);
    const store::SecondsWriter::Health health = writer->health();
    if (health.queued > 0)
      log.Write(kError, Format("%llu seconds could not be written to the store.",
                               static_cast<unsigned long long>(health.queued)));
    else if (!flushed)
      log.Write(kNotice,
                "The seconds the store does not hold yet are kept in the journal; the next writer folds them in.");
  }
  submitter.WaitAll();
  if (engine.refused()) return context.Fail(engine.last_problem());
  log.Write(kNotice, Format("Stopped after %llu measured seconds.", static_cast<unsigned long long>(engine.tally().measured)));
  return flushed ? kExitOk : kExitFailure;
}

}  // namespace norvane::cli
