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
// Live seconds pass it, so at most this many history messages wait in the library before one.
constexpr size_t kMaxInFlight = 200;
constexpr size_t kGapBatch = kMaxInFlight;
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
    state.queue.push_back({reading, std::chrono::steady_clock::now()});
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
    return std::all_of(counters_.begin(), counters_.end(),
                       [](const auto& entry) { return entry.second.queue.empty() && entry.second.gaps.empty(); });
  });
}

bool MqttPublisher::Settled() const {
  return in_flight_.empty() && std::all_of(counters_.begin(), counters_.end(), [](const auto& entry) {
           const CounterState& counter = entry.second;
           return counter.queue.empty() && counter.gaps.empty() && counter.link_sent && counter.alarm_sent && counter.quality_sent &&
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
    // Seconds the library resends after a reconnect settle first; those that do not go on the
    // history topic again, from the store.
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
        const Gap again{flight.utc, flight.utc + 1, counter.acpm, true, flight.utc};
        counter.gaps.insert(std::upper_bound(counter.gaps.begin(), counter.gaps.end(), again,
                                             [](const Gap& a, const Gap& b) { return a.from < b.from; }),
                            again);
      }
      std::erase_if(in_flight_, [](const auto& f) { return f.second.utc != 0; });
      drain_until_ = {};
    }
    Announce(lock);
    bool worked = false;
    for (auto& [id, counter] : counters_) {
      if (stop_ || !connected_) break;
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

PublishedTotals MqttPublisher::With(const CounterState& counter, uint32_t count, double usv_h) {
  PublishedTotals totals = counter.totals;
  totals.counts += count;
  totals.dose_usv += usv_h / 3600;
  return totals;
}

void MqttPublisher::AddGap(CounterState& counter, Gap gap) const {
  gap.floor = gap.to - options_.longest_catch_up;
  if (!counter.gaps.empty() && !counter.gaps.back().again && counter.gaps.back().to >= gap.from) {
    counter.gaps.back().to = std::max(counter.gaps.back().to, gap.to);
    counter.gaps.back().acpm = gap.acpm;
  } else {
    counter.gaps.push_back(gap);
  }
}

// The totals go on from what the store holds of the counter before this run's first second, so
// Home Assistant's Counts and Dose keep rising across restarts. The dose is the store's, as
// `store stats` reckons it.
void MqttPublisher::Seed(CounterState& counter, int64_t before, std::unique_lock<std::mutex>& lock) {
  counter.seeded = true;
  if (options_.store.empty() || store_failed_) return;
  const store::CounterId id = counter.info.store_id;
  lock.unlock();
  PublishedTotals held;
  try {
    if (!store_) store_ = std::make_unique<store::Store>(options_.store, store::Store::Access::kReadOnly);
    if (const std::optional<int64_t> oldest = store_->OldestSecond(id); oldest && *oldest < before) {
      const store::Stats stats = store_->ComputeStats(id, *oldest, before, options_.conversion);
      held = {stats.counts, stats.dose_usv};
    }
  } catch (const std::exception&) {
    // The totals start from this run then; a store that cannot be read is told by the history.
  }
  lock.lock();
  counter.totals = held;
}

// Queued seconds go first: each on the history topic, or into its gap; a live one on the state
// topic too. Then a batch of the gaps, so a long catch-up never keeps the present from Home
// Assistant.
bool MqttPublisher::StepCounter(CounterState& counter, std::unique_lock<std::mutex>& lock) {
  bool worked = false;
  while (!counter.queue.empty() && connected_ && !stop_) {
    const Queued next = counter.queue.front();
    const LiveReading& reading = next.reading;
    if (!counter.seeded) {
      Seed(counter, reading.utc, lock);
      continue;  // the lock was let go
    }
    counter.acpm = reading.acpm;
    if (counter.last_sent && reading.utc <= *counter.last_sent) {
      counter.queue.pop_front();
      worked = true;
      continue;
    }
    // What the queue lost (it overflowed) is in the store: the history sends it.
    const int64_t after = counter.last_sent.value_or(reading.utc - 1);
    if (reading.utc > after + 1) AddGap(counter, {after + 1, reading.utc, reading.acpm});
    const bool live = std::chrono::steady_clock::now() - next.handed <= kLiveFor;
    const bool due = Due(counter, reading.utc);
    // The history takes the second from the queue when nothing older waits for it, else in its
    // turn from the store. Without a store the queue is all there is.
    if (options_.store.empty() || (counter.gaps.empty() && live)) {
      const PublishedTotals totals = With(counter, reading.count, reading.usv_h);
      if (due && !Send(topics_.HistoryMessage(counter.info, reading, totals), lock,
                       InFlight{counter.info.store_id, reading.utc}))
        return worked;
      counter.totals = totals;
    } else {
      AddGap(counter, {reading.utc, reading.utc + 1, reading.acpm});
    }
    // The present, for Home Assistant, once; lost if the broker is away as it goes.
    if (live && due) Send(topics_.StateMessage(counter.info, reading, counter.totals), lock);
    if (!counter.queue.empty() && counter.queue.front().reading.utc == reading.utc) counter.queue.pop_front();
    counter.last_sent = std::max(counter.last_sent.value_or(reading.utc), reading.utc);
    worked = true;
  }
  if (!counter.gaps.empty() && connected_ && !stop_ && in_flight_.size() < kMaxInFlight)
    worked |= FillGap(counter, lock);
  return worked;
}

// The oldest gap's seconds come from the store, in batches, oldest first. Their CPM is summed from
// the store's seconds; their ACPM is the one of the reading that follows the gap.
bool MqttPublisher::FillGap(CounterState& counter, std::unique_lock<std::mutex>& lock) {
  const store::CounterId id = counter.info.store_id;
  const Gap gap = counter.gaps.front();
  const int64_t from = std::max(gap.from, gap.floor);
  std::vector<store::Second> seconds, context;
  bool caught_up = true;
  if (!options_.store.empty() && !store_failed_) {
    lock.unlock();
    std::string failure;
    try {
      if (!store_) store_ = std::make_unique<store::Store>(options_.store, store::Store::Access::kReadOnly);
      seconds = store_->SecondsAfter(id, from - 1, kGapBatch);
      // The writer takes each second before the publishers see it, and writes in order: once the
      // second after the gap is in the store, so is every second of the gap.
      caught_up = seconds.size() == kGapBatch ||
                  std::any_of(seconds.begin(), seconds.end(), [&](const store::Second& s) { return s.time >= gap.to; });
      std::erase_if(seconds, [&](const store::Second& s) { return s.time >= gap.to; });
      // A gap that reaches the present ends with a second the store already holds.
      caught_up = caught_up || (!seconds.empty() && seconds.back().time == gap.to - 1);
      if (!seconds.empty()) context = store_->ReadSeconds(id, seconds.front().time - 59, seconds.front().time);
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
  // takes them (full, failing) leaves them out of the history rather than holding up the rest.
  if (!caught_up) {
    const auto now = std::chrono::steady_clock::now();
    if (counter.gap_waiting_before != gap.to) {
      counter.gap_waiting_before = gap.to;
      counter.gap_wait_until = now + kStoreCatchUpWait;
    }
    caught_up = now >= counter.gap_wait_until;
  }
  if (seconds.empty()) {
    if (caught_up) counter.gaps.pop_front();
    return caught_up;
  }
  std::deque<store::Second> window(context.begin(), context.end());
  uint64_t window_sum = 0;
  for (const store::Second& s : window) window_sum += s.count;
  size_t sent = 0;
  for (const store::Second& second : seconds) {
    window.push_back(second);
    window_sum += second.count;
    while (window.front().time <= second.time - 60) {
      window_sum -= window.front().count;
      window.pop_front();
    }
    if (!connected_ || stop_ || in_flight_.size() >= kMaxInFlight) break;
    const double usv_h = DoseRateFromCpm(options_.conversion, static_cast<uint32_t>(window_sum));
    const PublishedTotals totals = gap.again ? counter.totals : With(counter, second.count, usv_h);
    if (gap.again || Due(counter, second.time)) {
      const LiveReading reading{id,          counter.info.model, counter.info.version,
                                counter.info.port, second.time,  second.count,
                                static_cast<double>(window_sum), usv_h, gap.acpm};
      if (!Send(topics_.HistoryMessage(counter.info, reading, totals), lock, InFlight{id, second.time})) break;
      ++health_.from_store;
    }
    counter.totals = totals;
    // Sending let go of the lock; only this thread changes the gaps.
    counter.gaps.front().from = second.time + 1;
    ++sent;
  }
  if (sent == seconds.size() && seconds.size() < kGapBatch && caught_up) counter.gaps.pop_front();
  return true;
}

bool MqttPublisher::Send(const MqttMessage& message, std::unique_lock<std::mutex>& lock, std::optional<InFlight> state) {
  lock.unlock();
  int mid = 0;
  const int rc = mosquitto_publish(client_, &mid, message.topic.c_str(), static_cast<int>(message.payload.size()),
                                   message.payload.data(), message.qos, message.retain);
  lock.lock();
  if (rc != MOSQ_ERR_SUCCESS) return false;
  if (message.qos == 0) {
    // No acknowledgement comes, only the library's word that it wrote it, maybe already.
    if (!early_acks_.erase(mid)) written_.insert(mid);
    return true;
  }
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
    // QoS 0 messages not written yet are dropped with the connection.
    publisher->written_.clear();
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
    } else if (!publisher->written_.erase(mid)) {
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
