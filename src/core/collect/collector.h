// The centre's collector: every station's seconds from MQTT into the store, each exactly once.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "core/collect/station_message.h"
#include "core/common/user_notifier.h"
#include "core/platform/locked_file.h"
#include "core/publish/mqtt_url.h"
#include "core/store/counter_store.h"

struct mosquitto;
struct mosquitto_message;

namespace norvane::collect {

struct CollectOptions {
  publish::MqttTarget target;  // its prefix is where the stations publish below
  std::string ca_file;
  // The broker keeps the session of this id while the collector is away, and hands it what
  // arrived meanwhile.
  std::string client_id = "norvane-collect";
  // Where received messages wait, journaled, until the store has committed them.
  std::filesystem::path journal_dir;
  std::chrono::milliseconds commit_every{250};
  std::chrono::milliseconds retry_first{250};
  std::chrono::milliseconds retry_longest{10000};
};

struct CollectHealth {
  uint64_t received = 0;  // station seconds received
  uint64_t stored = 0;    // new to the store
  uint64_t repeated = 0;  // the store held them already: repeats and redeliveries
  uint64_t rejected = 0;  // malformed or foreign messages, never written
  uint64_t commits = 0;
  uint64_t failures = 0;  // failed commits, tried again
  uint64_t set_aside = 0; // seconds the store refused, set aside and never tried again
  uint64_t differing = 0; // seconds given again with other counts than the ones kept
  uint64_t waiting = 0;   // received, not yet committed
  bool connected = false;
};

// Subscribes at QoS 1 with a persistent session to everything below the prefix. Each message is
// journaled before the library acknowledges it to the broker, so a kill loses nothing the broker
// believes delivered; the journal is committed to the store every `commit_every` and then
// removed, and a new collector commits what an ended one left. A repeated, redelivered or late
// second changes nothing, as the store keeps the first of each. A store that fails (a restart)
// is tried again with a growing pause while messages keep being journaled.
class Collector {
 public:
  // Throws std::runtime_error when the journal folder cannot be used or another collector holds it.
  Collector(CollectOptions options, store::CounterStore& store, UserNotifier& notifier);
  ~Collector() { Stop(); }
  // Leaves the broker, commits what was received (one try), then stops.
  void Stop();
  Collector(const Collector&) = delete;
  Collector& operator=(const Collector&) = delete;

  CollectHealth health() const;

 private:
  struct Segment {
    std::unique_ptr<LockedFile> file;
    uint64_t number = 0;
  };
  static void OnConnect(mosquitto*, void* self, int rc);
  static void OnDisconnect(mosquitto*, void* self, int rc);
  static void OnLog(mosquitto*, void* self, int level, const char* text);
  static void OnMessage(mosquitto*, void* self, const mosquitto_message* message);
  static void OnSubscribe(mosquitto*, void* self, int mid, int granted, const int* qos);
  void Receive(std::string_view topic, std::string_view payload);
  void Run();
  // Begins the connection the first try could not; false when it failed again.
  bool BeginConnection();
  enum class Committed { kYes, kFailed, kRefused };
  // Commits `taken`; the store's words when it refuses them.
  Committed Commit(std::span<const StationSecond> taken, std::string* refusal);
  // Commits `taken`, setting aside each second the store refuses; false when the store failed.
  bool CommitSettingAside(std::span<const StationSecond> taken);
  void NewSegment(uint64_t number);
  // Takes up the journal an ended collector left for the writer to commit; returns the number
  // for the next segment.
  uint64_t Replay();

  const CollectOptions options_;
  store::CounterStore& store_;
  UserNotifier& notifier_;
  std::unique_ptr<LockedFile> lock_;

  std::mutex client_mutex_;  // held while the client is begun or taken down; no callback takes it
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::vector<StationSecond> incoming_;
  std::vector<Segment> segments_;  // the last is written to; the others wait for a commit
  std::set<std::string> told_;     // topics whose rejected messages were logged
  CollectHealth health_;
  bool stop_ = false;
  // The first connection failed before the loop thread could take it over; the writer retries it.
  bool unconnected_ = false;
  bool away_told_ = false;  // the broker's absence was told since the last connection

  // The writer thread's own.
  std::map<std::string, store::CounterId> ids_;
  std::map<std::string, std::string> serial_topics_;  // each serial and the first topic it came from
  std::set<store::CounterId> told_differing_;         // counters whose differing seconds were told
  std::set<std::string> told_copies_;                 // counters told to carry another's serial
  bool serials_read_ = false;

  mosquitto* client_ = nullptr;
  std::thread thread_;
};

}  // namespace norvane::collect
