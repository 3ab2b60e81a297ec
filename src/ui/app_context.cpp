#include "ui/app_context.h"

#include "core/common/dose_conversion.h"
#include "core/common/text_format.h"
#include "core/i18n/language_dictionary.h"
#include "core/i18n/window_texts.h"
#include "core/publish/mqtt_password.h"
#include "core/store/clock_keeping.h"
#include "core/store/counter_store.h"
#include "core/store/last_download.h"
#include "core/store/pg_db.h"

namespace norvane {
namespace {

// The store's path unless the settings turned the store off.
std::filesystem::path ChosenStore(SettingsStore& settings, const std::filesystem::path& path) {
  if (path.empty()) return path;
  uint32_t on = 1;
  RegistryKey& key = settings.Key();
  key.OpenNamed(kSettingsKey);
  key.ReadNumber(kLongTermStoreSetting, on);
  key.Close();
  return on ? path : std::filesystem::path();
}

// The alarm's settings; what cannot be read as a number above 0 keeps the default.
alarm::AlarmOptions ChosenAlarm(SettingsStore& settings) {
  alarm::AlarmOptions options;
  std::string rate, usv;
  RegistryKey& key = settings.Key();
  key.OpenNamed(kSettingsKey);
  key.ReadText(kAlarmRateSetting, rate);
  key.ReadText(kAlarmUsvSetting, usv);
  key.Close();
  if (const std::optional<double> r = ParseLeadingDouble(rate); r && *r > 0) options.false_alarms_per_year = *r;
  if (const std::optional<double> u = ParseLeadingDouble(usv); u && *u > 0) options.fixed_usv_h = *u;
  return options;
}

// What the settings ask to publish; both addresses empty: nothing.
publish::PublishingOptions ChosenPublishing(SettingsStore& settings) {
  publish::PublishingOptions options;
  uint32_t every = 1;
  RegistryKey& key = settings.Key();
  key.OpenNamed(kSettingsKey);
  key.ReadText(kMqttUrlSetting, options.mqtt_url);
  std::string password_file;
  key.ReadText(kMqttPasswordFileSetting, password_file);
  options.mqtt_password_file = password_file;
  key.ReadText(kMqttCaFileSetting, options.mqtt_ca_file);
  key.ReadText(kMqttDiscoveryPrefixSetting, options.discovery_prefix);
  key.ReadNumber(kMqttEverySetting, every);
  key.ReadText(kMetricsAddressSetting, options.metrics_address);
  key.Close();
  if (options.discovery_prefix.empty()) options.discovery_prefix = publish::kDefaultDiscoveryPrefix;
  options.mqtt_every = every;
  return options;
}

}  // namespace

AppContext::AppContext(UserNotifier& user, const std::filesystem::path& settings_path,
                       const std::vector<std::string>& extra_ports, AppHooks hooks)
    : notifier(user),
      store(settings_path),
      device(PortCatalogue::DiscoverMachine(extra_ports), notifier, &data.dump, &store),
      data(clock.Now()),
      saver(data, dictionary, clock, hooks.save_notifier ? *hooks.save_notifier : notifier),
      recorder(data, saver, clock, notifier),
      loan(session, ports),
      clock_sync(session, clock, sync_retry, &loan, {},
                 [this](const store::ClockReading& reading) { KeepClockReading(reading); }),
      download({link, state, data.dump, notifier, &store, hooks.download_progress}),
      scan(session),
      submitter(clock, notifier),
      tick(settings, data, clock, std::move(hooks.housekeeping)),
      store_path_(ChosenStore(store, hooks.store_path)),
      background_notifier_(hooks.background_notifier ? *hooks.background_notifier : notifier),
      extra_ports_(extra_ports),
      alarm_options_(ChosenAlarm(store)) {
  // A centre's server is for the chart to read; the window's seconds go into a station's file.
  if (store_on() && store::IsServerLocation(store_path_.string())) {
    background_notifier_.Message(EnglishText(kTextMsgStoreIsServer, {store::WithoutPassword(store_path_.string())}),
                                 EnglishText(kTextCaptionLongTermStore));
    store_path_.clear();
  }
  // The writer opens the store with the first second, so a window that never monitors never
  // touches it.
  if (store_on()) seconds_writer_ = std::make_unique<store::SecondsWriter>(store_path_, background_notifier_);
  ApplyPublishing();
}

void AppContext::ApplyPublishing() {
  // The old publishers finish what they hold before the new ones connect.
  publishing_.reset();
  publish::PublishingOptions publishing = ChosenPublishing(store);
  if (auto problem = publish::ResolveMqttPassword(publishing)) {
    background_notifier_.Message(EnglishText(kTextMsgNotPublished, {*problem}), EnglishText(kTextCaptionPublishing));
    publishing.mqtt_url.clear();
  }
  if (publishing.mqtt_url.empty() && publishing.metrics_address.empty()) return;
  if (!store_on()) {
    background_notifier_.Message(EnglishText(kTextMsgPublishingNeedsStore), EnglishText(kTextCaptionPublishing));
    return;
  }
  publishing.store = store_path_;
  publishing.store_holder = seconds_writer_ ? seconds_writer_->holder() : std::string();
  // Seconds resent after a broker outage get their dose rate from the calibration the window
  // has when publishing starts.
  publishing.conversion = store.Load().calibration;
  publishing_ = std::make_unique<publish::PublishingThread>(std::move(publishing), background_notifier_);
}

AppContext::~AppContext() {
  StopLive();
  download.RequestStop();
  download.Wait();
}

void AppContext::KeepClockReading(const store::ClockReading& reading) {
  if (!store_on()) return;
  store::KeepClockReading(store_path_.string(), IdentifiedCounter(state, ports, state.current_port), reading, notifier);
}

void AppContext::ReadClockAfterDownload() {
  if (store_on()) clock_sync.ReadAfterDownload();
}

void AppContext::StartLive(const LiveStart& start, LiveSink& window, live::EngineLog& log,
                           alarm::AlarmListener& alarms) {
  StopLive();
  // The engine owns the port from here.
  link.Close();
  state.port_open = false;
  live::RunSetup setup;
  setup.options.port = start.port;
  setup.options.family = start.family;
  // Somebody is watching: a counter plugged in again is found within seconds, not a minute.
  setup.options.longest_retry = std::chrono::seconds(4);
  setup.extra_paths = extra_ports_;
  if (start.demo) setup.demo_version = start.demo_version;
  setup.conversion = start.conversion;
  // Ticked again, monitoring goes on with the minute it paused in.
  if (!start.demo && seconds_writer_) setup.recent = live::RecentFromStore(store_path_, seconds_writer_->holder());
  // A demonstration measures nothing: it is neither stored, published nor watched for alarms.
  std::vector<LiveSink*> sinks;
  if (!start.demo) {
    if (publishing_) sinks.push_back(publishing_.get());
    alarms_ = std::make_unique<alarm::AlarmSink>(alarm_options_, store_path_, background_notifier_,
                                                 seconds_writer_ ? seconds_writer_->holder() : std::string());
    if (publishing_) alarms_->AddListener(*publishing_);
    alarms_->AddListener(alarms);
    sinks.push_back(alarms_.get());
  }
  sinks.push_back(&window);
  live_ = std::make_unique<live::LiveRun>(std::move(setup), log, start.demo ? nullptr : seconds_writer_.get(),
                                          std::move(sinks));
  loan.Attach(&live_->engine());
}

void AppContext::StopLive() {
  loan.Attach(nullptr);
  live_.reset();
  alarms_.reset();
}

std::vector<uint8_t> AppContext::LastDownload() {
  if (!store_on()) return {};
  try {
    const auto opened = store::OpenStore(store_path_.string());
    store::CounterStore& db = *opened;
    if (auto last = store::FindLastDownload(db, state.model_text, data.dump.image_size())) return std::move(last->data);
  } catch (const store::StoreError&) {
    // A store that cannot be read keeps no download: the whole flash is read, as without one.
  }
  return {};
}

void AppContext::ImportDownload() {
  if (!store_on()) return;
  try {
    const auto opened = store::OpenStore(store_path_.string());
    store::CounterStore& db = *opened;
    const int64_t now = clock.Now();
    const store::CounterId counter = db.RegisterCounter(IdentifiedCounter(state, ports, state.current_port), now);
    const store::ImportResult r = db.ImportHistory(counter, data.dump.image(), clock);
    // Kept for the next "Download New".
    const ImageView image = data.dump.image();
    store::KeepLastDownload(db, counter, {image.data(), image.size()}, now);
    notifier.Status(Format("%zu of %zu history records were new to the long-term store.", r.added, r.records));
  } catch (const std::exception& e) {
    background_notifier_.Message(EnglishText(kTextMsgHistoryNotImported, {store_path_.string(), e.what()}),
                                 EnglishText(kTextCaptionLongTermStore));
  }
}

}  // namespace norvane
