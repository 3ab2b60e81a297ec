// The live engine in virtual time against simulated counters: replies cut by the line, a program
// that oversleeps, unplugs, another program on the port, older counters' short replies, a lent port.
#include "core/live/live_engine.h"

#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <random>

#include "core/store/seconds_writer.h"
#include "sim/virtual_line.h"
#include "tests/common/recording_notifier.h"
#include "tests/common/temp_dir.h"

namespace norvane::live {
namespace {

using namespace std::chrono_literals;

constexpr int64_t kStartMs = 1'796'644'800'000;  // 2026-12-07 12:00:00 UTC

size_t Count(const std::vector<std::string>& lines, std::string_view what) {
  size_t n = 0;
  for (const std::string& line : lines) n += line.find(what) != std::string::npos;
  return n;
}

// Everything the engine tells and hands on, and what the counters really sent.
struct Rig final : EngineLog, LiveSink {
  VirtualLiveClock clock{kStartMs};
  sim::VirtualLine line{clock};
  std::mutex mutex;
  std::vector<std::string> log;
  std::map<int64_t, uint32_t> seconds;      // stamped seconds handed to the sinks
  std::map<uint64_t, uint32_t> by_poll;     // the same, by the poll that brought them
  std::vector<uint32_t> sent;               // counts the counters put on the line, in order
  std::vector<LinkState> states;
  uint32_t first_cpm = 0;
  std::unique_ptr<LiveEngine> engine;
  // Things to do once virtual time passes a point (checked at every wait of the engine).
  std::vector<std::pair<Steady::time_point, std::function<void()>>> at;

  Rig() {
    clock.SetOversleep([this](Steady::time_point now) {
      for (auto& [when, what] : at) {
        if (what && now >= when) std::exchange(what, nullptr)();
      }
      // A run that never reaches its polls ends here rather than spinning in virtual time.
      if (now > Steady::time_point{} + 24h && engine) {
        ADD_FAILURE() << "a day passed without reaching the polls";
        engine->Stop();
      }
      return oversleep ? oversleep() : 0ns;
    });
  }
  std::function<std::chrono::nanoseconds()> oversleep;

  sim::CounterOptions Counter(std::string fault = {}, uint8_t serial = 1) {
    sim::CounterOptions options;
    // About 50 a second: a made-up value cannot pass for a sent one, and no count reaches the
    // 128 whose 0x80 byte would mark its reply.
    options.cpm = 3000;
    options.seed = serial;
    // The same counter plugged in again answers with the same serial number.
    options.serial = sim::SerialNumber{0x5a, 0, 0, 0, 0, 0, 0, serial};
    if (!fault.empty()) {
      EXPECT_TRUE(sim::ParseFault(fault, options.faults, nullptr));
    }
    options.counts_sent = [this](uint32_t count) { sent.push_back(count); };
    return options;
  }
  void Make(EngineOptions options, store::SecondsWriter* writer = nullptr) {
    engine = std::make_unique<LiveEngine>(LiveEngine::Parts{line, clock, *this, writer, {this}, {}}, options);
  }
  void After(std::chrono::seconds t, std::function<void()> what) { at.emplace_back(Steady::time_point{} + t, what); }

  void Write(Priority, std::string_view text) override {
    std::lock_guard lock(mutex);
    log.emplace_back(text);
  }
  void OnSecond(const store::CounterInfo&, const LiveSecond& second) override {
    std::lock_guard lock(mutex);
    if (seconds.empty()) first_cpm = second.cpm;
    EXPECT_TRUE(seconds.emplace(second.utc, second.count).second) << "second stamped twice: " << second.utc;
    by_poll[engine->tally().polled] = second.count;
  }
  void OnLinkState(const store::CounterInfo&, LinkState state) override { states.push_back(state); }

  // Every second handed on is the count the counter sent for that very poll.
  void ExpectOnlySentCounts() {
    for (const auto& [poll, count] : by_poll) {
      ASSERT_LE(poll, sent.size());
      EXPECT_EQ(count, sent[poll - 1]) << "poll " << poll;
    }
  }
};

TEST(LiveEngine, RepliesCutByTheLineAreTakenWholeOrKeptAsGapsNeverAsOtherValues) {
  for (const auto rest : {300ms, 1200ms}) {
    SCOPED_TRACE(rest.count());
    Rig rig;
    rig.line.Plug("/dev/ttyUSB0", rig.Counter());
    int n = 0;
    // Count replies only: identification meets cut replies in the long run below.
    rig.line.SplitReplies([&] { return rig.engine->state() == LinkState::kConnected && ++n % 4 == 0; }, rest, 7);
    rig.Make({.port = "/dev/ttyUSB0", .family = 8, .polls = 200});
    rig.engine->Run();
    rig.ExpectOnlySentCounts();
    const EngineTally tally = rig.engine->tally();
    EXPECT_EQ(tally.polled, 200u);
    if (rest < LiveEngine::kReplyWindow) {
      // The rest came within the reply's second: every reply stored, none a gap, and the
      // seconds one after the other.
      EXPECT_EQ(tally.measured, 200u);
      EXPECT_EQ(rig.seconds.rbegin()->first - rig.seconds.begin()->first, 199);
    } else {
      // A rest that comes after the next request: that second and the one it spoils are gaps,
      // told once, and the seconds between them all stored.
      EXPECT_GE(tally.measured, 200u * 2 / 4 - 2);
      EXPECT_EQ(Count(rig.log, "such seconds stay gaps"), 1u);
    }
  }
}

TEST(LiveEngine, AProgramThatOversleepsLosesNoAnsweredSecondAndStampsEachOnce) {
  Rig rig;
  rig.line.Plug("/dev/ttyUSB0", rig.Counter());
  std::mt19937 random(3);
  // A loaded machine: a fifth of the waits end up to 2 s late.
  rig.oversleep = [&random]() -> std::chrono::nanoseconds {
    if (random() % 5) return 0ns;
    return std::chrono::milliseconds(random() % 2000);
  };
  rig.Make({.port = "/dev/ttyUSB0", .family = 8, .polls = 600});
  rig.engine->Run();
  rig.ExpectOnlySentCounts();
  EXPECT_EQ(rig.engine->tally().measured, 600u) << ::testing::PrintToString(rig.log);
  EXPECT_EQ(rig.seconds.size(), 600u);
  // Seconds are the wall clock's: never in the future of the last poll.
  EXPECT_LE(rig.seconds.rbegin()->first, rig.clock.WallMs() / 1000);
  // A counter just found is not a ramp from 0: its first CPM is its first second's rate.
  EXPECT_EQ(rig.first_cpm, rig.seconds.begin()->second * 60);
}

// Resumed, re-plugged or restarted, the minute's CPM goes on from the seconds before.
TEST(LiveEngine, TheCpmGoesOnFromTheSecondsMeasuredBeforeTheConnection) {
  Rig rig;
  rig.line.Plug("/dev/ttyUSB0", rig.Counter());
  std::pair<int64_t, int64_t> asked;
  rig.engine = std::make_unique<LiveEngine>(
      LiveEngine::Parts{rig.line, rig.clock, rig, nullptr, {&rig}, {},
                        [&](const store::CounterInfo&, int64_t from, int64_t to) {
                          asked = {from, to};
                          std::vector<store::Second> before;
                          for (int64_t t = to - 31; t < to - 1; ++t) before.push_back({t, 100});
                          return before;
                        }},
      EngineOptions{.port = "/dev/ttyUSB0", .family = 8, .polls = 1});
  rig.engine->Run();
  ASSERT_EQ(rig.seconds.size(), 1u);
  EXPECT_EQ(asked.second - asked.first, 61);
  EXPECT_EQ(rig.seconds.begin()->first, asked.second - 1);  // the first poll's
  // 30 seconds of 100 from before and the first live one, which is about 50.
  EXPECT_EQ(rig.first_cpm, (30 * 100 + rig.seconds.begin()->second) * 60 / 31);
}

TEST(LiveEngine, AnUnplugIsNoticedAtOnceAndTheCounterFoundAgainHereOrElsewhere) {
  Rig rig;
  rig.line.Plug("/dev/ttyUSB0", rig.Counter({}, 5));
  Steady::time_point lost_at{};
  rig.After(20s, [&] { rig.line.Unplug("/dev/ttyUSB0"); });
  rig.After(30s, [&] { rig.line.Plug("/dev/ttyUSB0", rig.Counter({}, 5)); });
  rig.After(50s, [&] { rig.line.Unplug("/dev/ttyUSB0"); });
  rig.After(60s, [&] { rig.line.Plug("/dev/ttyACM3", rig.Counter({}, 5)); });
  struct LostWatch final : EngineLog {
    Rig& rig;
    Steady::time_point& lost_at;
    LostWatch(Rig& r, Steady::time_point& l) : rig(r), lost_at(l) {}
    void Write(Priority p, std::string_view text) override {
      if (text.find("Counter lost") != std::string_view::npos && lost_at == Steady::time_point{})
        lost_at = rig.clock.Now();
      rig.Write(p, text);
    }
  } watch(rig, lost_at);
  rig.engine = std::make_unique<LiveEngine>(LiveEngine::Parts{rig.line, rig.clock, watch, nullptr, {&rig}, {}},
                                           EngineOptions{.port = {}, .family = 8, .polls = 70});
  rig.engine->Run();
  EXPECT_LE(lost_at - (Steady::time_point{} + 20s), 3s);
  EXPECT_EQ(Count(rig.log, "Counter connected: "), 3u);
  EXPECT_EQ(Count(rig.log, "on /dev/ttyACM3"), 1u);
  EXPECT_EQ(rig.engine->counter()->path, "/dev/ttyACM3");
  // Each absence is a gap of its own length, not a made-up run of seconds.
  int64_t longest = 0;
  for (auto it = std::next(rig.seconds.begin()); it != rig.seconds.end(); ++it)
    longest = std::max(longest, it->first - std::prev(it)->first);
  EXPECT_GE(longest, 9);
  rig.ExpectOnlySentCounts();
}

// A run started on a port another program holds is turned away at once: the counter is that
// program's. One that loses its counter and finds the port held when it comes back waits for it.
TEST(LiveEngine, APortHeldByAnotherProgramTurnsAStartAwayAndIsWaitedForAfterAnUnplug) {
  const std::string busy = "The port /dev/ttyUSB0 is in use by process 4242 (norvane-cli record).";
  {
    Rig rig;
    rig.line.Plug("/dev/ttyUSB0", rig.Counter());
    rig.line.Hold("/dev/ttyUSB0", busy);
    rig.Make({.port = "/dev/ttyUSB0", .family = 8, .polls = 5});
    rig.engine->Run();
    EXPECT_TRUE(rig.engine->refused());
    EXPECT_EQ(rig.engine->last_problem(), busy);
    EXPECT_EQ(rig.engine->tally().polled, 0u);
    EXPECT_EQ(rig.line.opens("/dev/ttyUSB0"), 1);
  }
  Rig rig;
  rig.line.Plug("/dev/ttyUSB0", rig.Counter());
  rig.After(10s, [&] {
    rig.line.Unplug("/dev/ttyUSB0");
    rig.line.Hold("/dev/ttyUSB0", busy);
  });
  rig.After(12s, [&] { rig.line.Plug("/dev/ttyUSB0", rig.Counter()); });
  rig.After(100s, [&] { rig.line.Hold("/dev/ttyUSB0", ""); });
  rig.Make({.port = "/dev/ttyUSB0", .family = 8, .polls = 15});
  rig.engine->Run();
  EXPECT_FALSE(rig.engine->refused());
  EXPECT_EQ(Count(rig.log, busy), 1u);
  EXPECT_EQ(rig.engine->tally().polled, 15u);
  // The searches back off: a minute apart at most, not a tight loop on a busy port.
  EXPECT_LE(rig.line.opens("/dev/ttyUSB0"), 12);
}

TEST(LiveEngine, MarkedRepliesAndSilenceAreToldOnceAndShortRepliesOfOlderCountersAreLearned) {
  {
    Rig rig;
    rig.line.Plug("/dev/ttyUSB0", rig.Counter("marked-counts=3"));
    rig.Make({.port = "/dev/ttyUSB0", .family = 8, .polls = 90});
    rig.engine->Run();
    EXPECT_EQ(rig.engine->tally().measured, 60u);
    EXPECT_EQ(Count(rig.log, "marked as invalid"), 1u);
    rig.ExpectOnlySentCounts();
  }
  {
    // Three seconds, then silence: told once, and the engine neither stops nor makes up seconds.
    Rig rig;
    rig.line.Plug("/dev/ttyUSB0", rig.Counter("silent-after=3"));
    rig.Make({.port = "/dev/ttyUSB0", .family = 8, .polls = 15});
    rig.engine->Run();
    EXPECT_EQ(Count(rig.log, "Counter not answering"), 1u);
    EXPECT_LE(rig.engine->tally().measured, 3u);
    EXPECT_EQ(rig.engine->tally().polled, 15u);
  }
  {
    Rig rig;
    rig.line.Plug("/dev/ttyUSB0", rig.Counter("short-counts"));
    rig.Make({.port = "/dev/ttyUSB0", .family = 8, .polls = 30});
    rig.engine->Run();
    // The first reply waited for the second to tell its length; none was lost to it.
    EXPECT_EQ(rig.engine->tally().measured, 30u);
    std::vector<uint32_t> stored;
    for (const auto& [t, count] : rig.seconds) stored.push_back(count);
    EXPECT_EQ(stored, std::vector<uint32_t>(rig.sent.begin(), rig.sent.begin() + 30));
  }
}

TEST(LiveEngine, ALentPortIsGivenUpAndTakenBackWithTheAbsenceAsAGap) {
  Rig rig;
  rig.line.Plug("/dev/ttyUSB0", rig.Counter());
  rig.Make({.port = "/dev/ttyUSB0", .family = 8, .polls = 40});
  rig.After(10s, [&] { rig.engine->RequestBorrow(); });
  rig.After(25s, [&] {
    // Lent: the port is closed, so a dialog of the program can open it.
    EXPECT_FALSE(rig.line.Present());
    rig.engine->GiveBack();
  });
  rig.engine->Run();
  // Once the engine is done, a borrower gets the port at once.
  EXPECT_TRUE(rig.engine->Borrow(0ms));
  EXPECT_EQ(rig.engine->tally().measured, 40u);
  EXPECT_EQ(rig.line.opens("/dev/ttyUSB0"), 2);
  EXPECT_EQ(Count(rig.log, "Monitoring paused"), 1u);
  EXPECT_EQ(Count(rig.log, "Monitoring resumes"), 1u);
  rig.ExpectOnlySentCounts();
}

// Ten minutes of trouble at once for two counters of one kind writing into one store: replies cut
// at random points (for the second counter with rests that come only after their second), a
// program that oversleeps up to 2 s, an unplug after which another program holds the port for a
// while. Each counter keeps its own seconds, and the store holds exactly what each one sent.
TEST(LiveEngine, TenMinutesOfTroubleForTwoAlikeCountersStoreOnlyWhatEachSent) {
  testing::TempDir dir;
  testing::RecordingNotifier notifier;
  std::vector<std::map<int64_t, uint32_t>> handed;
  {
    store::SecondsWriter writer(dir / "store.sqlite", notifier);
    for (const uint8_t n : {1, 2}) {
      Rig rig;
      const sim::CounterOptions counter = rig.Counter({}, n);
      rig.line.Plug("/dev/ttyUSB0", counter);
      std::mt19937 random(n);
      rig.line.SplitReplies([&random] { return random() % 3 == 0; }, n == 1 ? 300ms : 1200ms, n);
      rig.oversleep = [&random]() -> std::chrono::nanoseconds {
        return random() % 10 ? 0ns : std::chrono::milliseconds(random() % 2000);
      };
      rig.After(200s, [&rig] { rig.line.Unplug("/dev/ttyUSB0"); });
      rig.After(205s, [&rig, counter] {
        rig.line.Plug("/dev/ttyUSB0", counter);
        rig.line.Hold("/dev/ttyUSB0", "The port /dev/ttyUSB0 is in use by process 77 (norvane-cli identify).");
      });
      rig.After(225s, [&rig] { rig.line.Hold("/dev/ttyUSB0", ""); });
      rig.Make({.port = "/dev/ttyUSB0", .family = 8, .polls = 600}, &writer);
      rig.engine->Run();
      rig.ExpectOnlySentCounts();
      EXPECT_EQ(Count(rig.log, "in use by process 77"), 1u);
      const EngineTally tally = rig.engine->tally();
      EXPECT_EQ(tally.measured + tally.gaps, tally.polled);
      // A rest within its second leaves no gap; one that comes later spoils its second.
      if (n == 1) EXPECT_EQ(tally.gaps, 0u);
      else EXPECT_GE(tally.measured, 600u * 3 / 5);  // a third of the replies are cut
      handed.push_back(rig.seconds);
    }
    ASSERT_TRUE(writer.Flush(10s));
  }
  store::Store store(dir / "store.sqlite");
  const std::vector<store::CounterRow> counters = store.Counters();
  ASSERT_EQ(counters.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    std::map<int64_t, uint32_t> stored;
    for (const store::Second& s : store.ReadSeconds(counters[i].id, 0, INT64_MAX)) stored[s.time] = s.count;
    EXPECT_EQ(stored, handed[i]) << "counter " << i + 1;
  }
}

}  // namespace
}  // namespace norvane::live
