// norvane-cli collect: a centre's service that keeps every station's seconds from MQTT in one store.
#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "cli/command.h"
#include "cli/stop_flag.h"
#include "cli/stream_notifier.h"
#include "core/collect/collector.h"
#include "core/common/text_format.h"
#include "core/platform/interrupt_watch.h"
#include "core/publish/mqtt_password.h"
#include "core/publish/mqtt_url.h"
#include "core/store/counter_store.h"

namespace norvane::cli {
namespace {

// How often the running totals go to the log.
constexpr std::chrono::minutes kReportEvery{10};
// Pauses between tries of a database server that cannot be opened yet.
constexpr std::chrono::milliseconds kOpenRetryFirst{250};
constexpr std::chrono::milliseconds kOpenRetryLongest{10000};

struct CollectArgs {
  publish::PublishingOptions mqtt;  // its address, password file and CA file
  std::optional<std::filesystem::path> journal;
  std::string client_id = "norvane-collect";
  std::optional<uint32_t> seconds;
};

std::optional<int> ParseCollectArgs(const CommandContext& context, CollectArgs& r) {
  const ParsedOptions& o = context.options;
  if (!context.args.empty()) return context.Usage("unknown argument '" + context.args.front() + "'");
  r.mqtt.mqtt_url = o.Value("--mqtt").value_or("");
  r.mqtt.mqtt_password_file = o.Value("--mqtt-password-file").value_or("");
  r.mqtt.mqtt_ca_file = o.Value("--mqtt-ca").value_or("");
  if (auto journal = o.Value("--journal")) r.journal = *journal;
  r.client_id = o.Value("--client-id").value_or(r.client_id);
  if (const std::optional<std::string> value = o.Value("--seconds")) {
    uint32_t n = 0;
    const auto [end, ec] = std::from_chars(value->data(), value->data() + value->size(), n);
    if (ec != std::errc{} || end != value->data() + value->size() || n == 0)
      return context.Usage("--seconds takes a whole number of seconds above 0, not '" + *value + "'");
    r.seconds = n;
  }
  if (r.mqtt.mqtt_url.empty()) return context.Usage("collect needs --mqtt URL: the broker the stations publish to");
  return std::nullopt;
}

// systemd's StateDirectory=, else the XDG state folder.
std::filesystem::path DefaultJournal() {
  if (const char* state = std::getenv("STATE_DIRECTORY"); state && *state) return std::filesystem::path(state) / "collect";
  if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg && *xdg == '/')
    return std::filesystem::path(xdg) / "norvane-data-viewer" / "collect";
  if (const char* home = std::getenv("HOME"); home && *home)
    return std::filesystem::path(home) / ".local" / "state" / "norvane-data-viewer" / "collect";
  return {};
}

std::string Totals(const collect::CollectHealth& h) {
  return Format("%llu seconds received, %llu stored, %llu already stored (%llu of them with other counts), %llu "
                "messages refused, %llu set aside by the store, %llu waiting",
                static_cast<unsigned long long>(h.received), static_cast<unsigned long long>(h.stored),
                static_cast<unsigned long long>(h.repeated), static_cast<unsigned long long>(h.differing),
                static_cast<unsigned long long>(h.rejected), static_cast<unsigned long long>(h.set_aside),
                static_cast<unsigned long long>(h.waiting));
}

// A centre's database server may be starting or restarting when the collector starts, as both
// come up with the machine: it is tried again until it opens. Null when stopped first. A store
// file that cannot be opened is a mistake that waiting does not mend.
std::unique_ptr<store::CounterStore> OpenWhenUp(const std::string& location, StopFlag& stop, UserNotifier& notifier) {
  for (auto pause = kOpenRetryFirst;; pause = std::min(pause * 2, kOpenRetryLongest)) {
    try {
      return store::OpenStore(location);
    } catch (const store::PermanentStoreError&) {
      throw;
    } catch (const store::StoreError& e) {
      if (!store::IsServerLocation(location)) throw;
      if (pause == kOpenRetryFirst) notifier.Status(std::string(e.what()) + "; collecting keeps trying.");
    }
    if (!stop.WaitUntil(std::chrono::steady_clock::now() + pause)) return nullptr;
  }
}

}  // namespace

int RunCollect(CommandContext& context) {
  CollectArgs args;
  if (auto code = ParseCollectArgs(context, args)) return *code;
  if (context.store_path.empty()) return context.Fail("collect needs a store: set --store or NORVANE_STORE");
  if (auto problem = publish::ResolveMqttPassword(args.mqtt)) return context.Fail(*problem);
  std::string error;
  std::optional<publish::MqttTarget> target = publish::ParseMqttUrl(args.mqtt.mqtt_url, &error);
  if (!target) return context.Usage(error);
  if (target->password.empty()) target->password = args.mqtt.mqtt_password;

  collect::CollectOptions options;
  options.target = *target;
  options.ca_file = args.mqtt.mqtt_ca_file;
  options.client_id = args.client_id;
  options.journal_dir = args.journal ? *args.journal : DefaultJournal();
  if (options.journal_dir.empty()) return context.Fail("no journal folder: set --journal, STATE_DIRECTORY or HOME");

  StopFlag stop;
  InterruptWatch interrupt([&] { stop.Raise(); });
  StreamNotifier notifier(context.err);
  try {
    const std::unique_ptr<store::CounterStore> db = OpenWhenUp(context.store_path.string(), stop, notifier);
    if (!db) return kExitOk;
    notifier.Status("Collecting every station below " + target->prefix + " on " + target->Where() + " into the store " +
                    db->Location() + ".");
    collect::Collector collector(options, *db, notifier);
    const auto end = args.seconds ? std::chrono::steady_clock::now() + std::chrono::seconds(*args.seconds)
                                  : std::chrono::steady_clock::time_point::max();
    for (auto next = std::chrono::steady_clock::now() + kReportEvery;; next += kReportEvery) {
      if (!stop.WaitUntil(std::min(next, end))) break;
      if (std::chrono::steady_clock::now() >= end) break;
      notifier.Status(Totals(collector.health()));
    }
    collector.Stop();
    notifier.Status("Stopped: " + Totals(collector.health()) + ".");
  } catch (const std::exception& e) {
    return context.Fail(e.what());
  }
  return kExitOk;
}

}  // namespace norvane::cli
