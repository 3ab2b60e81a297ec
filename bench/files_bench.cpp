// Speed of the exports: the history CSV of a full 2 MiB image and a full day of realtime data.
#include <benchmark/benchmark.h>

#include <random>

#include "core/files/history_csv.h"
#include "core/files/realtime_binary.h"
#include "core/files/realtime_exports.h"
#include "bench/realistic_image.h"

namespace norvane {
namespace {

// A whole day of background counts, as the daily automatic save writes it.
const RealtimeSeries& FullDay() {
  static const RealtimeSeries series = [] {
    RealtimeSeries s(1706745600);
    s.StartSession(1706745600, StampTime{24, 2, 1, 0, 0, 0});
    std::mt19937 random(5);
    std::poisson_distribution<uint32_t> counts(0.5);
    while (!s.full()) s.Append(counts(random));
    return s;
  }();
  return series;
}

void BM_HistoryCsv(benchmark::State& state) {
  const auto& image = RealisticImage();
  const WriterOptions options;
  for (auto _ : state) {
    std::string csv = BuildHistoryCsv({image.data(), image.size()}, options);
    benchmark::DoNotOptimize(csv.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(image.size()));
}
BENCHMARK(BM_HistoryCsv)->Unit(benchmark::kMillisecond);

constexpr LocalTime kDayStart{2024, 2, 1, 0, 0, 0};

void BM_RealtimeCsvFullDay(benchmark::State& state) {
  const WriterOptions options;
  for (auto _ : state) benchmark::DoNotOptimize(BuildRealtimeCsv(FullDay(), kDayStart, options).data());
}
BENCHMARK(BM_RealtimeCsvFullDay)->Unit(benchmark::kMillisecond);

void BM_RealtimeHtmlFullDay(benchmark::State& state) {
  const WriterOptions options;
  for (auto _ : state) benchmark::DoNotOptimize(BuildRealtimeHtml(FullDay(), kDayStart, options).data());
}
BENCHMARK(BM_RealtimeHtmlFullDay)->Unit(benchmark::kMillisecond);

void BM_MinuteLogFullDay(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(BuildMinuteLog(FullDay(), kDayStart).data());
}
BENCHMARK(BM_MinuteLogFullDay)->Unit(benchmark::kMillisecond);

void BM_RealtimeBinaryFullDay(benchmark::State& state) {
  const FixedClock clock(kDayStart);
  for (auto _ : state) benchmark::DoNotOptimize(BuildRealtimeBinary(FullDay(), clock).data());
}
BENCHMARK(BM_RealtimeBinaryFullDay)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace norvane
