#include "core/protocol/command_catalogue.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace norvane {
namespace {

std::string AsText(const std::vector<uint8_t>& frame) { return std::string(frame.begin(), frame.end()); }

TEST(CommandCatalogue, FramesHaveTheCatalogueLengths) {
  using namespace commands;
  EXPECT_EQ(AsText(BuildFrame(kGetVer)), "<GETVER>>");
  EXPECT_EQ(BuildFrame(kHeartbeat0).size(), 13u);
  EXPECT_EQ(AsText(BuildFamily0HeartbeatFrame()), std::string("<Heartbeat \0>", 13));
  const std::array<uint8_t, 5> spir = {0x01, 0x02, 0x03, 0x04, 0x00};
  const auto frame = BuildFrame(kSpir, spir);
  EXPECT_EQ(frame.size(), 12u);
  EXPECT_EQ(frame[5], 0x01);
  EXPECT_EQ(frame[9], 0x00);
  EXPECT_EQ(BuildFrame(kSetDateTime, std::array<uint8_t, 6>{}).size(), 20u);
  EXPECT_EQ(BuildFrame(kWriteCfgShort, std::array<uint8_t, 2>{}).size(), 9u);
  EXPECT_EQ(BuildFrame(kWriteCfgLong, std::array<uint8_t, 3>{}).size(), 10u);
  EXPECT_EQ(BuildFrame(kSetDateYY, std::array<uint8_t, 1>{}).size(), 13u);
  EXPECT_EQ(BuildFrame(kSetPeriod, std::array<uint8_t, 1>{}).size(), 13u);
  EXPECT_EQ(AsText(BuildTextFrame(kSetSsid, "home>net")), "<SETSSIDhome>net>>");
}

TEST(CommandCatalogue, EveryWordIsFoundByName) {
  for (const CommandSpec& c : CommandCatalogue()) {
    const CommandSpec* found = FindCommand(c.word);
    ASSERT_NE(found, nullptr) << c.word;
    EXPECT_EQ(found->argument_bytes, c.argument_bytes);
  }
  EXPECT_EQ(FindCommand("NOPE"), nullptr);
}

}  // namespace
}  // namespace norvane
