#include "core/store/counter_store.h"

#include "core/store/pg_store.h"
#include "core/store/store.h"
#include "core/store/store_reading.h"

namespace norvane::store {

std::optional<CounterId> CounterStore::FindCounter(std::string_view key) {
  std::optional<CounterId> match;
  int matches = 0;
  for (const CounterRow& row : Counters()) {
    if (std::to_string(row.id) == key || row.info.name == key) return row.id;
    if (row.info.model == key || row.info.version == key) {
      match = row.id;
      ++matches;
    }
  }
  if (matches == 1) return match;
  return std::nullopt;
}

std::vector<CounterId> CounterStore::RegisterCounters(std::span<const CounterInfo> infos, int64_t now) {
  std::vector<CounterId> ids;
  ids.reserve(infos.size());
  for (const CounterInfo& info : infos) ids.push_back(RegisterCounter(info, now));
  return ids;
}

std::string IdentityKey(const CounterInfo& counter) {
  return counter.version + '\n' + (counter.serial.empty() ? "@" + counter.device_path : counter.serial);
}

std::vector<CounterId> CounterStore::RegisterStations(std::span<const CounterInfo> infos, std::span<const int64_t> seen) {
  std::vector<CounterId> ids;
  for (size_t i = 0; i < infos.size(); ++i) ids.push_back(RegisterCounter(infos[i], seen[i]));
  return ids;
}

AppendResult CounterStore::AppendMany(std::span<const CounterSeconds> batch) {
  AppendResult total;
  for (const CounterSeconds& c : batch) {
    const AppendResult one = AppendSeconds(c.counter, c.seconds);
    total.added += one.added;
    total.already_stored += one.already_stored;
    total.differing += one.differing;
  }
  return total;
}

std::vector<Second> CounterStore::SecondsAfter(CounterId counter, int64_t after, size_t limit) {
  return ReadSeconds(counter, after + 1, kFarFuture, limit);
}

Stats CounterStore::ComputeStats(CounterId counter, int64_t from, int64_t to, const ConversionTable& conversion) {
  if (from >= to) return Stats{};
  const DoseScale scale(conversion, Calibrations(counter));
  std::vector<int64_t> bounds = scale.ChangesWithin(from, to);
  bounds.insert(bounds.begin(), from);
  bounds.push_back(to);
  std::vector<Stretch> stretches;
  for (size_t i = 0; i + 1 < bounds.size(); ++i) stretches.push_back({bounds[i], Totals(counter, bounds[i], bounds[i + 1])});
  return StatsOf(stretches, from, to, scale);
}

bool IsServerLocation(std::string_view location) {
  return location.starts_with("postgresql://") || location.starts_with("postgres://");
}

std::unique_ptr<CounterStore> OpenStore(const std::string& location, StoreAccess access, EndedJournals journals) {
  if (IsServerLocation(location)) return std::make_unique<PgStore>(location, access);
  return std::make_unique<Store>(location, access,
                                 journals == EndedJournals::kFold ? Store::Journals::kFold : Store::Journals::kLeave);
}

}  // namespace norvane::store
