#include "sim/history_generator.h"

#include <gtest/gtest.h>

#include <set>

namespace norvane::sim {
namespace {

struct Events {
  std::vector<StampTime> stamps;
  std::set<uint8_t> save_types;
  int notes = 0;
  uint32_t widest = 0;
  void OnStamp(size_t, const StampTime& t, uint8_t type) {
    stamps.push_back(t);
    save_types.insert(type);
  }
  void OnNote(size_t, std::string_view) { ++notes; }
  void OnSample(size_t, uint32_t value) { widest = std::max(widest, value); }
};

int64_t Minutes(const StampTime& t) {
  // Good enough across a few days inside one month or into the next.
  return ((t.month * 31 + t.day) * 24 + t.hour) * 60 + t.minute;
}

TEST(GenerateHistory, SeveralDaysFromTheChosenStartThenErasedFlash) {
  HistoryOptions options;
  options.image_size = 0x100000;
  options.days = 3;
  options.start = StampTime{26, 3, 3, 9, 5, 0};
  options.seed = 5;
  const auto image = GenerateHistory(options);
  Events events;
  HistoryWalk(image.data(), image.size(), events);

  ASSERT_GE(events.stamps.size(), 3u);
  EXPECT_EQ(events.stamps.front(), *options.start);
  const int64_t span = Minutes(events.stamps.back()) - Minutes(events.stamps.front());
  EXPECT_GT(span, 24 * 60);
  EXPECT_LE(span, 3 * 24 * 60);  // no session starts after the third day
  EXPECT_TRUE(events.save_types.contains(1));
  EXPECT_TRUE(events.save_types.contains(2));
  // Three days of data is far from filling a megabyte.
  EXPECT_TRUE(std::all_of(image.begin() + 0x80000, image.end(), [](uint8_t b) { return b == 0xFF; }));
  EXPECT_EQ(image, GenerateHistory(options));
}

TEST(GenerateHistory, NotesAndWideValuesOverLongerRuns) {
  HistoryOptions options;
  options.image_size = 0x40000;
  options.days = 30;
  const auto image = GenerateHistory(options);
  Events events;
  HistoryWalk(image.data(), image.size(), events);
  EXPECT_GT(events.notes, 0);
  EXPECT_GT(events.widest, 255u);
  EXPECT_EQ(image.back(), 0xFF);  // never filled to the last byte
}

}  // namespace
}  // namespace norvane::sim
