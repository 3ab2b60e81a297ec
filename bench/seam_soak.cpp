// The seams of live runs soaked in virtual time: starts and stops, pauses, unplugs and re-plugs
// under another name, a port held by another program, and two alike counters without serial
// numbers recorded at once by two programs, at 6, 30, 120 and 600 CPM with the alarm on and one
// reply in ten cut by the line. Counts false alarms, answered seconds not stored once with their
// count, and counters taken for others; exits 1 unless all are none.
//
//   seam_soak [TRANSITIONS]     (default 1000)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>

#include "core/alarm/alarm_sink.h"
#include "core/live/live_engine.h"
#include "core/store/seconds_writer.h"
#include "core/store/store.h"
#include "sim/faults.h"
#include "sim/virtual_line.h"

namespace {

using namespace norvane;
using namespace std::chrono_literals;

constexpr int64_t kStartMs = 1'796'644'800'000;  // 2026-12-07 12:00:00 UTC

struct Quiet final : UserNotifier, live::EngineLog {
  void Message(std::string_view, std::string_view) override {}
  void Status(std::string_view) override {}
  bool Ask(std::string_view, std::string_view) override { return false; }
  void Write(live::Priority, std::string_view) override {}
};

// What one program was handed: every second, by the counter it came from.
struct Handed final : LiveSink, alarm::AlarmListener {
  std::map<std::string, std::map<int64_t, uint32_t>> seconds;
  uint64_t twice = 0;
  uint64_t alarms = 0;
  void OnSecond(const store::CounterInfo& counter, const LiveSecond& second) override {
    twice += !seconds[counter.device_path].emplace(second.utc, second.count).second;
  }
  void OnLinkState(const store::CounterInfo&, LinkState) override {}
  void OnAlarm(const store::CounterInfo&, const alarm::AlarmEvent& event) override {
    alarms += event.kind == alarm::AlarmKind::kRaised;
  }
};

// A program recording into the shared store: its writer lives across the runs it starts.
struct Program {
  Program(const std::filesystem::path& store, const std::filesystem::path& memory, Quiet& quiet)
      : writer(store, quiet, store::WriterPauses(), std::nullopt, memory) {}
  store::SecondsWriter writer;
  Handed handed;
};

struct Soak {
  Soak(double c, std::filesystem::path s) : cpm(c), store(std::move(s)) {}
  double cpm;
  std::filesystem::path store;
  Quiet quiet;
  live::VirtualLiveClock clock{kStartMs};
  sim::VirtualLine line{clock};
  std::mt19937 random{7};
  uint64_t polls = 0, refused = 0, runs = 0;

  sim::CounterOptions Counter(bool serial, uint32_t seed) {
    sim::CounterOptions options;
    options.cpm = cpm;
    options.seed = seed;
    if (serial) options.serial = sim::SerialNumber{0x5a, 0, 0, 0, 0, 0, 0, 7};
    else sim::ParseFault("no-serial", options.faults, nullptr);
    return options;
  }

  // One run of `program` on `port` for `seconds` polls, with its own alarm and CPM from the store.
  void Run(Program& program, const std::string& port, uint64_t seconds) {
    alarm::AlarmSink alarms({}, store, quiet, program.writer.holder());
    alarms.AddListener(program.handed);
    live::LiveEngine engine({line, clock, quiet, &program.writer, {&alarms, &program.handed}, {},
                             live::RecentFromStore(store, program.writer.holder())},
                            {.port = port, .family = 8, .polls = seconds, .end_when_lost = false,
                             .silent_seconds = 5, .reconnect_seconds = 20, .first_retry = 1s, .longest_retry = 4s});
    engine.Run();
    polls += engine.tally().polled;
    refused += engine.refused();
    ++runs;
  }
};

struct Result {
  uint64_t runs, polls, false_alarms, handed, not_stored_once, counters, refused;
  double seconds;
};

Result SoakAt(double cpm, int transitions, const std::filesystem::path& folder) {
  const auto started = std::chrono::steady_clock::now();
  std::filesystem::create_directories(folder / "memory");
  Soak soak(cpm, folder / "store.sqlite");
  Result result{};
  {
    Program a(soak.store, folder / "memory", soak.quiet), b(soak.store, folder / "memory", soak.quiet);
    // A counter with a serial number, and two alike ones without, each on a port of its own.
    soak.line.Plug("/dev/ttyUSB0", soak.Counter(true, 1));
    soak.line.Plug("/dev/ttyUSB1", soak.Counter(false, 2));
    soak.line.Plug("/dev/ttyUSB2", soak.Counter(false, 3));
    // One reply in ten reaches the computer in two pieces, its rest after the next request.
    soak.line.SplitReplies([&soak] { return soak.random() % 10 == 0; }, 1200ms, 3);
    std::string serial_port = "/dev/ttyUSB0";
    for (int i = 0; i < transitions; ++i) {
      const uint64_t seconds = 20 + soak.random() % 100;
      switch (i % 6) {
        case 0:  // stopped and started again at once
          soak.Run(a, serial_port, seconds);
          break;
        case 1: {  // unplugged part-way and plugged in again under another name
          const std::string next = serial_port == "/dev/ttyUSB0" ? "/dev/ttyACM0" : "/dev/ttyUSB0";
          const live::Steady::time_point unplug = soak.clock.Now() + std::chrono::seconds(5 + soak.random() % 10);
          soak.clock.SetOversleep([&, unplug, next, done = false](live::Steady::time_point now) mutable {
            if (!done && now >= unplug) {
              done = true;
              soak.line.Unplug(serial_port);
              soak.line.Plug(next, soak.Counter(true, 1));
              serial_port = next;
            }
            return std::chrono::nanoseconds(0);
          });
          soak.Run(a, "", seconds);
          soak.clock.SetOversleep({});
          break;
        }
        case 2:  // a pause: nothing polls for a while
          soak.clock.Advance(std::chrono::seconds(5 + soak.random() % 120));
          break;
        case 3:  // another program holds the port: turned away at once, then taken when free
          soak.line.Hold(serial_port, "The port " + serial_port + " is in use by process 4242 (minicom).");
          soak.Run(a, serial_port, seconds);
          soak.line.Hold(serial_port, "");
          break;
        case 4:  // the two alike counters without serial numbers, one program each
          soak.Run(a, "/dev/ttyUSB1", seconds);
          soak.Run(b, "/dev/ttyUSB2", seconds);
          break;
        case 5:  // and the other way round
          soak.Run(b, "/dev/ttyUSB1", seconds);
          soak.Run(a, "/dev/ttyUSB2", seconds);
          break;
      }
    }
    a.writer.Flush(60s);
    b.writer.Flush(60s);
    result.false_alarms = a.handed.alarms + b.handed.alarms;
    result.not_stored_once = a.handed.twice + b.handed.twice;
    // Every second either program was handed is in the store once, with its count, under the
    // counter of the port it came from.
    store::Store db(soak.store, store::Store::Access::kReadOnly);
    std::map<std::string, store::CounterId> by_path;
    for (const store::CounterRow& row : db.Counters())
      by_path[row.info.serial.empty() ? row.info.device_path : row.info.serial] = row.id;
    result.counters = db.Counters().size();
    for (Program* program : {&a, &b})
      for (const auto& [path, seconds] : program->handed.seconds) {
        const bool serial = path != "/dev/ttyUSB1" && path != "/dev/ttyUSB2";
        const auto id = by_path.find(serial ? std::string("5a00000000000007") : path);
        for (const auto& [utc, count] : seconds) {
          ++result.handed;
          const std::vector<store::Second> stored =
              id == by_path.end() ? std::vector<store::Second>{} : db.ReadSeconds(id->second, utc, utc + 1);
          result.not_stored_once += stored.size() != 1 || stored[0].count != count;
        }
      }
  }
  result.runs = soak.runs;
  result.polls = soak.polls;
  result.refused = soak.refused;
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  const int transitions = argc > 1 ? std::atoi(argv[1]) : 1000;
  const std::filesystem::path folder = std::filesystem::temp_directory_path() / "norvane-seam-soak";
  std::printf("%6s %6s %8s %12s %8s %16s %9s %14s %8s\n", "CPM", "runs", "polls", "false alarms", "handed",
              "not stored once", "counters", "busy turned away", "took s");
  bool ok = true;
  for (const double cpm : {6.0, 30.0, 120.0, 600.0}) {
    std::filesystem::remove_all(folder);
    const Result r = SoakAt(cpm, transitions / 4, folder);
    std::printf("%6.0f %6llu %8llu %12llu %8llu %16llu %9llu %14llu %8.1f\n", cpm,
                static_cast<unsigned long long>(r.runs), static_cast<unsigned long long>(r.polls),
                static_cast<unsigned long long>(r.false_alarms), static_cast<unsigned long long>(r.handed),
                static_cast<unsigned long long>(r.not_stored_once), static_cast<unsigned long long>(r.counters),
                static_cast<unsigned long long>(r.refused), r.seconds);
    ok = ok && r.false_alarms == 0 && r.not_stored_once == 0 && r.counters == 3;
  }
  std::filesystem::remove_all(folder);
  return ok ? 0 : 1;
}
