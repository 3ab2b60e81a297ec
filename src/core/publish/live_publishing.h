// Attaches the MQTT and Prometheus publishers to a live monitoring run, from its options.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "core/common/user_notifier.h"
#include "core/publish/metrics_server.h"
#include "core/publish/mqtt_publisher.h"
#include "core/publish/quality_watch.h"

namespace norvane::publish {

struct PublishingOptions {
  std::string mqtt_url;          // empty: no MQTT
  std::string mqtt_ca_file;
  std::string discovery_prefix = kDefaultDiscoveryPrefix;
  int64_t mqtt_every = 1;        // seconds between state messages
  std::string metrics_address;   // empty: no /metrics
  std::filesystem::path store;   // where the run's seconds are written
  std::string store_holder{};    // the token of the run's writer into it (see CounterStore::HoldAs)
  ConversionTable conversion = kDefaultConversionTable;  // for the µSv/h of seconds resent from the store
  // Kept off the command line; ResolveMqttPassword (mqtt_password.h) reads the file into
  // mqtt_password, which stands in for a password missing from the address.
  std::filesystem::path mqtt_password_file{};
  std::string mqtt_password{};
};

// The logging service hands every event to one of these from its polling thread; each call only
// queues or updates numbers. An option that cannot be used is told once and left off, so logging
// goes on with what works.
class LivePublishing {
 public:
  LivePublishing(const PublishingOptions& options, UserNotifier& notifier);
  ~LivePublishing();

  bool mqtt() const { return mqtt_ != nullptr; }
  bool metrics() const { return server_ && server_->listening(); }
  uint16_t metrics_port() const { return server_ ? server_->port() : 0; }

  void OnCounter(const LiveCounter& counter);
  // Also has the counter's data quality judged from the store, at its first second and every
  // kQualityEvery seconds after.
  void OnSecond(const LiveReading& reading);
  void OnConnection(store::CounterId counter, ConnectionState state);
  void OnAlarm(store::CounterId counter, const AlarmReading& alarm);
  // The store writer's failed commits so far.
  void OnStoreWriteErrors(store::CounterId counter, uint64_t total);

 private:
  std::unique_ptr<MqttPublisher> mqtt_;
  std::unique_ptr<MetricsRegistry> registry_;
  std::unique_ptr<MetricsServer> server_;  // declared after the registry it reads, so it stops first
  std::unique_ptr<QualityWatch> quality_;  // last: it reports to the publishers above, so it stops first
};

}  // namespace norvane::publish
