#include "core/publish/live_publishing.h"

#include "core/i18n/language_dictionary.h"
#include "core/i18n/window_texts.h"

namespace norvane::publish {

LivePublishing::LivePublishing(const PublishingOptions& options, UserNotifier& notifier) {
  if (!options.mqtt_url.empty()) {
    std::string error;
    if (const auto target = ParseMqttUrl(options.mqtt_url, &error)) {
      MqttOptions mqtt;
      mqtt.target = *target;
      if (mqtt.target.password.empty()) mqtt.target.password = options.mqtt_password;
      mqtt.ca_file = options.mqtt_ca_file;
      mqtt.discovery_prefix = options.discovery_prefix;
      mqtt.every = std::max<int64_t>(1, options.mqtt_every);
      mqtt.store = options.store;
      mqtt.conversion = options.conversion;
      mqtt.quality = !options.store.empty();
      mqtt_ = std::make_unique<MqttPublisher>(std::move(mqtt), notifier);
    } else {
      notifier.Message(EnglishText(kTextMsgWithoutMqtt, {error}), "MQTT");
    }
  }
  if (!options.metrics_address.empty()) {
    std::string error;
    if (const auto address = ParseListenAddress(options.metrics_address, &error)) {
      registry_ = std::make_unique<MetricsRegistry>(options.store);
      server_ = std::make_unique<MetricsServer>(*address, *registry_, notifier);
    } else {
      notifier.Message(EnglishText(kTextMsgWithoutMetrics, {error}), EnglishText(kTextCaptionMetrics));
    }
  }
  if ((mqtt_ || registry_) && !options.store.empty())
    quality_ = std::make_unique<QualityWatch>(options.store.string(), notifier,
                                              [this](store::CounterId counter, const QualityReading& quality) {
                                                if (registry_) registry_->Quality(counter, quality);
                                                if (mqtt_) mqtt_->SetQuality(counter, quality);
                                              });
}

LivePublishing::~LivePublishing() = default;

void LivePublishing::OnCounter(const LiveCounter& counter) {
  if (mqtt_) mqtt_->AddCounter(counter);
  if (registry_) registry_->AddCounter(counter);
}

void LivePublishing::OnSecond(const LiveReading& reading) {
  if (mqtt_) mqtt_->Publish(reading);
  if (registry_) registry_->Reading(reading);
  if (quality_) quality_->Second(reading.store_id, reading.utc);
}

void LivePublishing::OnConnection(store::CounterId counter, ConnectionState state) {
  if (mqtt_) mqtt_->SetConnection(counter, state);
  if (registry_) registry_->Connection(counter, state);
}

void LivePublishing::OnAlarm(store::CounterId counter, const AlarmReading& alarm) {
  if (mqtt_) mqtt_->SetAlarm(counter, alarm);
  if (registry_) registry_->Alarm(counter, alarm);
}

void LivePublishing::OnStoreWriteErrors(store::CounterId counter, uint64_t total) {
  if (registry_) registry_->StoreWriteErrors(counter, total);
}

}  // namespace norvane::publish
