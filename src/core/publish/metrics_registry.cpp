#include "core/publish/metrics_registry.h"

#include <charconv>
#include <limits>
#include <vector>

#include "core/store/store.h"
#include "core/upload/upload_queue.h"

namespace norvane::publish {
namespace {

std::string EscapeLabel(std::string_view value) {
  std::string out;
  for (const char c : value) {
    if (c == '\\') out += "\\\\";
    else if (c == '"') out += "\\\"";
    else if (c == '\n') out += "\\n";
    else out += c;
  }
  return out;
}

std::string Number(double value) {
  char text[32];
  const auto [end, ec] = std::to_chars(text, text + sizeof text, value);
  return ec == std::errc() ? std::string(text, end) : "NaN";
}

struct Family {
  const char* name;  // a counter's ends in _total, which OpenMetrics leaves off its family name
  const char* type;
  const char* unit;  // the name's unit suffix, told to OpenMetrics; empty: none
  const char* help;
};

// Names follow Prometheus' guide: the program's prefix, _total on counters, base units. The dose
// rate is the one exception: it is given in sieverts (not µSv) per hour, the hour being the unit
// every dose rate limit and counter display is quoted in, so the number reads the same in a
// dashboard; norvane_cpm is the counter's own reading, counts in the last 60 seconds.
constexpr Family kCounts{"norvane_counts_total", "counter", "", "Counts measured, the sum of the stored seconds."};
constexpr Family kCpm{"norvane_cpm", "gauge", "", "Counts over the last 60 seconds."};
constexpr Family kDose{"norvane_dose_rate_sieverts_per_hour", "gauge", "sieverts_per_hour",
                       "Dose rate from the CPM, in Sv/h."};
constexpr Family kLast{"norvane_last_second_timestamp_seconds", "gauge", "seconds", "UTC time of the last measured second."};
constexpr Family kUp{"norvane_counter_up", "gauge", "", "1 while the counter answers, 0 while it is lost."};
constexpr Family kUploadSent{"norvane_upload_sent_total", "counter", "",
                             "Intervals a public map accepted, a refused repeat included."};
constexpr Family kUploadWaiting{"norvane_upload_waiting", "gauge", "", "Intervals queued for a public map."};
constexpr Family kUploadRefused{"norvane_upload_refused_total", "counter", "",
                                "Intervals a public map refused for good."};
constexpr Family kStoreErrors{"norvane_store_write_errors_total", "counter", "", "Failed writes to the long-term store."};
constexpr Family kAlarm{"norvane_alarm", "gauge", "", "1 while the counter's alarm is raised, else 0."};
constexpr Family kAlarms{"norvane_alarms_total", "counter", "", "Alarms raised since the program started."};
// A series per rule the store's quality check judged, labelled with the rule's name.
constexpr Family kQualityOk{"norvane_quality_ok", "gauge", "",
                            "1 while the rule passes on the counter's last 24 hours in the store, 0 while it fails."};
constexpr Family kQualityValue{"norvane_quality_value", "gauge", "",
                               "What the rule measured: a share for coverage, an index for dispersion, seconds for runs."};
constexpr Family kReconnects{"norvane_reconnects_total", "counter", "", "Times the counter was found again after being lost."};

}  // namespace

MetricsRegistry::MetricsRegistry(std::filesystem::path store) : store_path_(std::move(store)) {}
MetricsRegistry::~MetricsRegistry() = default;

MetricsRegistry::Entry& MetricsRegistry::Find(store::CounterId id) {
  Entry& entry = entries_[id];
  entry.info.store_id = id;
  return entry;
}

void MetricsRegistry::AddCounter(const LiveCounter& counter) {
  std::lock_guard lock(mutex_);
  Find(counter.store_id).info = counter;
}

void MetricsRegistry::Reading(const LiveReading& reading) {
  std::lock_guard lock(mutex_);
  Entry& entry = Find(reading.store_id);
  if (entry.info.model.empty()) entry.info = {reading.store_id, reading.model, reading.version, reading.port};
  if (!entry.first_utc) entry.first_utc = reading.utc;
  entry.counts += reading.count;
  entry.last = reading;
  entry.up = true;
}

void MetricsRegistry::Connection(store::CounterId counter, ConnectionState state) {
  std::lock_guard lock(mutex_);
  Entry& entry = Find(counter);
  const bool up = state == ConnectionState::kConnected;
  if (up && !entry.up && entry.first_utc) ++entry.reconnects;
  entry.up = up;
}

void MetricsRegistry::StoreWriteErrors(store::CounterId counter, uint64_t total) {
  std::lock_guard lock(mutex_);
  Find(counter).store_errors = total;
}

void MetricsRegistry::Alarm(store::CounterId counter, const AlarmReading& alarm) {
  std::lock_guard lock(mutex_);
  Entry& entry = Find(counter);
  if (alarm.on && !(entry.alarm && entry.alarm->on)) ++entry.alarms;
  entry.alarm = alarm;
}

void MetricsRegistry::Quality(store::CounterId counter, const QualityReading& quality) {
  std::lock_guard lock(mutex_);
  Find(counter).quality = quality;
}

std::optional<uint64_t> MetricsRegistry::StoredSum(store::CounterId id, std::optional<int64_t> before) {
  if (store_path_.empty()) return 0;
  std::lock_guard lock(store_mutex_);
  try {
    if (!store_) store_ = std::make_unique<store::Store>(store_path_, store::Store::Access::kReadOnly);
    return store_->Totals(id, std::numeric_limits<int64_t>::min() / 2, before.value_or(std::numeric_limits<int64_t>::max() / 2)).sum;
  } catch (const std::exception&) {
    store_.reset();  // tried again on the next scrape
    return std::nullopt;
  }
}

std::vector<upload::UploadSummary> MetricsRegistry::Uploads() {
  if (store_path_.empty()) return {};
  std::lock_guard lock(store_mutex_);
  try {
    if (!store_) store_ = std::make_unique<store::Store>(store_path_, store::Store::Access::kReadOnly);
    return upload::UploadSummaries(*store_);
  } catch (const store::StoreError&) {
    store_.reset();  // tried again on the next scrape
    return {};
  }
}

std::string MetricsRegistry::Render(Format format) {
  // The store is read without the registry's lock, so the polling thread never waits on it.
  std::vector<std::pair<store::CounterId, std::optional<int64_t>>> unresolved;
  {
    std::lock_guard lock(mutex_);
    for (const auto& [id, entry] : entries_)
      if (!entry.stored_before) unresolved.emplace_back(id, entry.first_utc);
  }
  struct Looked {
    std::optional<int64_t> before;
    std::optional<uint64_t> sum;
  };
  std::map<store::CounterId, Looked> sums;
  for (const auto& [id, first] : unresolved) sums[id] = {first, StoredSum(id, first)};
  const std::vector<upload::UploadSummary> uploads = Uploads();

  std::lock_guard lock(mutex_);
  for (auto& [id, entry] : entries_) {
    const auto sum = sums.find(id);
    // Fixed once the first second is known; before that the store's whole sum is the answer.
    // The sum only holds if the first second did not arrive while the store was read.
    if (sum != sums.end() && sum->second.sum && entry.first_utc && sum->second.before == entry.first_utc)
      entry.stored_before = sum->second.sum;
  }
  std::string out;
  const bool open_metrics = format == Format::kOpenMetrics;
  const auto header = [&](const Family& f) {
    std::string name = f.name;
    if (open_metrics && std::string_view(f.type) == "counter") name.erase(name.size() - 6);
    out += "# HELP " + name + " " + f.help + "\n# TYPE " + name + " " + f.type + "\n";
    if (open_metrics && *f.unit) out += "# UNIT " + name + " " + f.unit + "\n";
  };
  const auto labels = [](store::CounterId id, const Entry& entry) {
    return "counter=\"" + std::to_string(id) + "\",model=\"" + EscapeLabel(entry.info.model) + "\",port=\"" +
           EscapeLabel(entry.info.port) + "\"";
  };
  const auto family = [&](const Family& f, auto value_of) {
    header(f);
    for (const auto& [id, entry] : entries_) {
      const std::optional<double> value = value_of(id, entry);
      if (!value) continue;
      out += std::string(f.name) + "{" + labels(id, entry) + "} " + Number(*value) + "\n";
    }
  };
  const auto rule_family = [&](const Family& f, auto value_of) {
    header(f);
    for (const auto& [id, entry] : entries_) {
      if (!entry.quality) continue;
      for (const store::RuleResult& r : entry.quality->rules)
        out += std::string(f.name) + "{" + labels(id, entry) + ",rule=\"" + EscapeLabel(r.rule) + "\"} " +
               Number(value_of(r)) + "\n";
    }
  };
  family(kCounts, [&](store::CounterId id, const Entry& e) -> std::optional<double> {
    std::optional<uint64_t> before = e.stored_before;
    if (!before) {
      const auto sum = sums.find(id);
      if (sum != sums.end() && sum->second.before == e.first_utc) before = sum->second.sum;
    }
    if (!before) return std::nullopt;  // the store cannot be read: no number rather than a wrong one
    return static_cast<double>(*before + e.counts);
  });
  family(kCpm, [](store::CounterId, const Entry& e) -> std::optional<double> {
    return e.last ? std::optional<double>(e.last->cpm) : std::nullopt;
  });
  family(kDose, [](store::CounterId, const Entry& e) -> std::optional<double> {
    return e.last ? std::optional<double>(e.last->usv_h * 1e-6) : std::nullopt;
  });
  family(kLast, [](store::CounterId, const Entry& e) -> std::optional<double> {
    return e.last ? std::optional<double>(static_cast<double>(e.last->utc)) : std::nullopt;
  });
  family(kUp, [](store::CounterId, const Entry& e) -> std::optional<double> { return e.up ? 1.0 : 0.0; });
  family(kStoreErrors, [](store::CounterId, const Entry& e) -> std::optional<double> {
    return static_cast<double>(e.store_errors);
  });
  family(kReconnects, [](store::CounterId, const Entry& e) -> std::optional<double> {
    return static_cast<double>(e.reconnects);
  });
  family(kAlarm, [](store::CounterId, const Entry& e) -> std::optional<double> {
    return e.alarm ? std::optional<double>(e.alarm->on ? 1.0 : 0.0) : std::nullopt;
  });
  family(kAlarms, [](store::CounterId, const Entry& e) -> std::optional<double> {
    return e.alarm ? std::optional<double>(static_cast<double>(e.alarms)) : std::nullopt;
  });
  rule_family(kQualityOk, [](const store::RuleResult& r) { return r.ok ? 1.0 : 0.0; });
  rule_family(kQualityValue, [](const store::RuleResult& r) { return r.value; });
  // The public maps' queues are the store's, so they hold across runs and across a kill.
  const auto upload_family = [&](const Family& f, auto value_of) {
    if (uploads.empty()) return;
    header(f);
    for (const upload::UploadSummary& u : uploads)
      out += std::string(f.name) + "{network=\"" + EscapeLabel(u.network) + "\"} " +
             Number(static_cast<double>(value_of(u))) + "\n";
  };
  upload_family(kUploadSent, [](const upload::UploadSummary& u) { return u.sent; });
  upload_family(kUploadWaiting, [](const upload::UploadSummary& u) { return u.waiting; });
  upload_family(kUploadRefused, [](const upload::UploadSummary& u) { return u.refused; });
  if (open_metrics) out += "# EOF\n";
  return out;
}

}  // namespace norvane::publish
