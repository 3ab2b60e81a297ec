// Publishes live readings to an MQTT broker, with Home Assistant discovery and the history from the store.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>

#include "core/common/user_notifier.h"
#include "core/common/dose_conversion.h"
#include "core/publish/live_reading.h"
#include "core/publish/mqtt_messages.h"
#include "core/publish/mqtt_url.h"

struct mosquitto;
struct mosquitto_message;

namespace norvane::publish {

struct MqttOptions {
  MqttTarget target;
  std::string ca_file;  // mqtts: the CA that signed the broker's certificate; empty: the system's
  std::string discovery_prefix = kDefaultDiscoveryPrefix;
  int64_t every = 1;    // seconds between state messages
  // The store the seconds are written to: a gap in publishing is filled from it. Empty: no catch-up.
  std::filesystem::path store;
  ConversionTable conversion = kDefaultConversionTable;
  // The store's data-quality verdicts are published (SetQuality): each counter's device gets its
  // problem sensor with the rest of its discovery, so consumers see it before the first verdict.
  bool quality = false;
  int64_t longest_catch_up = 86400;  // seconds; older ones of a long outage stay in the store only
  std::chrono::seconds reconnect_first{1};
  std::chrono::seconds reconnect_longest{60};
};

// Nothing here blocks the caller: readings are queued and a thread of the publisher's own sends
// them, while libmosquitto's loop thread keeps the connection and reconnects with growing pauses.
// Every second goes on the history topic once, in order, and counts as delivered when the broker
// acknowledges it (QoS 1); what was not delivered (the broker away, the queue overflowing) is sent
// later from the store. The state topic carries live seconds only, at QoS 0: Home Assistant takes
// each message as the present when it arrives, so a second handed in more than kLiveFor ago is
// never put there, and none is sent there again. A long catch-up on the history topic never holds
// up the present. Problems reach the user once each through the notifier, from either thread.
class MqttPublisher {
 public:
  struct Health {
    bool connected = false;
    uint64_t sent = 0;          // seconds handed to the broker on the history topic
    uint64_t acknowledged = 0;  // of those, acknowledged
    uint64_t from_store = 0;    // of those, rebuilt from the store after a gap
    uint64_t connects = 0;
  };
  // Readings kept per counter while the broker is away; older ones come from the store later.
  static constexpr size_t kMaxQueued = 3600;
  // A second is live this long after it was handed in. The poll hands a second in within one after
  // it ends, so what Home Assistant shows is never more than some 5 s old.
  static constexpr std::chrono::seconds kLiveFor{3};

  MqttPublisher(MqttOptions options, UserNotifier& notifier);
  // Sends what is still waiting while the broker is there (a moment at most), marks the program
  // offline, then disconnects.
  ~MqttPublisher();
  MqttPublisher(const MqttPublisher&) = delete;
  MqttPublisher& operator=(const MqttPublisher&) = delete;

  void AddCounter(const LiveCounter& counter);
  void Publish(const LiveReading& reading);
  void SetConnection(store::CounterId counter, ConnectionState state);
  void SetAlarm(store::CounterId counter, const AlarmReading& alarm);
  void SetQuality(store::CounterId counter, const QualityReading& quality);

  Health health() const;
  // Waits until every reading handed in is acknowledged by the broker; false on timeout.
  bool WaitDelivered(std::chrono::milliseconds timeout);

 private:
  struct Queued {
    LiveReading reading;
    std::chrono::steady_clock::time_point handed;
  };
  // Seconds [from, to) for the history topic. `again`: seconds sent once whose acknowledgement
  // never came; counted in the totals already.
  struct Gap {
    int64_t from = 0, to = 0;
    double acpm = 0;  // of the reading after the gap, which is what the monitor knew when it resumed
    bool again = false;
    // Nothing older goes: the day before the gap's end as it was first seen. Live seconds that join
    // the gap later do not push its oldest ones out.
    int64_t floor = 0;
  };
  struct CounterState {
    LiveCounter info;
    bool announced = false;
    std::optional<ConnectionState> link;
    bool link_sent = true;
    std::optional<AlarmReading> alarm;
    bool alarm_sent = true;
    bool alarm_announced = false;
    std::optional<QualityReading> quality;
    bool quality_sent = true;
    // Newest second taken from the queue: sent, or left to the history from the store.
    std::optional<int64_t> last_sent;
    std::deque<Gap> gaps;              // oldest first
    // Until when the oldest gap waits for the store's writer to catch up with the second after it.
    std::chrono::steady_clock::time_point gap_wait_until{};
    int64_t gap_waiting_before = 0;
    double acpm = 0;                   // of the newest reading
    // Of the seconds the store held before this run and those published or passed over since.
    PublishedTotals totals;
    bool seeded = false;               // the store was read for the totals before this run
    std::deque<Queued> queue;
  };
  struct InFlight {
    store::CounterId counter = 0;
    int64_t utc = 0;
  };

  void Run();
  bool StepCounter(CounterState& counter, std::unique_lock<std::mutex>& lock);
  // Sends the next batch of the oldest gap on the history topic.
  bool FillGap(CounterState& counter, std::unique_lock<std::mutex>& lock);
  void AddGap(CounterState& counter, Gap gap) const;
  // Starts the counter's totals from what the store holds of it before `before`.
  void Seed(CounterState& counter, int64_t before, std::unique_lock<std::mutex>& lock);
  void Announce(std::unique_lock<std::mutex>& lock);
  // Publishes with the lock released; the message id of a state message is remembered.
  bool Send(const MqttMessage& message, std::unique_lock<std::mutex>& lock, std::optional<InFlight> state = {});
  bool Due(const CounterState& counter, int64_t utc) const;
  // The counter's totals with one more second, kept once that second is sent.
  static PublishedTotals With(const CounterState& counter, uint32_t count, double usv_h);
  // Everything handed in was sent and acknowledged; under the lock.
  bool Settled() const;

  static void OnConnect(mosquitto*, void* self, int rc);
  static void OnDisconnect(mosquitto*, void* self, int rc);
  static void OnPublish(mosquitto*, void* self, int mid);
  static void OnMessage(mosquitto*, void* self, const mosquitto_message* message);
  static void OnLog(mosquitto*, void* self, int level, const char* text);
  void Problem(const std::string& text);
  void Unreachable(int rc);

  const MqttOptions options_;
  UserNotifier& notifier_;
  const MqttTopics topics_;
  mosquitto* client_ = nullptr;

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::map<store::CounterId, CounterState> counters_;
  std::map<int, InFlight> in_flight_;
  std::set<int> early_acks_;  // acknowledged before Send had noted the id
  std::set<int> written_;     // QoS 0 messages the library has not said it wrote yet
  bool connected_ = false;
  std::chrono::steady_clock::time_point away_since_;
  bool loop_running_ = false;
  bool unconnected_ = false;  // no connection begun yet: the sending thread begins one
  uint64_t generation_ = 0;  // successful connections so far
  bool stop_ = false;
  Health health_;
  std::string last_problem_;

  // The sending thread's own.
  uint64_t announced_generation_ = 0;
  std::chrono::steady_clock::time_point drain_until_;
  std::unique_ptr<store::Store> store_;
  bool store_failed_ = false;

  std::thread thread_;
};

}  // namespace norvane::publish
