// norvane-cli record: the unattended logging service that polls the counter into the long-term store.
#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "cli/command.h"
#include "cli/device_rig.h"
#include "cli/stop_flag.h"
#include "core/common/text_format.h"
#include "core/history/dose_conversion.h"
#include "core/net/map_submission.h"
#include "core/net/map_urls.h"
#include "core/platform/hangup_watch.h"
#include "core/platform/interrupt_watch.h"
#include "core/protocol/command_catalogue.h"
#include "core/protocol/model_identification.h"
#include "core/publish/mqtt_password.h"
#include "core/publish/publishing_sink.h"
#include "core/realtime/live_sink.h"
#include "core/realtime/poll_reply.h"
#include "core/settings/settings_store.h"
#include "core/store/seconds_writer.h"
#include "core/store/store_time.h"
#include "core/tasks/submit_schedule.h"

namespace norvane::cli {
namespace {

using namespace std::chrono_literals;
using Steady = std::chrono::steady_clock;

// Seconds without a byte from the counter before it counts as not answering, and before the
// service drops the connection and looks for the counter afresh.
constexpr int kSilentSeconds = 5;
constexpr int kReconnectSeconds = 20;
// The wait between two searches for a lost counter doubles from the first to the longest.
constexpr std::chrono::seconds kFirstRetry{1};
constexpr std::chrono::seconds kLongestRetry{60};
// How long a clean stop waits for the store to take the last seconds.
constexpr std::chrono::seconds kFlushLimit{10};
// The longest wait for the counter's reply after "<GETCPS>>", as in the window's poll, and how
// often the reply is looked at meanwhile (the reader takes a byte a pass of 10 ms).
constexpr std::chrono::milliseconds kPollSettle{200};
constexpr std::chrono::milliseconds kReplyCheck{10};

// Priorities as syslog numbers them; journald reads them from a "<N>" line start.
enum Priority { kError = 3, kWarning = 4, kNotice = 5, kInfo = 6 };

struct RecordArgs {
  std::optional<std::filesystem::path> log;
  std::optional<uint32_t> seconds;
  bool submit = false;
  bool echo = false;
  publish::PublishingOptions publishing;
};

std::optional<int> ParseRecordArgs(const CommandContext& context, RecordArgs& r) {
  const std::vector<std::string>& a = context.args;
  for (size_t i = 0; i < a.size(); ++i) {
    const std::string& o = a[i];
    if (o == "--log" || o == "--seconds" || o == "--mqtt" || o == "--mqtt-ca" || o == "--mqtt-every" ||
        o == "--discovery-prefix" || o == "--metrics" || o == "--mqtt-password-file") {
      if (i + 1 >= a.size()) return context.Usage(o + " needs a value");
      const std::string& value = a[++i];
      if (o == "--log") {
        r.log = value;
        continue;
      }
      if (o == "--mqtt") r.publishing.mqtt_url = value;
      if (o == "--mqtt-ca") r.publishing.mqtt_ca_file = value;
      if (o == "--mqtt-password-file") r.publishing.mqtt_password_file = value;
      if (o == "--discovery-prefix") r.publishing.discovery_prefix = value;
      if (o == "--metrics") r.publishing.metrics_address = value;
      if (o != "--seconds" && o != "--mqtt-every") continue;
      uint32_t n = 0;
      const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
      if (ec != std::errc{} || end != value.data() + value.size() || n == 0)
        return context.Usage(o + " takes a whole number of seconds above 0, not '" + value + "'");
      if (o == "--seconds") r.seconds = n;
      else r.publishing.mqtt_every = n;
    } else if (o == "--submit") {
      r.submit = true;
    } else if (o == "--echo") {
      r.echo = true;
    } else {
      return context.Usage("unknown argument '" + o + "'");
    }
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

// The link's own chatter while connecting, kept quiet: a search every minute for a day would
// fill the log. The last message is kept, as the reason a search failed.
class QuietNotifier final : public UserNotifier {
 public:
  void Message(std::string_view text, std::string_view) override {
    std::lock_guard lock(mutex_);
    last_ = text;
  }
  void Status(std::string_view) override {}
  bool Ask(std::string_view, std::string_view) override { return false; }
  std::string TakeLast() {
    std::lock_guard lock(mutex_);
    return std::exchange(last_, {});
  }

 private:
  std::mutex mutex_;
  std::string last_;
};

// The CPM of the last 60 seconds, from the measured ones among them: a gap does not pull it down.
class MinuteWindow {
 public:
  uint32_t Add(int64_t utc, uint32_t count) {
    slots_[static_cast<size_t>(((utc % 60) + 60) % 60)] = {utc, count};
    uint64_t sum = 0, measured = 0;
    for (const Slot& s : slots_) {
      if (s.time <= utc - 60 || s.time > utc) continue;
      sum += s.count;
      ++measured;
    }
    return measured ? static_cast<uint32_t>(sum * 60 / measured) : 0;
  }

 private:
  struct Slot {
    int64_t time = INT64_MIN;
    uint32_t count = 0;
  };
  std::array<Slot, 60> slots_{};
};

class RecordService {
 public:
  struct Parts {
    CommandContext& context;
    const RecordArgs& args;
    const Settings& settings;
    ServiceLog& log;
    StopFlag& stop;
    store::SecondsWriter* writer;  // null: the store is off
    std::vector<LiveSink*> sinks;
    MapSubmitter& submitter;
    LinkTrace* trace;  // --trace, or null
  };

  RecordService(Parts parts, int model)
      : p_(std::move(parts)), rig_(PortCatalogue::DiscoverMachine(ExtraPaths(p_.context)), quiet_) {
    rig_.session.SelectModelFromList(model);
  }

  void Run() {
    rig_.link.SetTrace(p_.trace);
    std::chrono::seconds retry = kFirstRetry;
    Steady::time_point next = Steady::now();
    while (!p_.stop.raised() && !(p_.args.seconds && polled_ >= *p_.args.seconds)) {
      if (!connected_) {
        if (Find()) {
          retry = kFirstRetry;
          next = Steady::now();
          continue;
        }
        if (retry < kLongestRetry || !waiting_logged_)
          p_.log.Write(kInfo, Format("Looking for the counter again in %d s.", static_cast<int>(retry.count())));
        waiting_logged_ = retry >= kLongestRetry;
        p_.stop.WaitUntil(Steady::now() + retry);
        retry = std::min(kLongestRetry, retry * 2);
        continue;
      }
      Poll();
      next += 1s;
      // A poll that ran late (a slow search, a suspended machine) starts the beat afresh.
      if (next < Steady::now()) next = Steady::now() + 1s;
      p_.stop.WaitUntil(next);
    }
    Disconnect();
    SetState(LinkState::kStopped, "");
  }

  uint64_t polled() const { return polled_; }
  uint64_t measured() const { return measured_; }

 private:
  // One search: the port given (or the one last used), then, unless the service is bound to a
  // port it never saw the counter on, every other port for a counter with the same version reply.
  bool Find() {
    Disconnect();
    rig_.ports = PortCatalogue::DiscoverMachine(ExtraPaths(p_.context));
    std::vector<int> candidates;
    const auto add = [&](int n) {
      if (n > 0 && std::find(candidates.begin(), candidates.end(), n) == candidates.end()) candidates.push_back(n);
    };
    if (p_.context.port) add(rig_.ports.Resolve(*p_.context.port).value_or(0));
    if (!path_.empty()) add(rig_.ports.NumberOf(path_));
    const size_t home = candidates.size();  // the ports the counter is expected on
    if (!p_.context.port || !version_.empty())
      for (const PortEntry& e : rig_.ports.ports()) add(e.number);

    std::string reason = "no counter answered";
    for (size_t i = 0; i < candidates.size(); ++i) {
      const int n = candidates[i];
      if (p_.stop.raised()) return false;
      const std::optional<std::string> path = rig_.ports.PathOf(n);
      std::error_code ec;
      if (!path || !std::filesystem::exists(*path, ec)) {
        if (candidates.size() == 1) reason = (path ? *path : Format("COM%d", n)) + " does not exist";
        continue;
      }
      // Another port is only asked once for its version: a silent port would otherwise hold
      // the search for several seconds while the counter may be back where it was.
      if (i >= home && !Answers(n)) {
        quiet_.TakeLast();
        continue;
      }
      const IdentifyResult found = rig_.session.ConnectAndIdentify(n);
      const std::string message = quiet_.TakeLast();
      if (!found.port_open) {
        const std::string& why = rig_.link.last_failure().reason;
        if (candidates.size() == 1 || n == candidates.front()) reason = why.empty() ? message : why;
        continue;
      }
      if (!found.family || (!version_.empty() && found.reply != version_)) {
        if (n == candidates.front()) reason = *path + " gave no counter's version reply";
        rig_.reader.Stop();
        rig_.link.Close();
        continue;
      }
      Connected(n, *path);
      return true;
    }
    if (state_ != LinkState::kLost || !lost_logged_) {
      SetState(LinkState::kLost, reason);
      lost_logged_ = true;
    }
    return false;
  }

  // One version request on port n: true when the reply is this counter's (or any counter's
  // when none was seen yet).
  bool Answers(int n) {
    if (!rig_.session.OpenPortForReader(n)) return false;
    std::this_thread::sleep_for(50ms);
    const std::string reply = rig_.session.RequestVersion();
    rig_.reader.Stop();
    rig_.link.Close();
    return version_.empty() ? FamilyFromReply(reply).has_value() : reply == version_;
  }

  void Connected(int port, const std::string& path) {
    const bool moved = path != path_;
    version_ = rig_.state.model_text;
    path_ = path;
    counter_ = IdentifiedCounter(rig_, port);
    if (p_.writer && (!handle_ || moved)) handle_ = p_.writer->AddCounter(counter_, clock_.Now());
    rig_.buffer.Reset();
    connected_ = true;
    silent_ = 0;
    lost_logged_ = false;
    waiting_logged_ = false;
    SetState(LinkState::kConnected, counter_.version + " (" + counter_.model + ") on " + path);
  }

  void Disconnect() {
    rig_.reader.Stop();
    rig_.link.Close();
    connected_ = false;
  }

  void Poll() {
    const int64_t utc = clock_.Now();
    rig_.buffer.Reset(10);
    const std::vector<uint8_t> frame = BuildFrame(commands::kGetCps);
    const int sent = rig_.link.SendData(frame, commands::kGetCps.delay_ms, rig_.state.family.load());
    if (!WaitForReply()) return;
    ++polled_;
    const int held = rig_.buffer.position();
    const std::optional<uint32_t> count = TakePollReply(rig_.buffer);
    silent_ = held == 0 ? silent_ + 1 : 0;
    if (count) {
      Measured(utc, *count);
    } else if (held > 0 && !dropping_) {
      dropping_ = true;
      p_.log.Write(kWarning, Format("The counter's replies are dropped (marked or %d bytes long); the seconds stay gaps.", held));
    }

    std::error_code ec;
    std::string lost;
    if (sent <= 0 || !std::filesystem::exists(path_, ec)) lost = path_ + " is gone (unplugged?)";
    else if (rig_.reader.stopped()) lost = "the port stopped answering";
    else if (silent_ >= kReconnectSeconds) lost = Format("no reply for %d s", silent_);
    if (!lost.empty()) {
      Disconnect();
      SetState(LinkState::kLost, lost);
      lost_logged_ = true;
    } else if (silent_ == kSilentSeconds) {
      SetState(LinkState::kNotAnswering, Format("no reply for %d s", silent_));
    }
  }

  // A 4-byte reply is taken once a check finds nothing more behind it, so the second reaches the
  // store and the publishers tens of milliseconds after the counter sent it. Anything else waits
  // the whole settle time: an older counter's 2-byte reply cannot be told from a cut one sooner.
  // False when a stop came first.
  bool WaitForReply() {
    const Steady::time_point deadline = Steady::now() + kPollSettle;
    int held_before = -1;
    while (Steady::now() < deadline) {
      if (!p_.stop.WaitUntil(std::min(deadline, Steady::now() + kReplyCheck))) return false;
      const int held = rig_.buffer.position();
      if (held == 4 && held_before == 4) break;
      held_before = held;
    }
    return true;
  }

  void Measured(int64_t utc, uint32_t count) {
    ++measured_;
    total_ += count;
    if (dropping_) {
      dropping_ = false;
      p_.log.Write(kInfo, "The counter's replies are read again.");
    }
    if (state_ != LinkState::kConnected) SetState(LinkState::kConnected, "answering again");
    // The store first: a second echoed is a second handed to the writer.
    if (p_.writer && handle_) p_.writer->Append(*handle_, utc, count);
    const uint32_t cpm = window_.Add(utc, count);
    const LiveSecond second{utc, count, cpm, DoseRateFromCpm(p_.settings.calibration, cpm),
                            p_.writer ? p_.writer->health().failures : 0};
    for (LiveSink* sink : p_.sinks) sink->OnSecond(counter_, second);
    if (p_.args.echo) p_.context.out << store::FormatTime(utc, clock_) << " " << count << std::endl;
    Submit(cpm);
  }

  void Submit(uint32_t cpm) {
    if (!submit_.Tick(true, p_.settings.AutoSubmitOn(), p_.settings.auto_submit_period, cpm)) return;
    // Each submission runs on a worker; those that finished are joined so none pile up over weeks.
    if (!p_.submitter.running()) p_.submitter.WaitAll();
    const uint32_t seconds = static_cast<uint32_t>(std::min<uint64_t>(measured_, UINT32_MAX));
    const float acpm = AverageCpmForMap(total_, seconds, cpm);
    p_.submitter.Submit(SubmissionUrl(p_.settings.zqt_map_server, p_.settings.zqt_map_user_account_id,
                                      p_.settings.zqt_map_geiger_counter_id, cpm, acpm,
                                      DoseRateFromCpm(p_.settings.calibration, cpm)));
  }

  void SetState(LinkState state, const std::string& detail) {
    if (state == state_ && state != LinkState::kLost) return;
    state_ = state;
    const Priority priority = state == LinkState::kConnected || state == LinkState::kStopped ? kNotice : kWarning;
    p_.log.Write(priority, "Counter " + std::string(LinkStateName(state)) + (detail.empty() ? "" : ": " + detail) + ".");
    for (LiveSink* sink : p_.sinks) sink->OnLinkState(counter_, state);
  }

  Parts p_;
  QuietNotifier quiet_;
  DeviceRig rig_;
  SystemClock clock_;
  MinuteWindow window_;
  SubmitSchedule submit_;

  bool connected_ = false;
  LinkState state_ = LinkState::kStopped;
  bool lost_logged_ = false;
  bool waiting_logged_ = false;
  bool dropping_ = false;
  int silent_ = 0;
  std::string version_;  // the counter's version reply: a search accepts only the same counter
  std::string path_;
  store::CounterInfo counter_;
  std::optional<store::SecondsWriter::Handle> handle_;
  uint64_t polled_ = 0;
  uint64_t measured_ = 0;
  uint64_t total_ = 0;
};

}  // namespace

int RunRecord(CommandContext& context) {
  RecordArgs args;
  if (auto code = ParseRecordArgs(context, args)) return *code;
  // The MQTT password from --mqtt-password-file, $NORVANE_MQTT_PASSWORD or the systemd credential.
  if (auto problem = publish::ResolveMqttPassword(args.publishing)) return context.Fail(*problem);
  Settings settings = SettingsStore(context.settings_path).Load();
  if (args.submit) settings.auto_submit_enabled = 1;
  const std::optional<int> model = ChosenModel(context);
  if (!model) return context.Fail("unknown model '" + *context.model + "' (see the model list in the README)");
  TraceFile trace;
  if (auto problem = OpenTrace(context, trace)) return context.Fail(*problem);

  ServiceLog log(args.log, context.err);
  if (auto problem = log.Open()) return context.Fail(*problem);
  // Both watchers before any other thread starts, so every thread leaves the signals to them.
  HangupWatch hangup([&log] {
    log.Reopen();
    log.Write(kInfo, "Log reopened.");
  });
  StopFlag stop;
  InterruptWatch interrupt([&stop] { stop.Raise(); });

  LogNotifier notifier(log);
  std::unique_ptr<store::SecondsWriter> writer;
  if (context.store_path.empty()) {
    log.Write(kNotice, "Recording without the long-term store.");
  } else {
    writer = std::make_unique<store::SecondsWriter>(context.store_path, notifier);
    log.Write(kInfo, "Recording into the long-term store " + context.store_path.string() + ".");
  }
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
    publishing_sink.emplace(*publishing, context.store_path, notifier);
    sinks.push_back(&*publishing_sink);
  }
  RecordService service({context, args, settings, log, stop, writer.get(), sinks, submitter, trace.trace.get()}, *model);
  service.Run();

  bool flushed = true;
  if (writer) {
    flushed = writer->Flush(kFlushLimit);
    const store::SecondsWriter::Health health = writer->health();
    if (!flushed || health.queued > 0)
      log.Write(kError, Format("%llu seconds could not be written to the store.",
                               static_cast<unsigned long long>(health.queued)));
  }
  submitter.WaitAll();
  log.Write(kNotice, Format("Stopped after %llu measured seconds.", static_cast<unsigned long long>(service.measured())));
  return flushed ? kExitOk : kExitFailure;
}

}  // namespace norvane::cli
