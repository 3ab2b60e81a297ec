#include "sim/simulated_counter.h"

#include <gtest/gtest.h>

#include <bit>
#include <numeric>
#include <random>

#include "core/history/record_stream.h"
#include "tests/sim/counter_test_bench.h"

namespace norvane::sim {
namespace {

using namespace std::chrono_literals;
using namespace std::string_view_literals;
using testing::Bytes;
using testing::FrameOf;
using testing::CounterBench;
namespace c = commands;

CounterOptions WithFaults(Faults faults) {
  CounterOptions o;
  o.faults = faults;
  return o;
}

TEST(SimulatedCounterIdentity, VersionReplyIsTwentyBytesZeroPadded) {
  CounterBench bench({}, "ZQT-120+V5");
  const auto reply = bench.Ask(c::kGetVer);
  ASSERT_EQ(reply.size(), 20u);
  EXPECT_EQ(std::string(reply.begin(), reply.begin() + 14), "ZQT-120Re 5.12");
  EXPECT_TRUE(std::all_of(reply.begin() + 14, reply.end(), [](uint8_t b) { return b == 0; }));
  EXPECT_EQ(bench.counter().family(), 5);
  EXPECT_EQ(bench.counter().baud(), 115200);
}

TEST(SimulatedCounterIdentity, VersionTextDecidesHowTheCounterSpeaks) {
  CounterOptions options;
  options.version = "ZQT-100Re2.00";
  CounterBench bench(options, "ZQT-400");
  EXPECT_EQ(bench.counter().family(), 0);
  EXPECT_EQ(bench.counter().baud(), 57600);
  // Family 0 takes the 1-byte-address write.
  EXPECT_EQ(bench.Ask(c::kWriteCfgShort, {5, 9}), std::vector<uint8_t>{0xAA});
  EXPECT_EQ(bench.counter().config()[5], 9);

  options.version = std::string(30, 'x');  // longer than the reply: cut, not overrun
  CounterBench long_text(options);
  EXPECT_EQ(long_text.Ask(c::kGetVer), std::vector<uint8_t>(20, 'x'));
}

TEST(SimulatedCounterIdentity, EachCounterHasASerialNumberOfItsOwnUnlessTold) {
  // Alike in everything else, two counters still answer with different numbers.
  CounterBench a, b;
  const auto first = a.Ask(c::kGetSerial);
  ASSERT_EQ(first.size(), 8u);
  EXPECT_NE(first, b.Ask(c::kGetSerial));
  EXPECT_EQ(a.Ask(c::kGetSerial), first);

  CounterOptions given;
  given.serial = SerialNumber{0x3E, 0x3E, 0x3C, 0xAA, 0x00, 0xFF, 0x80, 0x01};
  CounterBench told(given);
  EXPECT_EQ(told.Ask(c::kGetSerial), std::vector<uint8_t>(given.serial->begin(), given.serial->end()));

  given.faults.no_serial = true;
  CounterBench without(given);
  EXPECT_TRUE(without.Ask(c::kGetSerial).empty());
  EXPECT_EQ(without.Ask(c::kGetVer).size(), 20u);
}

TEST(SimulatedCounterHistory, FlashReadsAreExactlyTheRequestedBytes) {
  std::vector<uint8_t> history(0x4000);
  std::iota(history.begin(), history.end(), uint8_t{0});
  CounterOptions options;
  options.history = history;
  CounterBench bench(options);
  ASSERT_EQ(bench.counter().flash().size(), 0x100000u);  // a ZQT-400 holds 1 MiB

  // An address with '>' bytes in it.
  const auto reply = bench.Ask(c::kSpir, {0x00, 0x3E, 0x3E, 0x01, 0x00});
  ASSERT_EQ(reply.size(), 256u);
  EXPECT_TRUE(std::equal(reply.begin(), reply.end(), history.begin() + 0x3E3E));

  // Beyond the loaded history is erased flash; beyond the memory too.
  EXPECT_EQ(bench.Ask(c::kSpir, {0x00, 0x40, 0x00, 0x00, 0x10}), std::vector<uint8_t>(16, 0xFF));
  EXPECT_EQ(bench.Ask(c::kSpir, {0xFF, 0xFF, 0xF8, 0x00, 0x20}), std::vector<uint8_t>(32, 0xFF));
  EXPECT_TRUE(bench.Ask(c::kSpir, {0, 0, 0, 0, 0}).empty());
}

TEST(SimulatedCounterHistory, GeneratedHistoryEndsBeforeSwitchOnAndIsRecordedInTheConfiguration) {
  CounterBench bench;
  const auto& flash = bench.counter().flash();
  const auto end = static_cast<uint32_t>(
      flash.rend() - std::find_if(flash.rbegin(), flash.rend(), [](uint8_t b) { return b != 0xFF; }));
  ASSERT_GT(end, 2048u);
  EXPECT_LT(end, flash.size() / 2);  // an erased tail
  const auto& cfg = bench.counter().config();
  EXPECT_EQ((uint32_t{cfg[38]} << 16) | (cfg[39] << 8) | cfg[40], end);
  // The log starts four days before the counter's clock (2026-03-07).
  EXPECT_EQ(std::vector<uint8_t>(flash.begin(), flash.begin() + 6), (std::vector<uint8_t>{0x55, 0xAA, 0, 26, 3, 3}));
}

TEST(SimulatedCounterConfig, ReadsReturnTheFamilysBlockSize) {
  EXPECT_EQ(CounterBench({}, "ZQT-400").Ask(c::kGetCfg).size(), 512u);
  EXPECT_EQ(CounterBench({}, "ZQT-600").Ask(c::kGetCfg).size(), 256u);
  CounterBench legacy({}, "ZQT-120");
  const auto block = legacy.Ask(c::kGetCfg);
  ASSERT_EQ(block.size(), 256u);
  EXPECT_EQ(legacy.Ask(c::kReadEeprom), block);
  // Calibration point 1 as the program decodes it: 60 CPM, 0.39 uSv/h.
  EXPECT_EQ(block[8], 0);
  EXPECT_EQ(block[9], 60);
  EXPECT_FLOAT_EQ(std::bit_cast<float>(uint32_t{block[10]} << 24 | block[11] << 16 | block[12] << 8 | block[13]), 0.39f);
}

TEST(SimulatedCounterConfig, WidthFamiliesApplyWritesOnlyOnUpdate) {
  CounterBench bench;
  const auto before = bench.counter().config();
  EXPECT_EQ(bench.Ask(c::kEraseCfg), std::vector<uint8_t>{0xAA});
  EXPECT_EQ(bench.Ask(c::kWriteCfgLong, {0x01, 0xB5, 0x42}), std::vector<uint8_t>{0xAA});
  EXPECT_EQ(bench.counter().config(), before);  // nothing applied yet
  EXPECT_EQ(bench.counter().staged_config()[0x1B5], 0x42);
  EXPECT_EQ(bench.counter().staged_config()[0], 0xFF);  // erased
  EXPECT_EQ(bench.Ask(c::kCfgUpdate), std::vector<uint8_t>{0xAA});
  EXPECT_EQ(bench.counter().config()[0x1B5], 0x42);
  EXPECT_EQ(bench.Ask(c::kGetCfg)[0x1B5], 0x42);
}

TEST(SimulatedCounterConfig, NarrowFamiliesWriteStraightIntoTheArea) {
  CounterBench bench({}, "ZQT-120");
  EXPECT_EQ(bench.Ask(c::kEraseCfg), std::vector<uint8_t>{0xAA});
  EXPECT_EQ(bench.counter().config()[1], 0xFF);
  EXPECT_EQ(bench.Ask(c::kWriteCfgShort, {1, 0}), std::vector<uint8_t>{0xAA});
  EXPECT_EQ(bench.Ask(c::kGetCfg)[1], 0);
}

TEST(SimulatedCounterConfig, WrongAcknowledgementOnlyAtTheChosenAddress) {
  Faults f;
  f.wrong_ack_address = 10;
  CounterBench bench(WithFaults(f));
  EXPECT_EQ(bench.Ask(c::kWriteCfgLong, {0, 9, 1}), std::vector<uint8_t>{0xAA});
  for (int attempt = 0; attempt < 6; ++attempt)
    EXPECT_EQ(bench.Ask(c::kWriteCfgLong, {0, 10, 1}), std::vector<uint8_t>{0x55});
  EXPECT_NE(bench.counter().staged_config()[10], 1);
  // Out of the area: refused the same way instead of written anywhere.
  EXPECT_EQ(bench.Ask(c::kWriteCfgLong, {0x10, 0x00, 1}), std::vector<uint8_t>{0x55});
}

TEST(SimulatedCounterConfig, FactoryResetRestoresDefaultsAndRestarts) {
  CounterOptions options;
  options.config = std::vector<uint8_t>(16, 0x11);
  options.restart_time = 2s;
  CounterBench bench(options);
  EXPECT_EQ(bench.counter().config()[1], 0x11);
  EXPECT_EQ(bench.Ask(c::kFactoryReset), std::vector<uint8_t>{0xAA});
  EXPECT_EQ(bench.counter().config()[1], 1);
  EXPECT_TRUE(bench.Ask(c::kGetVer).empty());  // still restarting
  bench.Wait(2s);
  EXPECT_EQ(bench.Ask(c::kGetVer).size(), 20u);
}

TEST(SimulatedCounterClock, SetTimeIsKeptAndRunsOn) {
  CounterBench bench;
  EXPECT_EQ(bench.Ask(c::kGetDateTime), (std::vector<uint8_t>{26, 3, 7, 9, 5, 4, 0xAA}));
  EXPECT_EQ(bench.Ask(c::kSetDateTime, {24, 12, 31, 23, 59, 58}), std::vector<uint8_t>{0xAA});
  bench.Wait(3s);
  EXPECT_EQ(bench.Ask(c::kGetDateTime), (std::vector<uint8_t>{25, 1, 1, 0, 0, 1, 0xAA}));
  // A date that does not exist is refused and changes nothing.
  EXPECT_EQ(bench.Ask(c::kSetDateTime, {25, 2, 29, 0, 0, 0}), std::vector<uint8_t>{'?'});
  EXPECT_EQ(bench.Ask(c::kGetDateTime)[1], 1);
}

TEST(SimulatedCounterClock, FieldByFieldSetting) {
  CounterBench bench({}, "ZQT-100");
  // Year, month, day, hour, minute, second, then KEY0, as older counters are set.
  const std::pair<const CommandSpec*, uint8_t> fields[] = {{&c::kSetDateYY, 24}, {&c::kSetDateMM, 2},
                                                            {&c::kSetDateDD, 29}, {&c::kSetTimeHH, 13},
                                                            {&c::kSetTimeMM, 14}, {&c::kSetTimeSS, 15}};
  for (const auto& [command, value] : fields) EXPECT_EQ(bench.Ask(*command, {value}), std::vector<uint8_t>{0xAA});
  EXPECT_TRUE(bench.Ask(c::kKey0).empty());
  EXPECT_EQ(bench.Ask(c::kGetDateTime), (std::vector<uint8_t>{24, 2, 29, 13, 14, 15, 0xAA}));

  // From 31 March, setting April must not leave the clock on a day that does not exist.
  bench.Ask(c::kSetDateTime, {26, 3, 31, 8, 0, 0});
  EXPECT_EQ(bench.Ask(c::kSetDateMM, {4}), std::vector<uint8_t>{0xAA});
  EXPECT_EQ(bench.Ask(c::kGetDateTime)[2], 30);
  EXPECT_EQ(bench.Ask(c::kSetTimeHH, {24}), std::vector<uint8_t>{'?'});
}

TEST(SimulatedCounterScreenshots, TwoStoredTwoEmpty) {
  CounterBench bench;
  for (char slot : {'1', '2'}) {
    const auto info = bench.Ask(c::kGetScreenshotInfo, {static_cast<uint8_t>(slot)});
    ASSERT_EQ(info.size(), 7u);
    EXPECT_GE(info[0], 19);  // a year the program accepts
    EXPECT_EQ(info[6], 0xAA);
    const auto image = bench.Ask(c::kGetScreenshot, {static_cast<uint8_t>(slot)});
    ASSERT_EQ(image.size(), 1025u);
    EXPECT_EQ(image[1024], 0xAA);
    EXPECT_GT(std::count_if(image.begin(), image.end() - 1, [](uint8_t b) { return b != 0; }), 100);
  }
  EXPECT_EQ(bench.Ask(c::kGetScreenshotInfo, {'4'}), (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xAA}));
  EXPECT_TRUE(bench.Ask(c::kGetScreenshotInfo, {'5'}).empty());
  EXPECT_TRUE(bench.Ask(c::kGetScreenshot, {0}).empty());
}

TEST(SimulatedCounterNetwork, ValuesLandWhereTheFamilyKeepsThem) {
  CounterBench bench;
  bench.Ask(c::kSetSsid, Bytes("HomeNetwork"));
  EXPECT_EQ(bench.Ask(c::kSetSsid, Bytes("Hi")), std::vector<uint8_t>{0xAA});
  const auto& cfg = bench.counter().config();
  EXPECT_EQ(std::string(cfg.begin() + 69, cfg.begin() + 72), std::string("Hi\0", 3));
  EXPECT_EQ(cfg[72], 0);  // the old text does not show through
  EXPECT_EQ(bench.Ask(c::kSetPeriod, {0x2C}), std::vector<uint8_t>{0xAA});
  EXPECT_EQ(cfg[325], 0x2C);
  EXPECT_EQ(bench.Ask(c::kGetCfg)[325], 0x2C);

  CounterBench v5({}, "ZQT-120+V5");
  v5.Ask(c::kSetWebsite, Bytes("www.example.org/radiation/map"));  // longer than its 25 bytes
  v5.Ask(c::kSetPeriod, {5});
  const auto& cfg5 = v5.counter().config();
  EXPECT_EQ(std::string(cfg5.begin() + 101, cfg5.begin() + 126), "www.example.org/radiation");
  EXPECT_EQ(cfg5[162], 5);

  CounterBench radon({}, "RadonMax");
  radon.Ask(c::kSetSsid, Bytes("MyWifi"));
  EXPECT_EQ(std::string(radon.counter().config().begin() + 68, radon.counter().config().begin() + 74), "MyWifi");

  // A counter without WiFi does not answer.
  EXPECT_TRUE(CounterBench({}, "ZQT-120").Ask(c::kSetSsid, Bytes("x")).empty());
}

uint32_t CountOf(const std::vector<uint8_t>& r) { return uint32_t{r[0]} << 24 | r[1] << 16 | r[2] << 8 | r[3]; }

TEST(SimulatedCounterCounts, PoissonAroundTheChosenRateAndSeeded) {
  CounterOptions options;
  options.cpm = 600;
  CounterBench a(options), b(options);
  options.seed = 2;
  CounterBench other(options);
  uint64_t total = 0;
  bool differs = false;
  for (int s = 0; s < 600; ++s) {
    const auto reply = a.Ask(c::kGetCps);
    ASSERT_EQ(reply.size(), 4u);
    EXPECT_EQ(reply, b.Ask(c::kGetCps));
    differs |= reply != other.Ask(c::kGetCps);
    total += CountOf(reply);
    for (CounterBench* bench : {&a, &b, &other}) bench->Wait(1s);
  }
  EXPECT_NEAR(total / 600.0, 10.0, 1.0);
  EXPECT_TRUE(differs);
}

TEST(SimulatedCounterCounts, OlderAndMarkedReplyForms) {
  CounterOptions options;
  options.cpm = 60000;  // about 1000 a second, so the high byte is used
  options.faults.short_counts = true;
  CounterBench old(options);
  old.Wait(2s);
  const auto two = old.Ask(c::kGetCps);
  ASSERT_EQ(two.size(), 2u);
  EXPECT_EQ(two[0] & 0xC0, 0x80);
  EXPECT_NEAR((two[0] & 0x3F) * 256 + two[1], 1000, 150);

  Faults f;
  f.marked_counts = 3;
  CounterBench marked(WithFaults(f));
  for (int i = 1; i <= 6; ++i) {
    const auto r = marked.Ask(c::kGetCps);
    ASSERT_EQ(r.size(), 4u);
    EXPECT_EQ(r[0] == 0x80, i % 3 == 0) << "reply " << i;
  }
}

TEST(SimulatedCounterFaults, SilenceFromTheStartOrLater) {
  Faults silent;
  silent.silent = true;
  EXPECT_TRUE(CounterBench(WithFaults(silent)).Ask(c::kGetVer).empty());

  Faults later;
  later.silent_after = 30s;
  CounterBench bench(WithFaults(later));  // the bench starts at 10 s
  EXPECT_EQ(bench.Ask(c::kGetVer).size(), 20u);
  bench.Wait(20s);
  EXPECT_TRUE(bench.Ask(c::kGetVer).empty());
}

TEST(SimulatedCounterFaults, StallCutsOneFlashReplyHalfWay) {
  Faults f;
  f.stall_request = 2;
  CounterBench bench(WithFaults(f));
  EXPECT_EQ(bench.Ask(c::kSpir, {0, 0, 0, 4, 0}).size(), 1024u);
  EXPECT_EQ(bench.Ask(c::kSpir, {0, 4, 0, 4, 0}).size(), 512u);
  // The program asks again for the same block and gets all of it.
  const auto again = bench.Ask(c::kSpir, {0, 4, 0, 4, 0});
  ASSERT_EQ(again.size(), 1024u);
  EXPECT_TRUE(std::equal(again.begin(), again.end(), bench.counter().flash().begin() + 1024));
}

TEST(SimulatedCounterFaults, OutOfDownloadModeFlashReadsShowQuestionMarks) {
  Faults f;
  f.question = true;
  CounterBench bench(WithFaults(f));
  bench.Ask(c::kHeartbeat0);
  EXPECT_FALSE(bench.counter().download_mode());
  const auto reply = bench.Ask(c::kSpir, {0, 0, 0, 4, 0});
  ASSERT_EQ(reply.size(), 1024u);
  // What the program looks for: '?' at k, k+5, k+10 and k+15.
  for (int k : {0, 5, 10, 15}) EXPECT_EQ(reply[k], '?');
  EXPECT_EQ(bench.Ask(c::kGetVer).size(), 20u);  // everything else still answers

  CounterBench normal;
  normal.Ask(BuildFamily0HeartbeatFrame());
  EXPECT_TRUE(normal.counter().download_mode());
}

TEST(SimulatedCounterFaults, QuestionBurstAnswersEveryFlashReadWithAFewQuestionMarksOnly) {
  Faults f;
  f.question_burst = 20;
  CounterBench bench(WithFaults(f));
  bench.Ask(c::kHeartbeat0);
  for (const uint8_t high : {0, 4, 8}) {
    const auto reply = bench.Ask(c::kSpir, {0, high, 0, 4, 0});
    EXPECT_EQ(reply, std::vector<uint8_t>(20, '?')) << "request at " << high * 256;
  }
  EXPECT_EQ(bench.Ask(c::kGetVer).size(), 20u);
}

TEST(SimulatedCounterFaults, StrictBaudAnswersOnlyAtTheModelsRate) {
  Faults f;
  f.strict_baud = true;
  CounterBench bench(WithFaults(f));
  EXPECT_TRUE(bench.Ask(FrameOf(c::kGetVer), 57600).empty());
  EXPECT_EQ(bench.Ask(FrameOf(c::kGetVer), 115200).size(), 20u);
  EXPECT_EQ(bench.Ask(FrameOf(c::kGetVer), 0).size(), 20u);  // rate unknown: benefit of the doubt
}

TEST(SimulatedCounterTiming, PacedRepliesRunAtTheLineRate) {
  CounterOptions options;
  options.pace = true;
  CounterBench bench(options);
  SimulatedCounter& counter = bench.counter();
  const SimTime t0 = bench.now();
  counter.Receive(FrameOf(c::kSpir, {0, 0, 0, 4, 0}), t0);
  counter.Receive(FrameOf(c::kGetVer), t0);
  // 10 bits a byte at 115200 baud: 1024 bytes take 88.9 ms, and the version reply queues behind.
  EXPECT_EQ(counter.NextDue(), t0);
  EXPECT_EQ(counter.TakeDue(t0 + 44'444'444ns).size(), 513u);
  EXPECT_EQ(counter.TakeDue(t0 + 88'802'083ns).size(), 1024u - 513u);
  EXPECT_EQ(counter.NextDue(), t0 + 88'888'888ns);
  EXPECT_EQ(counter.TakeDue(t0 + 1s).size(), 20u);
  EXPECT_FALSE(counter.NextDue());
}

TEST(SimulatedCounterTiming, UnpacedRepliesAreDueAtOnce) {
  CounterBench bench;
  bench.counter().Receive(FrameOf(c::kSpir, {0, 0, 0, 4, 0}), bench.now());
  EXPECT_EQ(bench.counter().TakeDue(bench.now()).size(), 1024u);
}

TEST(SimulatedCounterTiming, AnAbandonedFrameDoesNotSwallowTheNext) {
  CounterBench bench;
  SimulatedCounter& counter = bench.counter();
  counter.Receive(Bytes("<SPIR"), bench.now());
  bench.Wait(2s);
  EXPECT_EQ(bench.Ask(c::kGetVer).size(), 20u);
}

TEST(SimulatedCounterRobustness, AnyBytesAnyChunkingThenStillAnswers) {
  // Noise built from frame fragments, so that words, '<' and '>' turn up in every position.
  CounterBench bench({}, "ZQT-600");
  std::mt19937 rng(11);
  const std::vector<uint8_t> pieces = Bytes("<>>GETSSNWCFGSETSSIDSPIRHeartbeat \x00\xFF\x3E\x3C"sv);
  for (int round = 0; round < 200; ++round) {
    std::vector<uint8_t> soup(std::uniform_int_distribution<size_t>(1, 64)(rng));
    for (uint8_t& b : soup) b = pieces[std::uniform_int_distribution<size_t>(0, pieces.size() - 1)(rng)];
    bench.counter().Receive(soup, bench.now());
    bench.counter().TakeDue(bench.now() + 1h);
  }
  bench.Wait(2s);  // whatever partial frame is left is abandoned
  EXPECT_EQ(bench.Ask(c::kGetVer).size(), 20u);
}

}  // namespace
}  // namespace norvane::sim
