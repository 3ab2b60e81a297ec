// The housekeeping tick, and the memory a whole day of headless monitoring takes.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <filesystem>
#include <random>

#include "core/files/file_saver.h"
#include "core/realtime/realtime_recorder.h"
#include "core/tasks/housekeeping_tick.h"

namespace norvane {
namespace {

class QuietNotifier final : public UserNotifier {
 public:
  void Message(std::string_view, std::string_view) override {}
  void Status(std::string_view) override {}
  bool Ask(std::string_view, std::string_view) override { return false; }
};

void BM_HousekeepingTick(benchmark::State& state) {
  SystemClock clock;
  DataSet data(clock.Now());
  for (uint32_t i = 0; i < 3600; ++i) data.realtime.Append(i % 5);
  data.realtime.set_elapsed(3600);
  Settings settings;
  settings.auto_save_enabled = 1;
  settings.auto_submit_enabled = 1;
  settings.auto_submit_period = static_cast<uint32_t>(state.range(0));
  settings.zqt_map_user_account_id = "1234";
  settings.zqt_map_geiger_counter_id = "5678";
  HousekeepingActions actions;
  actions.submit = [](const std::string& url) { benchmark::DoNotOptimize(url.data()); };
  HousekeepingTick tick(settings, data, clock, std::move(actions));
  for (auto _ : state) benchmark::DoNotOptimize(tick.Run(true, 42));
}
// Period 0: every tick builds a submission, the worst case; 5: the usual idle tick.
BENCHMARK(BM_HousekeepingTick)->Arg(0)->Arg(5);

// A day and a bit of demo monitoring in fast time: every second recorded and ticked, the
// day-full save written once. Reports the process's peak resident memory.
void BM_DayOfDemoMonitoringPeakMemory(benchmark::State& state) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "norvane-realtime-bench";
  std::filesystem::create_directories(dir);
  for (auto _ : state) {
    FixedClock clock(LocalTime{2026, 3, 7, 0, 0, 0});
    QuietNotifier notifier;
    DataSet data(clock.Now());
    LanguageDictionary dictionary;
    FileSaver saver(data, dictionary, clock, notifier);
    RealtimeRecorder recorder(data, saver, clock, notifier);
    recorder.set_name_prefix(dir.string() + "/");
    recorder.StartSession();
    Settings settings;
    settings.auto_submit_enabled = 1;
    HousekeepingTick tick(settings, data, clock, {});
    std::minstd_rand random(1);
    for (uint32_t s = 0; s < 86400 + 600; ++s) {
      tick.Run(true, data.window.sum);
      data.realtime.set_elapsed(data.realtime.elapsed() + 1);
      const unsigned x = static_cast<unsigned>(random()) % 10;
      recorder.Record(x > 5 ? x % 3 : 0);
      clock.Advance(1);
    }
  }
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  state.counters["peak_rss_kib"] = static_cast<double>(usage.ru_maxrss);
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_DayOfDemoMonitoringPeakMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace norvane
