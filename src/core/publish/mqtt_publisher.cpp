#include "core/publish/mqtt_publisher.h"

#include <mosquitto.h>

#include <algorithm>

#include "core/i18n/language_dictionary.h"
#include "core/i18n/window_texts.h"
#include "core/publish/mqtt_client.h"

namespace norvane::publish {
namespace {

using namespace std::chrono_literals;

constexpr int kQos = 1;
constexpr int kKeepAliveSeconds = 30;
// Messages waiting for the broker's acknowledgement before the publisher holds back: enough to
// keep the link busy while catching up, little enough that the library's own queue stays small.
constexpr size_t kMaxInFlight = 200;
constexpr size_t kGapBatch = 600;
constexpr auto kStoreCatchUpWait = std::chrono::seconds(10);
// After a reconnect the library resends what it had in flight; the publisher waits for those
// acknowledgements before reading the gap, so nothing is sent twice. They come within moments;
// the wait is long because a resend the publisher gave up on still arrives, and twice then.
constexpr auto kDrainWait = 30s;
constexpr auto kUnreachableAfter = 10s;
// How long stopping waits for what was handed in last to reach a broker that is there.
constexpr auto kLastDelivery = 2s;

}  // namespace

MqttPublisher::MqttPublisher(MqttOptions options, UserNotifier& notifier)
    : options_(std::move(options)),
      notifier_(notifier),
      topics_(options_.target.prefix, options_.discovery_prefix) {
  mosquitto_lib_init();
  client_ = mosquitto_new(nullptr, true, this);
  if (!client_) {
    Problem("Publishing over MQTT is off: the MQTT client could not be created.");
    return;
  }
  mosquitto_connect_callback_set(client_, &MqttPublisher::OnConnect);
  mosquitto_disconnect_callback_set(client_, &MqttPublisher::OnDisconnect);
  mosquitto_publish_callback_set(client_, &MqttPublisher::OnPublish);
  mosquitto_log_callback_set(client_, &MqttPublisher::OnLog);
  mosquitto_message_callback_set(client_, &MqttPublisher::OnMessage);
  mosquitto_reconnect_delay_set(client_, static_cast<unsigned>(options_.reconnect_first.count()),
                                static_cast<unsigned>(options_.reconnect_longest.count()), true);
  const MqttTarget& target = options_.target;
  if (const int rc = ApplyMqttTarget(client_, target, options_.ca_file); rc != MOSQ_ERR_SUCCESS) {
    Problem("Publishing over MQTT is off: the CA file \"" + options_.ca_file + "\" cannot be used (" +
            mosquitto_strerror(rc) + ").");
    return;
  }
  const std::string offline = "offline";
  const std::string availability = topics_.Availability();
  mosquitto_will_set(client_, availability.c_str(), static_cast<int>(offline.size()), offline.data(), kQos, true);

  // The loop thread runs first: libmosquitto's loop thread waits for a connection begun, and one
  // refused before it ran (a broker not up yet) would be waited for for ever. Begun with the
  // thread running, a refused connection is retried with the reconnect pauses, as a lost one is.
  away_since_ = std::chrono::steady_clock::now();
  loop_running_ = mosquitto_loop_start(client_) == MOSQ_ERR_SUCCESS;
  const int rc = mosquitto_connect_async(client_, target.host.c_str(), target.port, kKeepAliveSeconds);
  if (rc != MOSQ_ERR_SUCCESS) {
    Unreachable(rc);
    // Failed before any socket was open (the name not found yet): the sending thread tries again.
    unconnected_ = true;
  }
  thread_ = std::thread([this] { Run(); });
}

MqttPublisher::~MqttPublisher() {
  {
    std::unique_lock lock(mutex_);
    // The last seconds and the counter's last link state (stopped) came moments ago; they go out
    // before the end, or a consumer would see the counter connected for good.
    wake_.wait_for(lock, kLastDelivery, [&] { return !connected_ || Settled(); });
    stop_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
  if (client_) {
    bool connected;
    {
      std::lock_guard lock(mutex_);
      connected = connected_;
    }
    // A clean disconnect sends no last will, so the program says it is going itself.
    if (connected) {
      int mid = 0;
      const std::string offline = "offline";
      const std::string availability = topics_.Availability();
      if (mosquitto_publish(client_, &mid, availability.c_str(), static_cast<int>(offline.size()), offline.data(), kQos,
                            true) == MOSQ_ERR_SUCCESS) {
        std::unique_lock lock(mutex_);
        in_flight_[mid] = {};
        wake_.wait_for(lock, 2s, [&] { return !in_flight_.contains(mid) || early_acks_.contains(mid) || !connected_; });
      }
    }
    mosquitto_disconnect(client_);
    if (loop_running_) mosquitto_loop_stop(client_, false);
    mosquitto_destroy(client_);
  }
  mosquitto_lib_cleanup();
}

void MqttPublisher::AddCounter(const LiveCounter& counter) {
  {
    std::lock_guard lock(mutex_);
    CounterState& state = counters_[counter.store_id];
    state.info = counter;
    state.announced = false;
  }
  wake_.notify_all();
}

void MqttPublisher::Publish(const LiveReading& reading) {
  {
    std::lock_guard lock(mutex_);
    CounterState& state = counters_[reading.store_id];
    if (state.info.store_id == 0 && state.info.model.empty())
      state.info = {reading.store_id, reading.model, reading.version, reading.port};
    state.queue.push_back(reading);
    // What falls out here is in the store, and the gap is read from there once the broker is back.
    if (state.queue.size() > kMaxQueued) state.queue.pop_front();
  }
  wake_.notify_all();
}

void MqttPublisher::SetConnection(store::CounterId counter, ConnectionState link) {
  {
    std::lock_guard lock(mutex_);
    CounterState& state = counters_[counter];
    state.link = link;
    state.link_sent = false;
  }
  wake_.notify_all();
}

void MqttPublisher::SetAlarm(store::CounterId counter, const AlarmReading& alarm) {
  {
    std::lock_guard lock(mutex_);
    CounterState& state = counters_[counter];
    state.alarm = alarm;
    state.alarm_sent = false;
  }
  wake_.notify_all();
}

void MqttPublisher::SetQuality(store::CounterId counter, const QualityReading& quality) {
  {
    std::lock_guard lock(mutex_);
    CounterState& state = counters_[counter];
    state.quality = quality;
    state.quality_sent = false;
  }
  wake_.notify_all();
}

MqttPublisher::Health MqttPublisher::health() const {
  std::lock_guard lock(mutex_);
  Health health = health_;
  health.connected = connected_;
  return health;
}

bool MqttPublisher::WaitDelivered(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return wake_.wait_for(lock, timeout, [&] {
    if (!connected_ || !in_flight_.empty()) return false;
    return std::all_of(counters_.begin(), counters_.end(), [](const auto& entry) { return entry.second.queue.empty(); });
  });
}

bool MqttPublisher::Settled() const {
  return in_flight_.empty() && std::all_of(counters_.begin(), counters_.end(), [](const auto& entry) {
           const CounterState& counter = entry.second;
           return counter.queue.empty() && counter.link_sent && counter.alarm_sent && counter.quality_sent &&
                  (counter.announced || counter.info.model.empty());
         });
}

void MqttPublisher::Run() {
  std::unique_lock lock(mutex_);
  std::chrono::seconds connect_pause = options_.reconnect_first;
  auto connect_at = std::chrono::steady_clock::now() + connect_pause;
  while (!stop_) {
    if (unconnected_ && std::chrono::steady_clock::now() >= connect_at) {
      // Once a connection is begun, the loop thread owns it and keeps it. Begun without the
      // lock: the library logs a failure (a CA file that is no certificate) from inside the call,
      // and OnLog takes the lock.
      lock.unlock();
      const int rc = mosquitto_reconnect_async(client_);
      lock.lock();
      if (rc == MOSQ_ERR_SUCCESS) {
        unconnected_ = false;
      } else {
        connect_pause = std::min(connect_pause * 2, options_.reconnect_longest);
        connect_at = std::chrono::steady_clock::now() + connect_pause;
      }
    }
    if (!connected_ || !client_) {
      // A connection that fails at once was told by the constructor; one that never answers is
      // told here.
      if (last_problem_.empty() && std::chrono::steady_clock::now() - away_since_ > kUnreachableAfter) {
        lock.unlock();
        Problem(EnglishText(kTextLineBrokerUnreachable, {options_.target.Where()}));
        lock.lock();
      }
      wake_.wait_for(lock, 1s);
      continue;
    }
    if (announced_generation_ != generation_) {
      announced_generation_ = generation_;
      drain_until_ = std::chrono::steady_clock::now() + kDrainWait;
      for (auto& [id, counter] : counters_) {
        counter.announced = false;
        counter.link_sent = !counter.link;
        counter.alarm_sent = !counter.alarm;
        counter.alarm_announced = false;
        counter.quality_sent = !counter.quality;
      }
      Send({topics_.Availability(), "online", true}, lock);
      Announce(lock);
      continue;
    }
    // State messages the library resends after a reconnect settle first; if they do not, the
    // store sends them again from the oldest one unacknowledged.
    const bool resending =
        std::any_of(in_flight_.begin(), in_flight_.end(), [](const auto& f) { return f.second.utc != 0; });
    if (resending && std::chrono::steady_clock::now() < drain_until_) {
      wake_.wait_for(lock, 50ms);
      continue;
    }
    if (drain_until_ != std::chrono::steady_clock::time_point()) {
      for (const auto& [mid, flight] : in_flight_) {
        if (flight.utc == 0) continue;
        CounterState& counter = counters_[flight.counter];
        if (counter.last_sent && *counter.last_sent >= flight.utc) {
          counter.last_sent = flight.utc - 1;
          counter.gap_filled_before = 0;
        }
      }
      std::erase_if(in_flight_, [](const auto& f) { return f.second.utc != 0; });
      drain_until_ = {};
    }
    Announce(lock);
    bool worked = false;
    for (auto& [id, counter] : counters_) {
      if (stop_ || !connected_) break;
      if (in_flight_.size() >= kMaxInFlight) break;
      worked |= StepCounter(counter, lock);
    }
    if (!worked) wake_.wait_for(lock, 1s);
  }
}

void MqttPublisher::Announce(std::unique_lock<std::mutex>& lock) {
  for (auto& [id, counter] : counters_) {
    if (!counter.announced && !counter.info.model.empty()) {
      counter.announced = true;
      for (const MqttMessage& message : topics_.Discovery(counter.info)) Send(message, lock);
      if (options_.quality) Send(topics_.QualityDiscovery(counter.info), lock);
      if (!counter.link) {
        counter.link = ConnectionState::kConnected;
        counter.link_sent = false;
      }
    }
    if (!counter.link_sent && counter.link) {
      counter.link_sent = true;
      Send(topics_.ConnectedMessage(counter.info, *counter.link), lock);
    }
    if (counter.alarm && counter.announced && !counter.alarm_announced) {
      counter.alarm_announced = true;
      Send(topics_.AlarmDiscovery(counter.info), lock);
    }
    if (!counter.alarm_sent && counter.alarm && counter.alarm_announced) {
      counter.alarm_sent = true;
      Send(topics_.AlarmMessage(counter.info, *counter.alarm), lock);
    }
    if (!counter.quality_sent && counter.quality && counter.announced) {
      counter.quality_sent = true;
      Send(topics_.QualityMessage(counter.info, *counter.quality), lock);
    }
  }
}

bool MqttPublisher::Due(const CounterState& counter, int64_t utc) const {
  if (options_.every <= 1 || !counter.last_sent) return true;
  return utc % options_.every == 0;
}

uint64_t MqttPublisher::Tally(CounterState& counter, int64_t utc, uint32_t count) {
  if (!counter.total_through || utc > *counter.total_through) {
    counter.total += count;
    counter.total_through = utc;
  }
  return counter.total;
}

bool MqttPublisher::StepCounter(CounterState& counter, std::unique_lock<std::mutex>& lock) {
  if (counter.queue.empty()) return false;
  const LiveReading next = counter.queue.front();
  if (counter.last_sent && next.utc <= *counter.last_sent) {
    counter.queue.pop_front();
    return true;
  }
  if (counter.last_sent && next.utc > *counter.last_sent + 1 && counter.gap_filled_before != next.utc)
    return FillGap(counter, next.utc, next.acpm, lock);
  if (!Due(counter, next.utc)) {
    Tally(counter, next.utc, next.count);
    counter.queue.pop_front();
    counter.last_sent = next.utc;
    return true;
  }
  const uint64_t total = Tally(counter, next.utc, next.count);
  if (!Send(topics_.StateMessage(counter.info, next, total), lock, InFlight{counter.info.store_id, next.utc}))
    return false;
  if (!counter.queue.empty() && counter.queue.front().utc == next.utc) counter.queue.pop_front();
  counter.last_sent = std::max(counter.last_sent.value_or(next.utc), next.utc);
  return true;
}

// Seconds between the last one sent and `before` come from the store, in batches, oldest first.
// Their CPM is summed from the store's seconds; their ACPM is the one of the reading that follows
// the gap, which is what the monitor knew when it resumed.
bool MqttPublisher::FillGap(CounterState& counter, int64_t before, double acpm, std::unique_lock<std::mutex>& lock) {
  const store::CounterId id = counter.info.store_id;
  const int64_t after = std::max(*counter.last_sent, before - options_.longest_catch_up - 1);
  std::vector<store::Second> gap, context;
  bool caught_up = true;
  if (!options_.store.empty() && !store_failed_) {
    lock.unlock();
    std::string failure;
    try {
      if (!store_) store_ = std::make_unique<store::Store>(options_.store, store::Store::Access::kReadOnly);
      gap = store_->SecondsAfter(id, after, kGapBatch);
      // The writer takes each second before the publishers see it, and writes in order: once the
      // second after the gap is in the store, so is every second of the gap.
      caught_up = gap.size() == kGapBatch ||
                  std::any_of(gap.begin(), gap.end(), [&](const store::Second& s) { return s.time >= before; });
      std::erase_if(gap, [&](const store::Second& s) { return s.time >= before; });
      if (!gap.empty()) context = store_->ReadSeconds(id, gap.front().time - 59, gap.front().time);
    } catch (const std::exception& e) {
      failure = e.what();
    }
    lock.lock();
    if (!failure.empty()) {
      store_failed_ = true;
      store_.reset();
      Problem("Seconds missed while the MQTT broker was away cannot be read from the store (" + failure +
              "); they stay in the store only.");
    }
  }
  // A store that lags (a burst of seconds, a slow disk) is waited for a while; one that never
  // takes them (full, failing) leaves them out of the catch-up rather than holding up the rest.
  if (!caught_up) {
    const auto now = std::chrono::steady_clock::now();
    if (counter.gap_waiting_before != before) {
      counter.gap_waiting_before = before;
      counter.gap_wait_until = now + kStoreCatchUpWait;
    }
    caught_up = now >= counter.gap_wait_until;
  }
  if (gap.empty()) {
    if (caught_up) counter.gap_filled_before = before;
    return caught_up;
  }
  std::deque<store::Second> window(context.begin(), context.end());
  uint64_t window_sum = 0;
  for (const store::Second& s : window) window_sum += s.count;
  size_t sent = 0;
  for (const store::Second& second : gap) {
    window.push_back(second);
    window_sum += second.count;
    while (window.front().time <= second.time - 60) {
      window_sum -= window.front().count;
      window.pop_front();
    }
    if (!connected_ || stop_) break;
    if (counter.last_sent && second.time <= *counter.last_sent) continue;
    const uint64_t total = Tally(counter, second.time, second.count);
    if (Due(counter, second.time)) {
      LiveReading reading{id, counter.info.model, counter.info.version, counter.info.port, second.time, second.count,
                          static_cast<double>(window_sum),
                          DoseRateFromCpm(options_.conversion, static_cast<uint32_t>(window_sum)), acpm};
      if (!Send(topics_.StateMessage(counter.info, reading, total), lock, InFlight{id, second.time})) break;
      ++health_.from_store;
    }
    counter.last_sent = second.time;
    ++sent;
  }
  if (sent == gap.size() && gap.size() < kGapBatch && caught_up) counter.gap_filled_before = before;
  return true;
}

bool MqttPublisher::Send(const MqttMessage& message, std::unique_lock<std::mutex>& lock, std::optional<InFlight> state) {
  lock.unlock();
  int mid = 0;
  const int rc = mosquitto_publish(client_, &mid, message.topic.c_str(), static_cast<int>(message.payload.size()),
                                   message.payload.data(), kQos, message.retain);
  lock.lock();
  if (rc != MOSQ_ERR_SUCCESS) return false;
  const InFlight flight = state.value_or(InFlight{});
  if (state) ++health_.sent;
  if (!early_acks_.erase(mid)) {
    in_flight_[mid] = flight;
  } else if (state) {
    ++health_.acknowledged;
  }
  return true;
}

void MqttPublisher::OnConnect(mosquitto*, void* self, int rc) {
  auto* publisher = static_cast<MqttPublisher*>(self);
  if (rc != 0) {
    publisher->Problem(
        EnglishText(kTextLineBrokerRefused, {publisher->options_.target.Where(), mosquitto_connack_string(rc)}));
    return;
  }
  {
    std::lock_guard lock(publisher->mutex_);
    publisher->connected_ = true;
    ++publisher->generation_;
    ++publisher->health_.connects;
    publisher->last_problem_.clear();
  }
  // Home Assistant announces its restarts here and needs the discovery configs again then.
  const std::string status = publisher->topics_.HomeAssistantStatus();
  mosquitto_subscribe(publisher->client_, nullptr, status.c_str(), kQos);
  publisher->notifier_.Status(EnglishText(kTextLinePublishing, {publisher->options_.target.Where()}));
  publisher->wake_.notify_all();
}

void MqttPublisher::OnDisconnect(mosquitto*, void* self, int rc) {
  auto* publisher = static_cast<MqttPublisher*>(self);
  bool was_connected, told;
  {
    std::lock_guard lock(publisher->mutex_);
    was_connected = publisher->connected_;
    told = !publisher->last_problem_.empty();
    publisher->connected_ = false;
    if (was_connected) publisher->away_since_ = std::chrono::steady_clock::now();
  }
  publisher->wake_.notify_all();
  if (rc == 0) return;
  // A connection refused or dropped before it was made ends here too, with its reason, unless
  // the broker's own refusal (a login) was told already.
  if (!was_connected) {
    if (!told) publisher->Unreachable(rc);
  } else {
    publisher->notifier_.Status(EnglishText(kTextLineBrokerLost, {publisher->options_.target.Where()}));
  }
}

void MqttPublisher::Unreachable(int rc) {
  Problem(EnglishText(kTextLineBrokerUnreachableWhy, {options_.target.Where(), MqttReason(rc)}));
}

void MqttPublisher::OnMessage(mosquitto*, void* self, const mosquitto_message* message) {
  auto* publisher = static_cast<MqttPublisher*>(self);
  // A retained "online" is an old start, already seen by the configs sent on connecting.
  if (message->retain || publisher->topics_.HomeAssistantStatus() != message->topic ||
      std::string_view(static_cast<const char*>(message->payload), static_cast<size_t>(message->payloadlen)) != "online")
    return;
  {
    std::lock_guard lock(publisher->mutex_);
    for (auto& [id, counter] : publisher->counters_) counter.announced = false;
  }
  publisher->wake_.notify_all();
}

// A connection that fails on the way (a TLS handshake, a certificate) never reaches the
// callbacks: the library only logs why, and retries. Those words are told at once; without them
// only the broker's silence would be, seconds later.
void MqttPublisher::OnLog(mosquitto*, void* self, int level, const char* text) {
  if (level != MOSQ_LOG_ERR || !text) return;
  auto* publisher = static_cast<MqttPublisher*>(self);
  {
    std::lock_guard lock(publisher->mutex_);
    if (publisher->connected_) return;
  }
  const std::string why = std::string(publisher->options_.target.tls ? "the TLS handshake failed: " : "") + text;
  publisher->Problem(EnglishText(kTextLineBrokerUnreachableWhy, {publisher->options_.target.Where(), why}));
}

void MqttPublisher::OnPublish(mosquitto*, void* self, int mid) {
  auto* publisher = static_cast<MqttPublisher*>(self);
  {
    std::lock_guard lock(publisher->mutex_);
    const auto found = publisher->in_flight_.find(mid);
    if (found != publisher->in_flight_.end()) {
      if (found->second.utc != 0) ++publisher->health_.acknowledged;
      publisher->in_flight_.erase(found);
    } else {
      publisher->early_acks_.insert(mid);
    }
  }
  publisher->wake_.notify_all();
}

// The same trouble again (a broker refusing every retry) is told once.
void MqttPublisher::Problem(const std::string& text) {
  {
    std::lock_guard lock(mutex_);
    if (text == last_problem_) return;
    last_problem_ = text;
  }
  notifier_.Message(text, "MQTT");
}

}  // namespace norvane::publish
