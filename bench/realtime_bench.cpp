// The realtime poll's work on the calling thread, the housekeeping tick, and the memory a whole
// day of headless monitoring takes.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <array>
#include <filesystem>
#include <random>
#include <thread>

#include "core/files/file_saver.h"
#include "core/realtime/realtime_monitor.h"
#include "core/serial/port_catalogue.h"
#include "core/tasks/housekeeping_tick.h"

namespace norvane {
namespace {

class QuietNotifier final : public UserNotifier {
 public:
  void Message(std::string_view, std::string_view) override {}
  void Status(std::string_view) override {}
  bool Ask(std::string_view, std::string_view) override { return false; }
};

// Everything the monitor needs, with no counter attached: the frame goes to a closed link, so
// what is timed is the program's own work, not the line.
struct PollRig {
  PollRig()
      : link(ports, notifier), reader(link, buffer, notifier),
        session({link, buffer, reader, notifier, state, nullptr, nullptr}), data(clock.Now()),
        saver(data, dictionary, clock, notifier), recorder(data, saver, clock, notifier),
        monitor({session, buffer, recorder, data, settings, dictionary, notifier}) {
    state.demo = true;
    monitor.Start();
    monitor.Confirm();
    reader.Stop();
    state.demo = false;
  }
  ~PollRig() { reader.Stop(); }

  PortCatalogue ports;
  QuietNotifier notifier;
  CSerialLink link;
  ReceiveBuffer buffer;
  DeviceState state;
  ReaderThread reader;
  DeviceSession session;
  SystemClock clock;
  DataSet data;
  LanguageDictionary dictionary;
  Settings settings;
  FileSaver saver;
  RealtimeRecorder recorder;
  RealtimeMonitor monitor;
};

void BM_PollWithoutTheSettle(benchmark::State& state) {
  PollRig rig;
  // BeginPoll needs a running reader; a demo reader that only adds a pair each second will do.
  rig.state.demo = true;
  rig.reader.Start(rig.state.port_settings, rig.state.family.load(), true);
  rig.state.demo = false;
  const std::array<uint8_t, 4> reply{0x00, 0x00, 0x00, 0x07};
  uint64_t polls = 0;
  for (auto _ : state) {
    if (!rig.monitor.BeginPoll()) state.SkipWithError("polling stopped");
    rig.buffer.Append(reply);
    benchmark::DoNotOptimize(rig.monitor.FinishPoll());
    // Stay inside the day so no day-full save is timed here.
    if (++polls % 80000 == 0) rig.recorder.ResetData();
  }
}
BENCHMARK(BM_PollWithoutTheSettle);

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
    uint32_t cpm = 0;
    for (uint32_t s = 0; s < 86400 + 600; ++s) {
      tick.Run(true, cpm);
      data.realtime.set_elapsed(data.realtime.elapsed() + 1);
      const unsigned x = static_cast<unsigned>(random()) % 10;
      cpm = recorder.Record(x > 5 ? x % 3 : 0).cpm;
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
