// Speed of decoding a history: the whole-image walk of an export, and the chart's refill per scroll.
#include <benchmark/benchmark.h>

#include <random>

#include "core/history/data_set.h"
#include "bench/realistic_image.h"

namespace norvane {
namespace {

struct CountingSink final : HistoryEventSink {
  void OnStamp(size_t, const StampTime&, uint8_t) override { ++stamps; }
  void OnNote(size_t, std::string_view text) override { notes += text.size(); }
  void OnSample(size_t, uint32_t value) override { sum += value; }
  uint64_t stamps = 0, notes = 0, sum = 0;
};

// The walk with a concrete sink type.
void BM_HistoryWalk(benchmark::State& state) {
  const auto& image = RealisticImage();
  for (auto _ : state) {
    CountingSink sink;
    HistoryWalk(image.data(), image.size(), sink);
    benchmark::DoNotOptimize(sink.sum);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(image.size()));
}
BENCHMARK(BM_HistoryWalk)->Unit(benchmark::kMillisecond);

// The same walk through the abstract sink, as a caller holding only a HistoryEventSink& has it.
void BM_HistoryWalkVirtualSink(benchmark::State& state) {
  const auto& image = RealisticImage();
  for (auto _ : state) {
    CountingSink counting;
    HistoryEventSink& sink = counting;
    HistoryWalk(image.data(), image.size(), sink);
    benchmark::DoNotOptimize(counting.sum);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(image.size()));
}
BENCHMARK(BM_HistoryWalkVirtualSink)->Unit(benchmark::kMillisecond);

// One scroll of the chart: FillWindow, then the rate, dose and time-label texts.
void BM_Refill(benchmark::State& state) {
  DataSet data(0);
  data.dump.SelectModel("ZQT-LT");
  data.dump.LoadImage(RealisticImage());
  std::mt19937 rng(5);
  std::vector<size_t> positions(4096);
  for (size_t& p : positions) p = std::uniform_int_distribution<size_t>(0, data.dump.image_size() * 9 / 10)(rng);
  size_t i = 0;
  for (auto _ : state) {
    data.Refill(positions[i++ % positions.size()], false);
    benchmark::DoNotOptimize(data.readout.rate.data());
  }
}
BENCHMARK(BM_Refill)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace norvane
