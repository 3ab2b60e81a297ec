#include "core/collect/collector.h"

#include <mosquitto.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <fstream>
#include <stdexcept>
#include <utility>

#include "core/publish/mqtt_client.h"

namespace norvane::collect {
namespace {

constexpr int kQos = 1;
constexpr int kKeepAliveSeconds = 30;
constexpr const char* kLockName = "collect.lock";
constexpr const char* kSegmentPrefix = "collect-";
// Seconds the store refused, one JSON object a line, kept for the operator and never replayed.
constexpr const char* kRefusedName = "refused.jsonl";

std::filesystem::path SegmentPath(const std::filesystem::path& dir, uint64_t number) {
  return dir / (kSegmentPrefix + std::to_string(number) + ".journal");
}

// Journal segments left in the folder, oldest first.
std::vector<std::pair<uint64_t, std::filesystem::path>> Segments(const std::filesystem::path& dir) {
  std::vector<std::pair<uint64_t, std::filesystem::path>> found;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
    const std::string name = entry.path().filename().string();
    if (!name.starts_with(kSegmentPrefix) || !name.ends_with(".journal")) continue;
    const std::string digits = name.substr(std::string_view(kSegmentPrefix).size(),
                                           name.size() - std::string_view(kSegmentPrefix).size() - 8);
    if (digits.empty() || !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
      continue;
    found.emplace_back(std::stoull(digits), entry.path());
  }
  std::sort(found.begin(), found.end());
  return found;
}

int64_t UtcNow() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// One journal line: the topic, a tab, the payload as received (JSON holds no line break).
std::string JournalLine(std::string_view topic, std::string_view payload) {
  std::string line;
  line.reserve(topic.size() + payload.size() + 2);
  line.append(topic).append("\t").append(payload).append("\n");
  return line;
}

}  // namespace

Collector::Collector(CollectOptions options, store::CounterStore& store, UserNotifier& notifier)
    : options_(std::move(options)), store_(store), notifier_(notifier) {
  std::error_code ec;
  std::filesystem::create_directories(options_.journal_dir, ec);
  std::string error;
  const std::filesystem::path lock = options_.journal_dir / kLockName;
  lock_ = LockedFile::Take(lock, std::filesystem::exists(lock, ec) ? LockedFile::Open::kExisting : LockedFile::Open::kCreateNew,
                           &error);
  if (!lock_)
    throw std::runtime_error(error.empty() ? "another collector runs with the journal folder " +
                                                 options_.journal_dir.string()
                                           : "cannot use the journal folder " + options_.journal_dir.string() + ": " +
                                                 error);
  NewSegment(Replay());

  mosquitto_lib_init();
  client_ = mosquitto_new(options_.client_id.c_str(), false, this);
  if (!client_) throw std::runtime_error("the MQTT client could not be created");
  mosquitto_connect_callback_set(client_, &Collector::OnConnect);
  mosquitto_disconnect_callback_set(client_, &Collector::OnDisconnect);
  mosquitto_log_callback_set(client_, &Collector::OnLog);
  mosquitto_message_callback_set(client_, &Collector::OnMessage);
  mosquitto_subscribe_callback_set(client_, &Collector::OnSubscribe);
  mosquitto_reconnect_delay_set(client_, 1, 30, true);
  const publish::MqttTarget& target = options_.target;
  if (const int rc = publish::ApplyMqttTarget(client_, target, options_.ca_file); rc != MOSQ_ERR_SUCCESS)
    throw std::runtime_error("the CA file cannot be used: " + std::string(mosquitto_strerror(rc)));
  // The loop thread runs first: libmosquitto's loop thread waits for a connection begun, and one
  // refused before it ran (a broker not up yet) would be waited for for ever. Begun with the
  // thread running, a refused connection is retried with the reconnect pauses, as a lost one is.
  mosquitto_loop_start(client_);
  if (const int rc = mosquitto_connect_async(client_, target.host.c_str(), target.port, kKeepAliveSeconds);
      rc != MOSQ_ERR_SUCCESS) {
    // Failed before any socket was open (the name not found yet): the writer tries again.
    unconnected_ = true;
    bool told;
    {
      std::lock_guard lock(mutex_);
      told = std::exchange(away_told_, true);
    }
    if (!told)
      notifier_.Status("Cannot reach the MQTT broker at " + target.Where() + " (" + publish::MqttReason(rc) +
                       "); collecting keeps trying.");
  }
  thread_ = std::thread([this] { Run(); });
}

void Collector::Stop() {
  if (!client_) return;
  // The broker stops sending first, so that nothing arrives after the last commit.
  {
    std::lock_guard client(client_mutex_);
    {
      std::lock_guard lock(mutex_);
      unconnected_ = false;  // the writer begins no connection while the client is taken down
    }
    mosquitto_disconnect(client_);
  }
  mosquitto_loop_stop(client_, false);
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
  mosquitto_destroy(client_);
  client_ = nullptr;
  mosquitto_lib_cleanup();
}

CollectHealth Collector::health() const {
  std::lock_guard lock(mutex_);
  return health_;
}

void Collector::OnConnect(mosquitto* client, void* self, int rc) {
  auto* c = static_cast<Collector*>(self);
  if (rc != 0) return;
  {
    std::lock_guard lock(c->mutex_);
    c->health_.connected = true;
    c->away_told_ = false;
  }
  // Subscribed again at each connection: a broker that lost its sessions (no persistence) would
  // otherwise send nothing.
  const std::string all = c->options_.target.prefix + "/#";
  mosquitto_subscribe(client, nullptr, all.c_str(), kQos);
}

// Told once the broker has taken the subscription: from then on every station's message comes.
void Collector::OnSubscribe(mosquitto*, void* self, int, int, const int*) {
  auto* c = static_cast<Collector*>(self);
  c->notifier_.Status("Collecting from the MQTT broker at " + c->options_.target.Where() + ".");
}

// A TLS connection that fails on the way (a certificate, a CA file) reaches no callback but this
// one: the library only logs why. Told once an outage, before the disconnection's bare "A TLS
// error occurred".
void Collector::OnLog(mosquitto*, void* self, int level, const char* text) {
  auto* c = static_cast<Collector*>(self);
  if (level != MOSQ_LOG_ERR || !text || !c->options_.target.tls) return;
  {
    std::lock_guard lock(c->mutex_);
    if (c->health_.connected || std::exchange(c->away_told_, true)) return;
  }
  c->notifier_.Status("Cannot reach the MQTT broker at " + c->options_.target.Where() +
                      " (the TLS handshake failed: " + text + "); collecting keeps trying.");
}

void Collector::OnDisconnect(mosquitto*, void* self, int rc) {
  auto* c = static_cast<Collector*>(self);
  {
    std::lock_guard lock(c->mutex_);
    c->health_.connected = false;
    // Once an outage, and never for the collector's own leaving.
    if (rc == MOSQ_ERR_SUCCESS || std::exchange(c->away_told_, true)) return;
  }
  c->notifier_.Status("Cannot reach the MQTT broker at " + c->options_.target.Where() + " (" +
                      publish::MqttReason(rc) + "); collecting keeps trying.");
}

void Collector::OnMessage(mosquitto*, void* self, const mosquitto_message* message) {
  static_cast<Collector*>(self)->Receive(
      message->topic, std::string_view(static_cast<const char*>(message->payload), static_cast<size_t>(message->payloadlen)));
}

void Collector::Receive(std::string_view topic, std::string_view payload) {
  StationMessage parsed = ParseStationMessage(options_.target.prefix, topic, payload, UtcNow());
  std::unique_lock lock(mutex_);
  if (auto* rejected = std::get_if<Rejected>(&parsed)) {
    ++health_.rejected;
    // Each topic's first refusal is told; a station that keeps sending the same is only counted.
    if (told_.size() < 10000 && told_.insert(std::string(topic)).second) {
      lock.unlock();
      notifier_.Status("A message on " + std::string(topic) + " is not stored: " + rejected->reason +
                       ". Further ones on that topic are only counted.");
    }
    return;
  }
  auto* second = std::get_if<StationSecond>(&parsed);
  if (!second) return;
  std::string error;
  if (!segments_.back().file->Append(JournalLine(topic, payload), &error) && told_.insert("").second)
    notifier_.Status("The collector's journal cannot be written (" + error +
                     "); until it can, a kill loses the seconds not yet in the store.");
  ++health_.received;
  ++health_.waiting;
  incoming_.push_back(std::move(*second));
}

bool Collector::BeginConnection() {
  // Not under mutex_, which the library's callbacks take, maybe from inside the call; under
  // client_mutex_, so that Stop never takes the client down while a connection is begun.
  std::lock_guard client(client_mutex_);
  {
    std::lock_guard lock(mutex_);
    if (!unconnected_) return true;
  }
  if (mosquitto_reconnect_async(client_) != MOSQ_ERR_SUCCESS) return false;
  std::lock_guard lock(mutex_);
  unconnected_ = false;
  return true;
}

void Collector::NewSegment(uint64_t number) {
  std::string error;
  auto file = LockedFile::Take(SegmentPath(options_.journal_dir, number), LockedFile::Open::kCreateNew, &error);
  if (!file) throw std::runtime_error("cannot write the collector's journal: " + error);
  segments_.push_back({std::move(file), number});
}

uint64_t Collector::Replay() {
  // What an ended collector received but did not commit; the store keeps each second once, so
  // what it did commit changes nothing. The writer commits it first, with the store's usual
  // retries: a store that is down holds up neither the broker nor a stop, and the segments stay
  // until the commit.
  uint64_t next = 0;
  for (const auto& [number, path] : Segments(options_.journal_dir)) {
    std::string error, text;
    auto file = LockedFile::Take(path, LockedFile::Open::kExisting, &error);
    if (!file || !file->ReadAll(&text, &error)) throw std::runtime_error("cannot read " + path.string() + ": " + error);
    const size_t held = incoming_.size();
    for (size_t start = 0; start < text.size();) {
      const size_t end = text.find('\n', start);
      if (end == std::string::npos) break;  // cut short by a kill: never acknowledged either
      const std::string_view line(text.data() + start, end - start);
      start = end + 1;
      const size_t tab = line.find('\t');
      if (tab == std::string_view::npos) continue;
      StationMessage parsed =
          ParseStationMessage(options_.target.prefix, line.substr(0, tab), line.substr(tab + 1), UtcNow());
      if (auto* second = std::get_if<StationSecond>(&parsed)) {
        incoming_.push_back(std::move(*second));
        ++health_.waiting;
      }
    }
    // One with no second to commit goes now: kept, a collector that receives nothing would leave
    // one more empty segment at every start.
    if (incoming_.size() == held) file->Remove();
    else segments_.push_back({std::move(file), number});
    // Numbers go on from the last, so a segment's name never comes back while a reader may hold it.
    next = number + 1;
  }
  return next;
}

Collector::Committed Collector::Commit(std::span<const StationSecond> taken, std::string* refusal) {
  try {
    // Stations met for the first time are registered together: a network's first minute meets
    // thousands. Each is seen at its own newest second, never at another station's.
    std::map<std::string, std::pair<const StationSecond*, int64_t>> unknown;
    for (const StationSecond& s : taken) {
      if (ids_.contains(s.key)) continue;
      auto [it, added] = unknown.try_emplace(s.key, &s, s.second.time);
      it->second.second = std::max(it->second.second, s.second.time);
    }
    if (!unknown.empty()) {
      if (!serials_read_) {
        for (const store::CounterRow& row : store_.Counters())
          if (!row.info.serial.empty()) serial_topics_.try_emplace(row.info.serial, row.info.port);
        serials_read_ = true;
      }
      std::vector<store::CounterInfo> infos;
      std::vector<int64_t> seen;
      for (const auto& [key, first] : unknown) {
        infos.push_back(first.first->counter);
        seen.push_back(first.second);
      }
      const std::vector<store::CounterId> ids = store_.RegisterStations(infos, seen);
      size_t i = 0;
      for (const auto& [key, first] : unknown) {
        ids_[key] = ids[i++];
        const store::CounterInfo& counter = first.first->counter;
        if (counter.serial.empty()) continue;
        const auto [known, added] = serial_topics_.try_emplace(counter.serial, counter.port);
        if (!added && known->second != counter.port && told_copies_.insert(key).second)
          notifier_.Status("The serial number " + counter.serial + " comes from " + counter.port + " as well as from " +
                           known->second + ": they are kept as two counters, as a serial is one station's.");
      }
    }
    std::map<store::CounterId, std::vector<store::Second>> by_counter;
    for (const StationSecond& s : taken) by_counter[ids_.at(s.key)].push_back(s.second);
    std::vector<store::CounterSeconds> batch;
    batch.reserve(by_counter.size());
    for (auto& [id, seconds] : by_counter) batch.push_back({id, std::move(seconds)});
    const store::AppendResult result = store_.AppendMany(batch);
    for (const store::CounterId id : result.differing_counters) {
      if (!told_differing_.insert(id).second) continue;
      const auto station = std::find_if(taken.begin(), taken.end(), [&](const StationSecond& s) { return ids_.at(s.key) == id; });
      notifier_.Status("Seconds of counter " + std::to_string(id) + " (" + station->counter.port +
                       ") came again with other counts: the first are kept, the others noted ('norvane-cli store "
                       "check' counts them). Further ones of it are only counted.");
    }
    std::lock_guard lock(mutex_);
    health_.differing += result.differing;
    health_.stored += result.added;
    health_.repeated += result.already_stored;
    health_.waiting -= std::min<uint64_t>(health_.waiting, taken.size());
    ++health_.commits;
    return Committed::kYes;
  } catch (const store::StoreRefusal& e) {
    *refusal = e.what();
    return Committed::kRefused;
  } catch (const store::StoreError& e) {
    std::lock_guard lock(mutex_);
    // A counter registered in a transaction that failed may not be in the store.
    ids_.clear();
    if (health_.failures++ == 0 || health_.failures % 100 == 0)
      notifier_.Status(std::string("The store failed; collecting keeps the seconds and tries again: ") + e.what());
    return Committed::kFailed;
  }
}

bool Collector::CommitSettingAside(std::span<const StationSecond> taken) {
  std::string refusal;
  switch (Commit(taken, &refusal)) {
    case Committed::kYes:
      return true;
    case Committed::kFailed:
      return false;
    case Committed::kRefused:
      break;
  }
  // The store refuses something in the batch, and would again for ever: halves are tried until
  // the one message it refuses is alone, and that one is set aside while the rest is stored.
  if (taken.size() > 1) {
    const size_t half = taken.size() / 2;
    return CommitSettingAside(taken.first(half)) && CommitSettingAside(taken.subspan(half));
  }
  const StationSecond& s = taken.front();
  const nlohmann::json line{{"topic", s.counter.port + "/state"}, {"serial", s.counter.serial},
                            {"version", s.counter.version},      {"utc", s.second.time},
                            {"counts", s.second.count},          {"reason", refusal}};
  const std::filesystem::path file = options_.journal_dir / kRefusedName;
  std::ofstream(file, std::ios::app) << line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
  bool first;
  {
    std::lock_guard lock(mutex_);
    first = health_.set_aside++ == 0;
    health_.waiting -= std::min<uint64_t>(health_.waiting, 1);
  }
  if (first)
    notifier_.Status("The store refuses a second from " + s.counter.port + " (" + refusal + "); it is set aside in " +
                     file.string() + " and the rest is stored. Further ones are only counted.");
  return true;
}

void Collector::Run() {
  std::vector<StationSecond> taken;
  size_t taken_segments = 0;  // segments whose lines are all in `taken`
  std::chrono::milliseconds pause{0};
  std::chrono::milliseconds connect_pause = options_.retry_first;
  auto connect_at = std::chrono::steady_clock::now() + connect_pause;
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait_for(lock, pause.count() ? pause : options_.commit_every, [&] { return stop_; });
    const bool stopping = stop_;
    // Once a connection is begun, the loop thread owns it and keeps it.
    if (unconnected_ && !stopping && std::chrono::steady_clock::now() >= connect_at) {
      lock.unlock();
      const bool begun = BeginConnection();
      lock.lock();
      if (!begun) {
        connect_pause = std::min(connect_pause * 2, options_.retry_longest);
        connect_at = std::chrono::steady_clock::now() + connect_pause;
      }
    }
    // The segment being written is closed and a new one begun, so that those of `taken` can go
    // as a whole once committed.
    if (!incoming_.empty()) {
      std::move(incoming_.begin(), incoming_.end(), std::back_inserter(taken));
      incoming_.clear();
      try {
        NewSegment(segments_.back().number + 1);
      } catch (const std::runtime_error& e) {
        notifier_.Status(e.what());
      }
      taken_segments = segments_.size() - 1;
    }
    if (!taken.empty()) {
      lock.unlock();
      const bool ok = CommitSettingAside(taken);
      lock.lock();
      if (ok) {
        taken.clear();
        for (size_t i = 0; i < taken_segments; ++i) segments_[i].file->Remove();
        segments_.erase(segments_.begin(), segments_.begin() + static_cast<std::ptrdiff_t>(taken_segments));
        taken_segments = 0;
        pause = std::chrono::milliseconds{0};
      } else {
        pause = pause.count() ? std::min(pause * 2, options_.retry_longest) : options_.retry_first;
      }
    }
    if (stopping) return;
  }
}

}  // namespace norvane::collect
