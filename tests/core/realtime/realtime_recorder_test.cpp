// Poll replies, the CPM's one-second lag and the day-full save.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>

#include "core/realtime/poll_reply.h"
#include "core/realtime/realtime_recorder.h"
#include "tests/common/recording_notifier.h"
#include "tests/common/temp_dir.h"

namespace norvane {
namespace {

using testing::EntryCount;
using testing::RecordingNotifier;
using testing::TempDir;

std::optional<uint32_t> Decode(std::initializer_list<uint8_t> bytes) {
  std::vector<uint8_t> v(bytes);
  return DecodePollReply(v);
}

TEST(PollReply, FourByteRepliesAreNormalised) {
  EXPECT_EQ(Decode({0x00, 0x00, 0x01, 0x05}), 261u);
  EXPECT_EQ(Decode({0x1A, 0x00, 0x00, 0x00}), 26u);
  EXPECT_EQ(Decode({0x00, 0x1B, 0x00, 0x00}), 27u);
  EXPECT_EQ(Decode({0x00, 0x00, 0x1C, 0x00}), 28u);
  EXPECT_EQ(Decode({0x00, 0x00, 0x00, 0x09}), 9u);
  // A first byte moves over the last one, whatever that held.
  EXPECT_EQ(Decode({0x02, 0x00, 0x00, 0x07}), 2u);
}

TEST(PollReply, MarkedAndOddLengthsAreDropped) {
  EXPECT_FALSE(Decode({0x00, 0x80, 0x00, 0x00}));
  EXPECT_FALSE(Decode({0x00, 0x00, 0x00, 0x80}));
  EXPECT_FALSE(Decode({0x05}));
  EXPECT_FALSE(Decode({0x00, 0x00, 0x05}));
  EXPECT_FALSE(Decode({}));
  EXPECT_EQ(Decode({0xC0, 0x05}), 5u);
  EXPECT_EQ(Decode({0x81, 0x02}), 258u);
}

class RecorderTest : public ::testing::Test {
 protected:
  RecorderTest()
      : clock_(LocalTime{2026, 3, 7, 9, 5, 4}),
        data_(clock_.Now()),
        saver_(data_, dictionary_, clock_, notifier_),
        recorder_(data_, saver_, clock_, notifier_) {
    recorder_.set_name_prefix(dir_.path().string() + "/");
    recorder_.StartSession();
  }

  TempDir dir_;
  FixedClock clock_;
  DataSet data_;
  LanguageDictionary dictionary_;
  RecordingNotifier notifier_;
  FileSaver saver_;
  RealtimeRecorder recorder_;
};

TEST_F(RecorderTest, SecondsFillTheSlotsFrom59AndADropFillsNone) {
  EXPECT_TRUE(recorder_.Record(7u).recorded);
  EXPECT_EQ(data_.realtime.at(59), 7u);
  EXPECT_FALSE(recorder_.Record(std::nullopt).recorded);
  recorder_.Record(3u);
  EXPECT_EQ(data_.realtime.total(), 10u);
  // The minute window ends with the newest second.
  EXPECT_EQ(data_.window.values[59], 3u);
  EXPECT_EQ(data_.window.values[58], 7u);
}

TEST_F(RecorderTest, FullDayIsSavedAsThreeFilesAndRestartsAtSlot59) {
  RecordedSecond last;
  for (uint32_t i = 0; i < RealtimeSeries::kCapacity - RealtimeSeries::kFirstSlot; ++i) last = recorder_.Record(i % 3);
  ASSERT_EQ(last.day_saves.size(), 3u);
  for (const SaveResult& r : last.day_saves) EXPECT_TRUE(r.saved()) << r.path << " " << r.error;
  const std::string base = (dir_.path() / "20260307_09_05_04").string();
  EXPECT_TRUE(std::filesystem::exists(base + ".rbn"));
  EXPECT_TRUE(std::filesystem::exists(base + ".csv"));
  EXPECT_TRUE(std::filesystem::exists(base + ".html"));
  // 12-byte start record and one byte per measured second: the padding stays out.
  EXPECT_EQ(std::filesystem::file_size(base + ".rbn"), 12u + RealtimeSeries::kCapacity - RealtimeSeries::kFirstSlot);
  EXPECT_EQ(data_.realtime.count(), RealtimeSeries::kFirstSlot);
  EXPECT_EQ(data_.realtime.total(), 0u);
  EXPECT_TRUE(notifier_.HasStatus("24 hours data auto saved."));
  EXPECT_TRUE(last.day_restarted);
  // Recording goes on into the fresh day.
  recorder_.Record(4u);
  EXPECT_EQ(data_.realtime.at(59), 4u);
}

TEST_F(RecorderTest, AFailedDaySaveKeepsTheDayAndTriesAgainAMinuteLater) {
  const std::filesystem::path folder = dir_ / "unplugged";
  recorder_.set_name_prefix(folder.string() + "/");
  const uint32_t day = RealtimeSeries::kCapacity - RealtimeSeries::kFirstSlot;
  RecordedSecond last;
  for (uint32_t i = 0; i < day; ++i) last = recorder_.Record(1u);
  ASSERT_EQ(last.day_saves.size(), 3u);
  for (const SaveResult& r : last.day_saves) EXPECT_FALSE(r.saved());
  EXPECT_FALSE(last.day_restarted);
  EXPECT_EQ(recorder_.recorded_seconds(), day);
  EXPECT_FALSE(notifier_.HasStatus("24 hours data auto saved."));

  // The full day has no room: later seconds are dropped, and the save waits a minute.
  for (uint32_t i = 1; i < RealtimeRecorder::kDaySaveRetrySeconds; ++i) {
    last = recorder_.Record(9u);
    ASSERT_FALSE(last.recorded);
    ASSERT_TRUE(last.day_saves.empty());
  }
  EXPECT_EQ(data_.realtime.total(), day);

  std::filesystem::create_directory(folder);
  last = recorder_.Record(9u);
  ASSERT_EQ(last.day_saves.size(), 3u);
  for (const SaveResult& r : last.day_saves) EXPECT_TRUE(r.saved()) << r.path << " " << r.error;
  EXPECT_TRUE(last.day_restarted);
  EXPECT_EQ(std::filesystem::file_size(last.day_saves[0].path), 12u + day);
  // The second that found the day saved starts the next one.
  EXPECT_TRUE(last.recorded);
  EXPECT_EQ(recorder_.recorded_seconds(), 1u);
  EXPECT_EQ(data_.realtime.total(), 9u);
}

TEST_F(RecorderTest, RecordingStartsAtItsFirstMeasuredSecondNotAtProgramStart) {
  // The window has been open ten minutes; two polls bring nothing before the first count.
  clock_.Advance(600);
  recorder_.StartSession();
  EXPECT_EQ(data_.realtime.start_time(), clock_.Now());
  clock_.Advance(1);
  recorder_.Record(std::nullopt);
  clock_.Advance(1);
  recorder_.Record(std::nullopt);
  clock_.Advance(1);
  const std::time_t first = clock_.Now();
  for (uint32_t v : {7u, 0u, 3u}) {
    recorder_.Record(v);
    clock_.Advance(1);
  }
  EXPECT_EQ(data_.realtime.start_time(), first);

  const std::vector<SaveResult> saves = recorder_.SaveRecording();
  ASSERT_EQ(saves.size(), 3u);
  for (const SaveResult& r : saves) ASSERT_TRUE(r.saved()) << r.error;
  // 09:15:07: stamp, then the three seconds and nothing else.
  EXPECT_EQ(testing::ReadAll(saves[0].path), std::string("\x55\xAA\x00\x1A\x03\x07\x09\x0F\x07\x55\xAA\x01"
                                                         "\x07\x00\x03", 15));
  EXPECT_TRUE(testing::ReadAll(saves[1].path).ends_with("60s,\r\n2026-03-07 09:15,0.0650,10,7,0,3,\r\n"));
  EXPECT_TRUE(testing::ReadAll(saves[2].path).ends_with("<TR><TD>2026-03-07 09:15</TD><TD>10</TD><TD>7</TD><TD>0</TD>"
                                                        "<TD>3</TD></TR></TABLE></html>"));
}

TEST_F(RecorderTest, SaveInTheSameSecondKeepsTheEarlierFiles) {
  recorder_.Record(5u);
  const std::vector<SaveResult> first = recorder_.SaveRecording();
  recorder_.Record(6u);
  const std::vector<SaveResult> second = recorder_.SaveRecording();
  ASSERT_EQ(first.size(), 3u);
  ASSERT_EQ(second.size(), 3u);
  EXPECT_NE(first[0].path, second[0].path);
  EXPECT_EQ(EntryCount(dir_.path()), 6u);
}

TEST_F(RecorderTest, NothingToSaveBeforeTheFirstSecond) {
  EXPECT_TRUE(recorder_.SaveRecording().empty());
  EXPECT_EQ(EntryCount(dir_.path()), 0u);
}

}  // namespace
}  // namespace norvane
