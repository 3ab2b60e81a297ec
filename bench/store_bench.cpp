// Long-term store: importing a year of 1 Hz seconds, and answering chart and statistics queries on it.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <random>

#include "core/platform/atomic_file.h"
#include "core/store/store.h"
#include "core/store/store_quality.h"
#include "core/store/store_export.h"

namespace norvane {
namespace {

constexpr int64_t kYearStart = 1'767'225'600;  // 2026-01-01 00:00 UTC
constexpr int64_t kDay = 86400;
constexpr int64_t kYear = 365 * kDay;

std::filesystem::path BenchPath(const char* name) {
  return std::filesystem::temp_directory_path() / ("norvane-store-bench-" + std::to_string(getpid()) + "-" + name);
}

// A day of background counts (about 20 CPM) with the odd busy second.
std::vector<store::Second> Day(int64_t start, std::mt19937& random) {
  std::poisson_distribution<uint32_t> background(20.0 / 60.0);
  std::vector<store::Second> day(kDay);
  for (int64_t i = 0; i < kDay; ++i) day[static_cast<size_t>(i)] = {start + i, background(random)};
  return day;
}

void RemoveStore(const std::filesystem::path& path) {
  for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(path.string() + suffix);
}

// Fills a store with a year, one transaction per day as a bulk import would.
uint64_t ImportYear(store::Store& s, store::CounterId counter, benchmark::State* state) {
  std::mt19937 random(7);
  for (int64_t day = kYearStart; day < kYearStart + kYear; day += kDay) {
    if (state) state->PauseTiming();
    const auto seconds = Day(day, random);
    if (state) state->ResumeTiming();
    s.AppendSeconds(counter, seconds);
  }
  return static_cast<uint64_t>(kYear);
}

void BM_ImportYear(benchmark::State& state) {
  const auto path = BenchPath("import.sqlite");
  uint64_t size = 0;
  for (auto _ : state) {
    state.PauseTiming();
    RemoveStore(path);
    store::Store s(path);
    const auto counter = s.RegisterCounter({"ZQT-400 V4.2", "1", "ZQT-400", "", ""}, kYearStart);
    state.ResumeTiming();
    state.SetItemsProcessed(state.items_processed() + static_cast<int64_t>(ImportYear(s, counter, &state)));
    state.PauseTiming();
    s.database().Exec("PRAGMA wal_checkpoint(TRUNCATE)");
    size = s.SizeOnDisk();
    state.ResumeTiming();
  }
  state.counters["store_MB_per_counter_year"] = double(size) / 1e6;
  RemoveStore(path);
}
BENCHMARK(BM_ImportYear)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

// One year-long store shared by the query benchmarks.
class YearStore {
 public:
  static YearStore& Get() {
    static YearStore instance;
    return instance;
  }
  store::Store& store() { return *store_; }
  store::CounterId counter() const { return counter_; }
  ~YearStore() {
    store_.reset();
    RemoveStore(path_);
  }

 private:
  YearStore() : path_(BenchPath("query.sqlite")) {
    RemoveStore(path_);
    store_ = std::make_unique<store::Store>(path_);
    counter_ = store_->RegisterCounter({"ZQT-400 V4.2", "1", "ZQT-400", "", ""}, kYearStart);
    ImportYear(*store_, counter_, nullptr);
  }
  std::filesystem::path path_;
  std::unique_ptr<store::Store> store_;
  store::CounterId counter_ = 0;
};

void BM_QueryYearAt2000Points(benchmark::State& state) {
  auto& year = YearStore::Get();
  for (auto _ : state) benchmark::DoNotOptimize(year.store().Query(year.counter(), kYearStart, kYearStart + kYear, 2000));
}
BENCHMARK(BM_QueryYearAt2000Points)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_QueryDayAtFullResolution(benchmark::State& state) {
  auto& year = YearStore::Get();
  const int64_t day = kYearStart + 200 * kDay;
  for (auto _ : state) benchmark::DoNotOptimize(year.store().Query(year.counter(), day, day + kDay, kDay));
}
BENCHMARK(BM_QueryDayAtFullResolution)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_StatsOverAYear(benchmark::State& state) {
  auto& year = YearStore::Get();
  // Not aligned to days or hours, so every level of the summaries takes part.
  const int64_t from = kYearStart + 1234, to = kYearStart + kYear - 4321;
  for (auto _ : state)
    benchmark::DoNotOptimize(year.store().ComputeStats(year.counter(), from, to, kDefaultConversionTable));
}
BENCHMARK(BM_StatsOverAYear)->Unit(benchmark::kMillisecond)->UseRealTime();

// The last day's quality, as a station publishing it judges every ten minutes and the chart's
// counter list every five, at the end of a year of seconds.
void BM_QualityOfTheLastDayOfAYear(benchmark::State& state) {
  auto& year = YearStore::Get();
  const int64_t to = kYearStart + kYear;
  for (auto _ : state) benchmark::DoNotOptimize(store::StretchQuality(year.store(), year.counter(), to - 86400, to));
}
BENCHMARK(BM_QualityOfTheLastDayOfAYear)->Unit(benchmark::kMillisecond)->UseRealTime();

// The exports of a whole year of one counter's seconds: the tidy ones written to a file a day at
// a time, as the command writes them (gigabytes: the disk is part of the figure), the original
// CSV built whole in memory.
void BM_TidyExportOfAYear(benchmark::State& state) {
  auto& year = YearStore::Get();
  SystemClock clock;
  const auto format = static_cast<store::TidyFormat>(state.range(0));
  const auto path = BenchPath(format == store::TidyFormat::kCsv ? "tidy.csv" : "tidy.jsonl");
  for (auto _ : state) {
    AtomicFileWriter file(path);
    store::BuildTidyExport(year.store(), year.counter(), kYearStart, kYearStart + kYear, format,
                           kDefaultConversionTable, clock, [&](std::string_view rows) { return file.Write(rows); });
    if (!file.Commit()) state.SkipWithError(file.error().c_str());
  }
  std::error_code ec;
  state.counters["MB"] = double(std::filesystem::file_size(path, ec)) / 1e6;
  std::filesystem::remove(path, ec);
}
BENCHMARK(BM_TidyExportOfAYear)->Arg(int(store::TidyFormat::kCsv))->Arg(int(store::TidyFormat::kJsonLines))
    ->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

void BM_CsvExportOfAYear(benchmark::State& state) {
  auto& year = YearStore::Get();
  SystemClock clock;
  size_t bytes = 0;
  for (auto _ : state) {
    const auto seconds = year.store().ReadSeconds(year.counter(), kYearStart, kYearStart + kYear);
    bytes = store::BuildExport(seconds, kYearStart, store::ExportKind::kCsv, WriterOptions{}, clock,
                               store::ScaleOf(year.store(), year.counter(), kDefaultConversionTable))
                .text.size();
  }
  state.counters["MB"] = double(bytes) / 1e6;
}
BENCHMARK(BM_CsvExportOfAYear)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

}  // namespace
}  // namespace norvane
