#include "core/history/data_set.h"

#include <gtest/gtest.h>

#include <random>

#include "core/common/text_format.h"
#include "core/graph/navigation.h"

#include "sim/history_generator.h"
#include "tests/core/history/image_builder.h"

namespace norvane {
namespace {

using testing::Hex;
using testing::operator+;
using testing::Repeat;
using testing::Stamp;
using testing::View;

struct Filled {
  HistoryWindow window;
  WindowReadout readout;
};

Filled FillAt(const std::vector<uint8_t>& image, size_t pos, bool playing = false, WindowReadout readout = {}) {
  Filled f{{}, std::move(readout)};
  FillWindow(View(image), pos, f.window);
  WindowRateText(View(image), f.window, kDefaultConversionTable, playing, f.readout);
  return f;
}

TEST(WindowRateText, MinuteLogsShowTheAverageAndSecondLogsTheSum) {
  const auto lead = Repeat(0x01, 40);
  auto minute = FillAt(lead + Stamp(24, 1, 31, 12, 5, 0, kEveryMinute) + Repeat(10, 60), 40);
  EXPECT_EQ(minute.window.sum, 600u);
  EXPECT_EQ(minute.readout.rate, "ACPM:10");
  EXPECT_EQ(minute.readout.dose, "0.065 uSv/h");  // from 10 CPM, not from the sum of 600
  EXPECT_EQ(minute.readout.time, "2024-01-31 12:05:00");

  auto second = FillAt(lead + Stamp(24, 1, 31, 12, 5, 0, kEverySecond) + Repeat(10, 60), 40);
  EXPECT_EQ(second.readout.rate, "CPM:600");
  EXPECT_EQ(second.readout.dose, "3.900 uSv/h");

  auto mixed = FillAt(lead + Stamp(24, 1, 31, 12, 5, 0, kEverySecond) + Repeat(10, 30) +
                          Stamp(24, 1, 31, 12, 6, 0, kEveryMinute) + Repeat(10, 30),
                      40);
  EXPECT_FALSE(WindowTypesUniform(mixed.window));
  EXPECT_EQ(mixed.readout.rate, "CPM:-");
}

TEST(WindowRateText, StartOfImageErasedFlashAndNotes) {
  const auto image = Stamp(24, 1, 31, 12, 5, 0, kEveryMinute) + Repeat(10, 100) + Repeat(0xFF, 100);
  // Positions below 30 show the window from 0, with the time of a stamp at the very start; a
  // minute log is read as its average there too, and the dose is that average's.
  for (size_t pos : {0u, 1u, 29u}) {
    auto f = FillAt(image, pos);
    EXPECT_EQ(f.window.position, 0u);
    EXPECT_EQ(f.readout.time, "2024-01-31 12:05:00");
    EXPECT_EQ(f.readout.rate, "ACPM:10");
    EXPECT_EQ(f.readout.dose, "0.065 uSv/h");
  }
  const auto seconds = Stamp(24, 1, 31, 12, 5, 0, kEverySecond) + Repeat(10, 100);
  EXPECT_EQ(FillAt(seconds, 0).readout.rate, "CPM:600");
  // Without a stamp at the start there is no time to show.
  const auto unstamped = FillAt(Repeat(10, 100) + image, 0);
  EXPECT_EQ(unstamped.readout.time, "-");
  EXPECT_EQ(unstamped.readout.rate, "CPM:600");
  auto erased = FillAt(image, 150);
  EXPECT_EQ(erased.readout.time, "-");
  EXPECT_EQ(erased.readout.rate, "CPM:0");
  EXPECT_EQ(erased.window.values[0], kNoData);

  auto noted = FillAt(Repeat(1, 40) + Stamp(25, 12, 24, 18, 0, 0, kEveryMinute) + Hex("55 AA 02 04 54 72 65 65") +
                          Repeat(20, 60),
                      40 + 12 + 8);
  EXPECT_EQ(noted.readout.note, "Tree");
  EXPECT_EQ(noted.readout.time, "2025-12-24 18:00:00");
  EXPECT_EQ(noted.readout.rate, "ACPM:20");
}

TEST(WindowRateText, AMinuteWithoutDataKeepsTheWindowAnAverage) {
  // A lone FF (a minute or an hour with no data) inside the log: the windows on it and beside it
  // all read as averages with the dose of the average, never the sum of sixty samples.
  for (const int type : {kEveryMinute, kEveryHour}) {
    const auto image =
        Repeat(1, 40) + Stamp(24, 1, 31, 12, 5, 0, type) + Repeat(38, 20) + Repeat(0xFF, 1) + Repeat(38, 80);
    const size_t gap = 40 + 12 + 20;
    for (size_t pos : {gap - 1, gap, gap + 1}) {
      const auto f = FillAt(image, pos);
      const uint32_t average = f.window.sum / 60;
      EXPECT_EQ(f.readout.rate, "ACPM:" + std::to_string(average)) << type << " at " << pos;
      EXPECT_EQ(f.readout.dose, FormatFixed(DoseRateFromCpm(kDefaultConversionTable, average), 3) + " uSv/h");
      EXPECT_LT(average, 39u);
    }
  }
}

TEST(WindowRateText, TheDoseAlwaysBelongsToTheRateShown) {
  // A readout that last showed a high rate: whatever comes next brings its own dose or none.
  WindowReadout busy;
  busy.rate = "CPM:8722";
  busy.dose = "174.440 uSv/h";
  const auto start = FillAt(Repeat(0x20, 100), 0, false, busy);  // no stamp at all
  EXPECT_EQ(start.readout.rate, "CPM:" + std::to_string(start.window.sum));
  EXPECT_EQ(start.readout.dose, FormatFixed(DoseRateFromCpm(kDefaultConversionTable, start.window.sum), 3) + " uSv/h");
  const auto erased = FillAt(Repeat(0xFF, 100), 40, false, busy);
  EXPECT_EQ(erased.readout.rate, "CPM:0");
  EXPECT_EQ(erased.readout.dose, "0.000 uSv/h");
  const auto mixed = FillAt(Repeat(1, 40) + Stamp(24, 1, 31, 12, 5, 0, kEverySecond) + Repeat(10, 30) +
                                Stamp(24, 1, 31, 12, 6, 0, kEveryMinute) + Repeat(10, 30),
                            40, false, busy);
  EXPECT_EQ(mixed.readout.rate, "CPM:-");
  EXPECT_EQ(mixed.readout.dose, "-");
}

TEST(WindowRateText, PlaybackNeverMovesTheClockBack) {
  const auto image = Repeat(1, 40) + Stamp(24, 6, 1, 8, 0, 0, kEveryMinute) + Repeat(5, 60);
  WindowReadout ahead;
  ahead.shown = {24, 6, 1, 9, 30, 0};
  ahead.clock_known = true;
  ahead.time = "playback";
  EXPECT_EQ(FillAt(image, 40, true, ahead).readout.time, "playback");
  EXPECT_EQ(FillAt(image, 40, false, ahead).readout.time, "2024-06-01 08:00:00");
  // Later by the clock though not field by field: 01:00 has passed a stamp of 00:29.
  const auto half_past = Repeat(1, 40) + Stamp(24, 6, 1, 0, 29, 0, kEveryMinute) + Repeat(5, 60);
  ahead.shown = {24, 6, 1, 1, 0, 0};
  EXPECT_EQ(FillAt(half_past, 40, true, ahead).readout.time, "playback");
  ahead.shown = {24, 5, 31, 23, 59, 0};
  EXPECT_EQ(FillAt(half_past, 40, true, ahead).readout.time, "2024-06-01 00:29:00");
  // A stamp with an impossible time is not shown.
  const auto bad = Repeat(1, 40) + Stamp(24, 13, 1, 8, 0, 0, kEveryMinute) + Repeat(5, 60);
  EXPECT_EQ(FillAt(bad, 40, false, ahead).readout.time, "playback");
}

TEST(FillWindow, FirstStepIsTheFirstMultiByteReading) {
  const auto lead = Repeat(3, 40);
  EXPECT_EQ(FillAt(lead + Repeat(4, 100), 40).window.first_step, 0u);
  EXPECT_EQ(FillAt(lead + Hex("55 AA 01 01 2C") + Repeat(4, 100), 40).window.first_step, 4u);
  EXPECT_EQ(FillAt(lead + Stamp(24, 1, 1, 0, 0, 0, 1) + Repeat(4, 100), 40).window.first_step, 13u);
  EXPECT_EQ(FillAt(lead + Repeat(4, 10) + Stamp(24, 1, 1, 0, 0, 0, 1) + Hex("55 AA 01 01 2C") + Repeat(4, 100), 40)
                .window.first_step,
            16u);
}

TEST(FillWindow, SaveTypesMatchALookupPerSample) {
  // The window looks save types up incrementally; it must agree with a fresh lookup per sample,
  // including stamps that drop out of the 660-byte reach and sample positions of 0.
  std::mt19937 rng(3);
  for (int round = 0; round < 40; ++round) {
    std::vector<uint8_t> image;
    while (image.size() < 6000) {
      const int r = std::uniform_int_distribution<int>(0, 9)(rng);
      if (r == 0) image = image + Stamp(24, 1, 1, 0, 0, 0, std::uniform_int_distribution<int>(0, 6)(rng));
      else if (r == 1) image = image + Repeat(7, std::uniform_int_distribution<size_t>(300, 900)(rng));
      else if (r == 2) image = image + Hex("55 AA 01 01 00");
      else image.push_back(static_cast<uint8_t>(std::uniform_int_distribution<int>(0, 254)(rng)));
    }
    for (size_t pos = 0; pos < image.size(); pos += 97) {
      HistoryWindow window;
      window.types.fill(9);
      FillWindow(View(image), pos, window);
      std::array<uint8_t, 60> expected;
      expected.fill(9);
      size_t p = pos < 30 ? 0 : pos;
      for (size_t i = 0; i < 60; ++i) {
        const Sample s = NextSample(View(image), p);
        const uint8_t type = FindSaveType(View(image), s.next - 1);
        if (type <= 5) expected[i] = type;
        p = s.next;
      }
      ASSERT_EQ(window.types, expected) << "round " << round << " pos " << pos;
    }
  }
}

TEST(FillWindow, FromStartSkipsToTheFirstMarker) {
  HistoryWindow window;
  const auto image = Repeat(0x20, 5) + Stamp(24, 1, 1, 0, 0, 0, kEverySecond) + Repeat(2, 70);
  FillWindowFromStart(View(image), window);
  EXPECT_EQ(window.values[0], 2u);
  EXPECT_EQ(window.sum, 120u);
  EXPECT_EQ(window.types[0], kEverySecond);

  const auto no_marker = Repeat(0x20, 100);
  FillWindowFromStart(View(no_marker), window);
  EXPECT_EQ(window.sum, 0u);
  EXPECT_EQ(window.values[0], 0u);
}

TEST(FillSamples, KeepsLowBytesAndLeavesOutNoData) {
  const auto image = Hex("55 AA 01 01 2C 05 FF 06");
  std::array<uint8_t, 5> out{};
  EXPECT_EQ(FillSamples(View(image), 0, out), 44u + 5 + 6);
  EXPECT_EQ(out, (std::array<uint8_t, 5>{44, 5, 255, 6, 255}));
}

TEST(TimeIndex, FirstStampGivesTheEntryAndTheAxis) {
  TimeIndex index;
  const auto image = Repeat(1, 20) + Stamp(24, 2, 28, 23, 59, 30, 1) + Repeat(2, 30);
  const TimeIndexEntry* entry = BuildTimeIndex(View(image), index);
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->text, "2024-02-28 23:59:30");
  EXPECT_EQ(entry->offset, 11u);
  EXPECT_EQ(index.axis_labels[0], (StampTime{24, 2, 28, 23, 59, 30}));
  EXPECT_EQ(index.axis_labels[30], (StampTime{24, 2, 29, 0, 0, 0}));  // leap day kept
  EXPECT_EQ(index.axis_labels[59], (StampTime{24, 2, 29, 0, 0, 29}));
  BuildTimeIndex(View(image), index);
  EXPECT_EQ(index.entries.size(), 1u);  // the same text is not listed twice

  TimeIndex unset;
  EXPECT_EQ(BuildTimeIndex(View(Stamp(0xFF, 1, 1, 0, 0, 0, 1) + Stamp(24, 1, 1, 0, 0, 0, 1)), unset), nullptr);
  EXPECT_TRUE(unset.entries.empty());
  // A stamp cut off by the image end is not a stamp.
  const auto cut = Stamp(24, 1, 1, 0, 0, 0, 1);
  EXPECT_EQ(BuildTimeIndex(ImageView(cut.data(), 11), unset), nullptr);
  EXPECT_NE(BuildTimeIndex(ImageView(cut.data(), 12), unset), nullptr);
}

TEST(RealtimeSeries, SlotsTotalsAndRates) {
  RealtimeSeries series(1000);
  EXPECT_EQ(series.Cpm(), 0u);
  EXPECT_EQ(series.count(), 59u);
  series.Append(300);  // more than a byte holds: kept whole
  EXPECT_EQ(series.at(59), 300u);
  EXPECT_EQ(series.Cpm(), 300u);
  for (int i = 0; i < 100; ++i) series.Append(i % 2 ? 2 : 4);
  EXPECT_EQ(series.total(), 300u + 300u);
  EXPECT_EQ(series.Cpm(0), 180u);   // the last 60 seconds
  EXPECT_EQ(series.Cpm(100), 300u); // ending at the 300: 59 zeros before it
  EXPECT_EQ(series.Cpm(500), 0u);

  series.set_elapsed(120);
  EXPECT_DOUBLE_EQ(series.AverageCpm(), 300.0);
  series.set_elapsed(30);
  EXPECT_DOUBLE_EQ(series.AverageCpm(), 180.0);

  // A session is stamped when it starts, not when the series was made; elapsed time carries on.
  series.StartSession(1500, {26, 3, 7, 9, 5, 4});
  EXPECT_EQ(series.count(), 59u);
  EXPECT_EQ(series.measured_count(), 0u);
  EXPECT_EQ(series.start_time(), 1500);
  EXPECT_EQ(series.elapsed(), 30u);
  const std::array<uint8_t, 12> stamp = {0x55, 0xAA, 0, 26, 3, 7, 9, 5, 4, 0x55, 0xAA, 1};
  EXPECT_EQ(series.start_stamp(), stamp);

  series.Reset(2000);
  EXPECT_EQ(series.start_time(), 2000);
  EXPECT_EQ(series.start_stamp(), (std::array<uint8_t, 12>{}));  // no stale session stamp
  while (series.Append(1)) {
  }
  EXPECT_TRUE(series.full());
  EXPECT_EQ(series.total(), RealtimeSeries::kCapacity - 59);
}

TEST(RealtimeSeries, MeasuredSecondsLeaveThePaddingOut) {
  RealtimeSeries series(1000);
  series.StartSession(1500, {26, 3, 7, 9, 5, 4});
  EXPECT_TRUE(series.measured().empty());
  series.Append(4);
  series.Append(6);
  EXPECT_EQ(std::vector<uint32_t>(series.measured().begin(), series.measured().end()), (std::vector<uint32_t>{4, 6}));
  EXPECT_EQ(series.Cpm(), 10u);

  // A recording read back is every bit measured, so it is saved again as it was read.
  const std::vector<uint32_t> counts = {0, 0, 5, 1};
  series.Restore(2000, {26, 3, 7, 10, 0, 0}, counts);
  EXPECT_EQ(std::vector<uint32_t>(series.measured().begin(), series.measured().end()), counts);
  EXPECT_EQ(series.start_time(), 2000);
  EXPECT_EQ(series.total(), 6u);
  series.Append(2);
  EXPECT_EQ(series.measured_count(), 5u);
}

TEST(DataSet, ModelSelectionLoadAndClear) {
  DataSet data(0);
  EXPECT_EQ(data.dump.model().family, 1);
  data.dump.SelectModel("ZQT-600");
  EXPECT_EQ(data.dump.model().family, 7);
  EXPECT_EQ(data.dump.buffer().size(), 2088960u + HistoryDump::kConfigRoom);
  EXPECT_EQ(data.dump.buffer()[2088960u + 100], 0xFF);

  data.dump.SelectModel("ZQT-100");
  sim::HistoryOptions options;
  options.image_size = 0x10000;
  options.seed = 5;
  const auto generated = sim::GenerateHistory(options);
  EXPECT_EQ(data.dump.LoadImage(generated), 0x10000u);
  data.RefillFromStart();
  EXPECT_EQ(data.time_index.entries.size(), 1u);
  EXPECT_EQ(data.readout.time, data.time_index.entries[0].text);
  EXPECT_GT(data.window.sum, 0u);

  // Data without a stamp shows no date, least of all the one loaded before, and gives
  // playback no clock to run.
  data.dump.LoadImage(std::vector<uint8_t>(0x10000, 0x20));
  data.RefillFromStart();
  EXPECT_EQ(data.readout.time, "-");
  EXPECT_FALSE(data.readout.clock_known);
  EXPECT_FALSE(AdvanceShownTime(data.readout, kEverySecond));
  EXPECT_EQ(data.readout.time, "-");

  data.ClearAll(50);
  EXPECT_EQ(data.dump.buffer()[0], 0);
  EXPECT_EQ(data.window.sum, 0u);
  EXPECT_EQ(data.realtime.start_time(), 50);
}

}  // namespace
}  // namespace norvane
