#include "sim/frame_parser.h"

#include <gtest/gtest.h>

#include "core/protocol/command_catalogue.h"
#include "tests/core/history/image_builder.h"
#include "tests/sim/counter_test_bench.h"

namespace norvane::sim {
namespace {

using namespace std::string_view_literals;
using testing::Bytes;
using testing::FrameOf;
using testing::operator+;

std::vector<Frame> Parse(int family, const std::vector<uint8_t>& bytes) {
  FrameParser parser(family);
  std::vector<Frame> frames;
  for (uint8_t b : bytes) parser.Push(b, frames);
  return frames;
}

TEST(FrameParser, BinaryArgumentsMayHoldFrameBytes) {
  // Address 0x3E3C3E and length 0x3E3E: a parser that looked for ">>" would cut the frame short.
  const auto frames = Parse(8, FrameOf(commands::kSpir, std::vector<uint8_t>{0x3E, 0x3C, 0x3E, 0x3E, 0x3E}));
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].kind, CommandKind::kReadFlash);
  EXPECT_EQ(frames[0].arguments, (std::vector<uint8_t>{0x3E, 0x3C, 0x3E, 0x3E, 0x3E}));

  const auto clock = Parse(8, FrameOf(commands::kSetDateTime, std::vector<uint8_t>{62, 62, 60, 62, 62, 62}));
  ASSERT_EQ(clock.size(), 1u);
  EXPECT_EQ(clock[0].arguments.size(), 6u);
}

TEST(FrameParser, WordsThatStartAlikeAreToldApart) {
  const auto frames = Parse(8, FrameOf(commands::kGetScreenshot, Bytes("2")) +
                                   FrameOf(commands::kGetScreenshotInfo, Bytes("3")) +
                                   FrameOf(commands::kSetDateDD, {7}) + FrameOf(commands::kSetDateTime, {26, 3, 7, 9, 5, 4}) +
                                   FrameOf(commands::kSetUrl, Bytes("/log2.asp")) +
                                   FrameOf(commands::kSetUserId, Bytes("42")));
  ASSERT_EQ(frames.size(), 6u);
  EXPECT_EQ(frames[0].kind, CommandKind::kGetScreenshot);
  EXPECT_EQ(frames[0].arguments, Bytes("2"));
  EXPECT_EQ(frames[1].kind, CommandKind::kGetScreenshotInfo);
  EXPECT_EQ(frames[2].kind, CommandKind::kSetClockField);
  EXPECT_EQ(frames[2].index, 2);
  EXPECT_EQ(frames[3].kind, CommandKind::kSetDateTime);
  EXPECT_EQ(frames[4].kind, CommandKind::kSetNetworkText);
  EXPECT_EQ(frames[4].index, 3);
  EXPECT_EQ(frames[4].arguments, Bytes("/log2.asp"));
  EXPECT_EQ(frames[5].index, 4);
}

TEST(FrameParser, ConfigurationWritesFollowTheFamilysAddressWidth) {
  const auto narrow = Parse(6, FrameOf(commands::kWriteCfgShort, {0x3E, 0x3E}));
  ASSERT_EQ(narrow.size(), 1u);
  EXPECT_EQ(narrow[0].arguments, (std::vector<uint8_t>{0x3E, 0x3E}));

  const auto wide = Parse(7, FrameOf(commands::kWriteCfgLong, {0x01, 0xB5, 0x3E}));
  ASSERT_EQ(wide.size(), 1u);
  EXPECT_EQ(wide[0].arguments, (std::vector<uint8_t>{0x01, 0xB5, 0x3E}));

  // The short form sent to a counter that expects the long one is no frame at all.
  EXPECT_TRUE(Parse(8, FrameOf(commands::kWriteCfgShort, {10, 1})).empty());
}

TEST(FrameParser, FamilyZeroHeartbeatEndsWithOneBracket) {
  const auto frames = Parse(0, BuildFamily0HeartbeatFrame() + FrameOf(commands::kGetVer));
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].kind, CommandKind::kHeartbeatOff);
  EXPECT_EQ(frames[1].kind, CommandKind::kGetVersion);
}

TEST(FrameParser, TextFramesRunToTheTerminator) {
  const auto frames = Parse(8, FrameOf(commands::kSetSsid, Bytes("Home <Net> 5")) + FrameOf(commands::kSetWifiPassword));
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].arguments, Bytes("Home <Net> 5"));
  EXPECT_TRUE(frames[1].arguments.empty());
}

TEST(FrameParser, RecoversFromNoiseAndBrokenFrames) {
  // Stray bytes, a frame with a wrong terminator and an unknown word, then good frames.
  const auto frames =
      Parse(8, Bytes("\xFF\x00junk<GETVERxx"sv) + FrameOf(commands::kGetCps) + Bytes("<SPIPW\x01\x02>>") +
                   FrameOf(commands::kGetVer));
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames[0].kind, CommandKind::kGetCounts);
  EXPECT_EQ(frames[1].kind, CommandKind::kUnknown);
  EXPECT_EQ(frames[1].arguments, Bytes("SPIPW\x01\x02"));
  EXPECT_EQ(frames[2].kind, CommandKind::kGetVersion);
}

TEST(FrameParser, UnterminatedTextIsDroppedAtTheLengthLimit) {
  std::vector<uint8_t> bytes = Bytes("<SETSSID") + std::vector<uint8_t>(FrameParser::kMaxFrame, 'a');
  const auto frames = Parse(8, bytes + FrameOf(commands::kGetVer));
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].kind, CommandKind::kGetVersion);
}

TEST(FrameParser, ResetForgetsAPartialFrame) {
  FrameParser parser(8);
  std::vector<Frame> frames;
  for (uint8_t b : Bytes("<SPIR\x00\x00"sv)) parser.Push(b, frames);
  EXPECT_TRUE(parser.InFrame());
  parser.Reset();
  for (uint8_t b : FrameOf(commands::kGetVer)) parser.Push(b, frames);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].kind, CommandKind::kGetVersion);
}

}  // namespace
}  // namespace norvane::sim
