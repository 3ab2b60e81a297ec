// The numbers behind /metrics: per counter totals and gauges, in Prometheus' text format or OpenMetrics.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/publish/live_reading.h"

namespace norvane::upload {
struct UploadSummary;
}

namespace norvane::publish {

// Fed by the polling thread, read by the HTTP server's thread; both only hold a mutex briefly.
// norvane_counts_total equals the sum of the store's seconds for the counter: the seconds the
// store held before this run (read on the first scrape, on the scraping thread) plus the seconds
// handed in since.
class MetricsRegistry {
 public:
  // `store`: where earlier runs' seconds are; empty: counts start at zero.
  explicit MetricsRegistry(std::filesystem::path store);
  ~MetricsRegistry();

  void AddCounter(const LiveCounter& counter);
  void Reading(const LiveReading& reading);
  void Connection(store::CounterId counter, ConnectionState state);
  // Failed store commits so far, as the store writer counts them.
  void StoreWriteErrors(store::CounterId counter, uint64_t total);
  void Alarm(store::CounterId counter, const AlarmReading& alarm);
  void Quality(store::CounterId counter, const QualityReading& quality);

  enum class Format { kText, kOpenMetrics };
  std::string Render(Format format = Format::kText);

 private:
  struct Entry {
    LiveCounter info;
    std::optional<int64_t> first_utc;      // the first second handed in
    std::optional<uint64_t> stored_before;  // store's sum before first_utc
    uint64_t counts = 0;                   // handed in since
    std::optional<LiveReading> last;
    bool up = false;
    uint64_t reconnects = 0;
    uint64_t store_errors = 0;
    std::optional<AlarmReading> alarm;  // none: the counter has no alarm
    uint64_t alarms = 0;                // raised since the program started
    std::optional<QualityReading> quality;  // none: not judged yet
  };
  Entry& Find(store::CounterId id);
  // The store's sum of seconds before `before` (all of them when nothing was handed in yet).
  std::optional<uint64_t> StoredSum(store::CounterId id, std::optional<int64_t> before);
  // Each public map's sent, waiting and refused intervals, from the store.
  std::vector<upload::UploadSummary> Uploads();

  const std::filesystem::path store_path_;
  std::mutex mutex_;
  std::map<store::CounterId, Entry> entries_;
  std::mutex store_mutex_;  // the scraping thread's store
  std::unique_ptr<store::Store> store_;
};

}  // namespace norvane::publish
