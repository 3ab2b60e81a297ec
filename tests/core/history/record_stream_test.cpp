#include "core/history/record_stream.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "tests/core/history/image_builder.h"

namespace norvane {
namespace {

using testing::Hex;
using testing::operator+;
using testing::Repeat;
using testing::Stamp;
using testing::View;

// Records every event as one line, like `norvane-cli walk` prints them.
class EventLog : public HistoryEventSink {
 public:
  void OnStamp(size_t offset, const StampTime& t, uint8_t type) override {
    lines.push_back("stamp " + std::to_string(offset) + " " + std::to_string(t.year) + "-" + std::to_string(t.month) +
                    "-" + std::to_string(t.day) + " " + std::to_string(t.hour) + ":" + std::to_string(t.minute) + ":" +
                    std::to_string(t.second) + " " + std::to_string(type));
  }
  void OnNote(size_t offset, std::string_view text) override {
    lines.push_back("note " + std::to_string(offset) + " " + std::string(text));
  }
  void OnSample(size_t offset, uint32_t value) override {
    lines.push_back("sample " + std::to_string(offset) + " " + std::to_string(value));
  }
  std::vector<std::string> lines;
};

std::vector<std::string> Walk(const std::vector<uint8_t>& image) {
  EventLog log;
  HistoryWalk(image.data(), image.size(), log);
  return log.lines;
}

const std::vector<uint8_t> kWorkedExample =
    Hex("55 AA 00 18 01 1F 0C 05 00 55 AA 01  0A 0B 0C  55 AA 02 03 41 42 43  0D  55 AA 01 01 2C") + Repeat(0xFF, 8);

TEST(HistoryWalk, DecodesTheWorkedExample) {
  EXPECT_EQ(Walk(kWorkedExample),
            (std::vector<std::string>{"stamp 0 24-1-31 12:5:0 1", "sample 12 10", "sample 13 11", "sample 14 12",
                                      "note 15 ABC", "sample 22 13", "sample 23 300"}));
}

TEST(NextSample, ReadsTheWorkedExampleSampleBySample) {
  const ImageView image = View(kWorkedExample);
  Sample s = NextSample(image, 0);
  EXPECT_EQ(s.value, 10u);
  EXPECT_EQ(s.next, 13u);  // the stamp and the sample
  EXPECT_EQ(s.save_type, kEverySecond);
  std::vector<uint32_t> values;
  for (size_t pos = s.next; pos < kWorkedExample.size(); pos = s.next) {
    s = NextSample(image, pos);
    values.push_back(s.value);
    EXPECT_EQ(s.save_type, 0);
  }
  values.resize(5);
  EXPECT_EQ(values, (std::vector<uint32_t>{11, 12, 13, 300, 255}));
}

TEST(HistoryWalk, StampTailOfEveryMinuteIsNotANote) {
  // Save type 2 makes the stamp end in 55 AA 02, and the samples after it must not be eaten.
  const auto image = Stamp(24, 3, 1, 10, 0, 0, kEveryMinute) + Hex("05 06 07 08 09");
  EXPECT_EQ(Walk(image), (std::vector<std::string>{"stamp 0 24-3-1 10:0:0 2", "sample 12 5", "sample 13 6",
                                                   "sample 14 7", "sample 15 8", "sample 16 9"}));
  EXPECT_EQ(NextSample(View(image), 0).value, 5u);
  // Started at the second sample, the tail three bytes back must not read as a note of length 5.
  EXPECT_EQ(NextSample(View(image), 13).value, 6u);
  EXPECT_EQ(NextSample(View(image), 13).next, 14u);
}

TEST(NextSample, StartInsideAStampContinuesAfterIt) {
  for (int type = 1; type <= 5; ++type) {
    const auto image = Hex("01 02") + Stamp(24, 1, 2, 3, 4, 5, type) + Hex("2A 2B");
    for (size_t start : {2u + 5u, 2u + 9u, 2u + 1u, 2u + 11u}) {
      SCOPED_TRACE(::testing::Message() << "type " << type << " start " << start);
      const Sample s = NextSample(View(image), start);
      EXPECT_EQ(s.value, 0x2Au);
      EXPECT_EQ(s.next, 15u);
      // Resynchronised: no stamp directly before, except that a save type of 5 reads as a mode mark.
      EXPECT_EQ(s.save_type, start == 2 + 9 && type == 5 ? 5 : 0);
    }
  }
}

TEST(NextSample, CutValueMarkersAndWideValues) {
  // A marker whose payload begins with a new marker is cut short.
  auto image = Hex("55 AA 01 55 AA 01 01 2C 07");
  Sample s = NextSample(View(image), 0);
  EXPECT_EQ(s.value, 300u);
  EXPECT_EQ(s.next, 8u);
  EXPECT_TRUE(s.value_record);

  image = Hex("55 AA 04 12 34 56 78 55 AA 03 01 00 00");
  s = NextSample(View(image), 0);
  EXPECT_EQ(s.value, 0x12345678u);
  EXPECT_EQ(s.next, 7u);
  s = NextSample(View(image), 7);
  EXPECT_EQ(s.value, 65536u);
  EXPECT_EQ(s.next, 13u);

  // A mode mark reports threshold-minute for the sample right after it.
  s = NextSample(View(Hex("55 AA 05 09")), 0);
  EXPECT_EQ(s.value, 9u);
  EXPECT_EQ(s.save_type, kThresholdMinute);
}

TEST(NextSample, InsideANoteSkipsItsText) {
  const auto image = Hex("55 AA 02 03 41 42 43 11 12");
  EXPECT_EQ(NextSample(View(image), 4).value, 0x11u);
  // After an empty note there is no text to skip: the byte is a sample (and the call returns).
  const auto empty = Hex("55 AA 02 00 11 12");
  EXPECT_EQ(NextSample(View(empty), 4).value, 0x11u);
  EXPECT_EQ(NextSample(View(empty), 4).next, 5u);
}

TEST(HistoryWalk, NotesUpToSixteenCharactersAndDamagedOnes) {
  const std::string sixteen = "0123456789ABCDEF";
  auto note16 = Hex("55 AA 02 10");
  note16.insert(note16.end(), sixteen.begin(), sixteen.end());
  auto lines = Walk(Stamp(24, 1, 1, 0, 0, 0, 1) + note16 + Hex("07"));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1], "note 12 " + sixteen);
  EXPECT_EQ(lines[2], "sample 32 7");

  // Length 17 is damage: resume at the next 0x55, which here starts a two-byte value.
  lines = Walk(Stamp(24, 1, 1, 0, 0, 0, 1) + Hex("55 AA 02 11 41 42 55 AA 01 01 00 08"));
  EXPECT_EQ(lines, (std::vector<std::string>{"stamp 0 24-1-1 0:0:0 1", "sample 18 256", "sample 23 8"}));
}

TEST(HistoryWalk, StampFieldsReplaceUpToTheFirstOutOfRange) {
  auto lines = Walk(Stamp(24, 5, 31, 10, 20, 30, 1) + Stamp(25, 6, 0, 1, 2, 3, 1) + Stamp(25, 7, 32, 1, 2, 3, 2));
  EXPECT_EQ(lines, (std::vector<std::string>{"stamp 0 24-5-31 10:20:30 1", "stamp 12 25-6-31 10:20:30 1",
                                             "stamp 24 25-7-31 10:20:30 2"}));
  // An unset clock (all 0xFF) keeps everything, including "no stamp seen yet".
  lines = Walk(Stamp(0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 1) + Hex("01 02 55 AA 01 01 2C"));
  EXPECT_EQ(lines, (std::vector<std::string>{"stamp 0 0-0-0 0:0:0 1", "sample 14 300"}));
}

TEST(HistoryWalk, SamplesBeforeTheFirstStampAndDamagedRecords) {
  const auto image = Hex("01 02 55 AA 07 00 00 00 00 00 00 55 AA 01") +  // before any stamp: passed over
                     Stamp(24, 1, 1, 0, 0, 0, 1) +
                     Hex("55 AA 07 01 02 03 04 05 06 55 AA 01") +  // damaged stamp: skipped whole
                     Hex("55 AA 05 03 FF 55 01");
  const auto lines = Walk(image);
  EXPECT_EQ(lines, (std::vector<std::string>{"stamp 14 24-1-1 0:0:0 1", "sample 41 3", "sample 43 85",
                                             "sample 44 1"}));
}

TEST(FindSaveType, LooksBackForTheNearestStamp) {
  const auto image = Stamp(24, 1, 1, 0, 0, 0, kEveryMinute) + Repeat(7, 700) + Stamp(24, 1, 1, 0, 0, 0, 4) + Hex("01");
  const ImageView view = View(image);
  EXPECT_EQ(FindSaveType(view, 0), kUnknownSaveType);  // the first byte never has one
  EXPECT_EQ(FindSaveType(view, 12), kEveryMinute);
  EXPECT_EQ(FindSaveType(view, 659), kEveryMinute);
  EXPECT_EQ(FindSaveType(view, 660), kUnknownSaveType);  // 660 bytes back is out of reach
  EXPECT_EQ(FindSaveType(view, 712), 4);
  EXPECT_EQ(FindSaveType(view, image.size() + 100), 4);  // beyond the end reads as erased
  EXPECT_EQ(FindSaveType(view, image.size() + 700), kUnknownSaveType);
}

TEST(ClassifyStamp, StampsAndNotes) {
  const auto image = Stamp(24, 1, 1, 0, 0, 0, 1) + Hex("55 AA 02 01 41 55 AA 02 01 42");
  const ImageView view = View(image);
  EXPECT_EQ(ClassifyStamp(view, 0), 1);
  EXPECT_EQ(ClassifyStamp(view, 12), 2);
  EXPECT_EQ(ClassifyStamp(view, 17), 3);
  EXPECT_EQ(ClassifyStamp(view, 1), 0);
}

TEST(AdvanceStamp, CalendarCarries) {
  auto advanced = [](StampTime t, StampUnit unit) {
    AdvanceStamp(t, unit);
    return t;
  };
  EXPECT_EQ(advanced({23, 2, 28, 23, 59, 10}, StampUnit::kMinute), (StampTime{23, 3, 1, 0, 0, 10}));
  EXPECT_EQ(advanced({23, 4, 30, 23, 59, 0}, StampUnit::kMinute), (StampTime{23, 5, 1, 0, 0, 0}));
  EXPECT_EQ(advanced({99, 12, 31, 23, 59, 59}, StampUnit::kSecond), (StampTime{0, 1, 1, 0, 0, 0}));
  EXPECT_EQ(advanced({99, 12, 31, 23, 59, 0}, StampUnit::kMinute), (StampTime{0, 1, 1, 0, 0, 0}));
  EXPECT_EQ(advanced({24, 1, 31, 12, 5, 59}, StampUnit::kSecond), (StampTime{24, 1, 31, 12, 6, 0}));
  // Leap years keep their 29 February.
  EXPECT_EQ(advanced({24, 2, 28, 23, 59, 0}, StampUnit::kMinute), (StampTime{24, 2, 29, 0, 0, 0}));
  EXPECT_EQ(advanced({24, 2, 29, 23, 59, 59}, StampUnit::kSecond), (StampTime{24, 3, 1, 0, 0, 0}));
  EXPECT_EQ(advanced({0, 2, 28, 23, 59, 0}, StampUnit::kMinute), (StampTime{0, 2, 29, 0, 0, 0}));
  // A month the counter should never write still advances without reading outside the table.
  EXPECT_EQ(advanced({24, 0, 31, 23, 59, 0}, StampUnit::kMinute), (StampTime{24, 1, 1, 0, 0, 0}));
}

TEST(RecordStream, HostileImagesNeverReadOutsideOrHang) {
  std::mt19937 rng(7);
  std::vector<std::vector<uint8_t>> images = {Repeat(0x55, 4096), Repeat(0xAA, 4096), Hex("55 AA"), {},
                                              Hex("55 AA 02 00 55 AA 02 00 55 AA 02 00")};
  std::vector<uint8_t> random(8192);
  for (auto& b : random) b = static_cast<uint8_t>(std::uniform_int_distribution<int>(0, 255)(rng));
  // Bias towards marker bytes so records of every kind show up.
  for (size_t i = 0; i + 3 < random.size(); i += 7) {
    random[i] = 0x55;
    random[i + 1] = 0xAA;
    random[i + 2] = static_cast<uint8_t>(i % 7);
  }
  images.push_back(random);
  for (const auto& bytes : images) {
    // A copy of exactly the image size, so the sanitizer sees any read past its end.
    std::vector<uint8_t> exact(bytes);
    const ImageView view = View(exact);
    EventLog log;
    HistoryWalk(exact.data(), exact.size(), log);
    for (size_t pos = 0; pos < exact.size() + 20; ++pos) {
      const Sample s = NextSample(view, pos);
      ASSERT_GT(s.next, pos);
      ASSERT_LE(FindSaveType(view, pos), 255);
      ASSERT_LE(ClassifyStamp(view, pos), 3);
    }
  }
}

}  // namespace
}  // namespace norvane
