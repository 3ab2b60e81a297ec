// A station on virtual time for the upload tests and bench: a real store file, seconds recorded
// at 1 Hz as the clock moves, and the scheduler stepped whenever it asks.
#pragma once

#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <vector>

#include "core/store/store.h"
#include "core/upload/upload_scheduler.h"
#include "tests/common/recording_notifier.h"
#include "tests/common/temp_dir.h"
#include "tests/core/upload/map_server.h"

namespace norvane::testing {

// The servers read it from their own thread.
class VirtualClock final : public Clock {
 public:
  explicit VirtualClock(std::time_t at) : now_(at) {}
  std::time_t Now() const override { return now_; }
  LocalTime ToLocal(std::time_t) const override { return {}; }
  void Set(std::time_t at) { now_ = at; }

 private:
  std::atomic<std::time_t> now_;
};

// The counts of second t: varied, so every interval has a CPM of its own.
inline uint32_t CountAt(int64_t t) { return static_cast<uint32_t>((t * 7919) % 13); }

// The CPM an interval of the recorded seconds must arrive with, worked out from CountAt alone.
inline double ExpectedCpm(int64_t start, int64_t length) {
  uint64_t sum = 0;
  for (int64_t t = start; t < start + length; ++t) sum += CountAt(t);
  return std::round(6000.0 * static_cast<double>(sum) / static_cast<double>(length)) / 100.0;
}

class UploadRig {
 public:
  static constexpr int64_t kStart = 1796083200;  // 2026-12-01 00:00:00 UTC

  UploadRig() : clock(kStart), file(dir / "store.sqlite") { Open(); }

  // Opens the store again, as a station started after a kill does.
  void Open() {
    db.reset();
    db = std::make_unique<store::Store>(file);
    counter = db->RegisterCounter({"ZQT-400 v1", "A", "ZQT-400", "/dev/ttyUSB0", "", "00aa", ""}, kStart);
  }

  upload::NetworkSetup Setup(upload::MapNetwork network, const MapServer& server, std::string key,
                             int64_t interval = 0) {
    upload::NetworkSetup setup;
    setup.network = network;
    setup.url = server.url();
    setup.user = "station";
    setup.device = network == upload::MapNetwork::kOpenSenseMap ? "box1/sensor1" : "dev1";
    setup.key = std::move(key);
    setup.interval = interval;
    setup.position = upload::StationPosition{35.1, 139.2, 1.5};
    setup.timeout = std::chrono::seconds(10);  // never reached by a server that answers
    return setup;
  }

  std::unique_ptr<upload::UploadScheduler> Scheduler(std::vector<upload::NetworkSetup> setups) {
    return std::make_unique<upload::UploadScheduler>(*db, counter, std::move(setups), clock, notifier);
  }

  // Moves the clock to `until`, recording each second as it passes (unless `recording` is off) and
  // stepping the scheduler whenever it asks; `each` sees every step's time.
  template <typename Each>
  void RunUntil(upload::UploadScheduler& scheduler, int64_t until, Each each, bool recording = true) {
    int64_t now = clock.Now();
    while (now < until) {
      each(now);
      const int64_t wake = std::max(scheduler.Step(), now + 1);
      const int64_t next = std::min(wake, until);
      if (recording) {
        std::vector<store::Second> seconds;
        for (int64_t t = recorded_; t < next; ++t) seconds.push_back({t, CountAt(t)});
        if (!seconds.empty()) db->AppendSeconds(counter, seconds);
      }
      recorded_ = std::max(recorded_, next);
      now = next;
      clock.Set(now);
    }
  }
  void RunUntil(upload::UploadScheduler& scheduler, int64_t until) {
    RunUntil(scheduler, until, [](int64_t) {});
  }

  std::function<int64_t()> Time() {
    return [this] { return static_cast<int64_t>(clock.Now()); };
  }

  VirtualClock clock;
  TempDir dir;
  std::filesystem::path file;
  RecordingNotifier notifier;
  std::unique_ptr<store::Store> db;
  store::CounterId counter = 0;

 private:
  int64_t recorded_ = kStart;
};

}  // namespace norvane::testing
