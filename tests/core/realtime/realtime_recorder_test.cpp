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

TEST(PollReply, TakingEmptiesTheBufferWhateverItHeld) {
  ReceiveBuffer buffer;
  const std::array<uint8_t, 4> reply{0x00, 0x00, 0x01, 0x05};
  buffer.Append(reply);
  EXPECT_EQ(TakePollReply(buffer), 261u);
  EXPECT_EQ(buffer.position(), 0);
  const std::array<uint8_t, 3> odd{1, 2, 3};
  buffer.Append(odd);
  EXPECT_FALSE(TakePollReply(buffer));
  EXPECT_EQ(buffer.position(), 0);
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

TEST_F(RecorderTest, CpmLagsOneSecondBehindTheNewestCount) {
  RecordedSecond first = recorder_.Record(7u);
  EXPECT_EQ(data_.realtime.at(59), 7u);
  EXPECT_EQ(first.cpm, 0u);
  EXPECT_EQ(first.cpm_text, "CPM:0");
  RecordedSecond second = recorder_.Record(3u);
  EXPECT_EQ(second.cpm, 7u);
  EXPECT_EQ(second.cpm_text, "CPM:7");
  EXPECT_EQ(data_.realtime.total(), 10u);
  // The minute window ends with the newest second.
  EXPECT_EQ(data_.window.values[59], 3u);
  EXPECT_EQ(data_.window.values[58], 7u);
}

TEST_F(RecorderTest, DroppedSecondKeepsTheSlotsAndShowsTheDose) {
  for (int i = 0; i < 60; ++i) recorder_.Record(1u);
  const RecordedSecond dropped = recorder_.Record(std::nullopt);
  EXPECT_FALSE(dropped.recorded);
  EXPECT_EQ(recorder_.recorded_seconds(), 60u);
  EXPECT_EQ(dropped.cpm, 60u);
  EXPECT_EQ(dropped.dose_text, "0.390 uSv/h");
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
  // 12-byte start record and one byte per slot.
  EXPECT_EQ(std::filesystem::file_size(base + ".rbn"), 12u + RealtimeSeries::kCapacity);
  EXPECT_EQ(data_.realtime.count(), RealtimeSeries::kFirstSlot);
  EXPECT_EQ(data_.realtime.total(), 0u);
  EXPECT_TRUE(notifier_.HasStatus("24 hours data auto saved."));
  // Recording goes on into the fresh day.
  recorder_.Record(4u);
  EXPECT_EQ(data_.realtime.at(59), 4u);
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
