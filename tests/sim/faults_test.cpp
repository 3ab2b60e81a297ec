#include "sim/faults.h"

#include <gtest/gtest.h>

namespace norvane::sim {
namespace {

TEST(ParseFault, NamesWithAndWithoutValues) {
  Faults f;
  std::string error;
  for (const char* text : {"silent", "question", "short-counts", "strict-baud", "silent-after=30", "stall",
                           "wrong-ack=0x1B5", "marked-counts=4", "question-burst=20", "no-serial"})
    EXPECT_TRUE(ParseFault(text, f, &error)) << text << ": " << error;
  EXPECT_TRUE(f.silent && f.question && f.short_counts && f.strict_baud && f.no_serial);
  EXPECT_EQ(f.silent_after, std::chrono::seconds(30));
  EXPECT_EQ(f.stall_request, 1);
  EXPECT_EQ(f.wrong_ack_address, 0x1B5);
  EXPECT_EQ(f.marked_counts, 4);
  EXPECT_EQ(f.question_burst, 20);

  EXPECT_TRUE(ParseFault("stall=3", f, &error));
  EXPECT_EQ(f.stall_request, 3);
  EXPECT_TRUE(ParseFault("marked-counts", f, &error));
  EXPECT_EQ(f.marked_counts, 1);

  ASSERT_TRUE(ParseFault("split-counts", f, &error));
  EXPECT_EQ(f.split_counts->delay, std::chrono::milliseconds(300));
  EXPECT_EQ(f.split_counts->every, 1);
  ASSERT_TRUE(ParseFault("split-counts=1200/4", f, &error));
  EXPECT_EQ(f.split_counts->delay, std::chrono::milliseconds(1200));
  EXPECT_EQ(f.split_counts->every, 4);
}

TEST(ParseFault, RefusesWhatItCannotDo) {
  Faults f;
  std::string error;
  for (const char* text : {"noisy", "silent=1", "silent-after", "silent-after=soon", "silent-after=-5",
                           "wrong-ack=4096", "wrong-ack=10x", "stall=0", "marked-counts=0", "question-burst",
                           "question-burst=0", "no-serial=1", "split-counts=0", "split-counts=300/0",
                           "split-counts=300/", "split-counts=/4", ""}) {
    error.clear();
    EXPECT_FALSE(ParseFault(text, f, &error)) << text;
    EXPECT_FALSE(error.empty()) << text;
  }
  EXPECT_FALSE(f.silent);
  EXPECT_FALSE(f.wrong_ack_address);
}

}  // namespace
}  // namespace norvane::sim
