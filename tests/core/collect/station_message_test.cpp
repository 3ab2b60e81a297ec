#include "core/collect/station_message.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

namespace norvane::collect {
namespace {

constexpr int64_t kNow = 1'780'000'000;

nlohmann::json Honest() {
  return {{"utc", kNow - 5},       {"counts", 7},         {"version", "ZQT-400 V4.2"}, {"model", "ZQT-400"},
          {"family", "1"},         {"serial", "00a1"},    {"device_path", "/dev/serial/by-id/usb-a"}};
}

// Whatever a station or someone with its login sends, only what a counter can measure is taken:
// bounded texts without control characters, counts a counter can count in a second, a second
// that is neither before the counters' time nor ahead of the centre's clock.
TEST(StationMessage, OnlyWhatACounterCanSendIsTaken) {
  const std::string topic = "norvane/s1/zqt_400_1/state";
  const auto parse = [&](const nlohmann::json& body, const std::string& on = "norvane/s1/zqt_400_1/state") {
    return ParseStationMessage("norvane", on, body.dump(), kNow);
  };
  const auto honest = parse(Honest());
  ASSERT_TRUE(std::holds_alternative<StationSecond>(honest));
  EXPECT_EQ(std::get<StationSecond>(honest).second, (store::Second{kNow - 5, 7}));
  // A second sent late comes on the history topic: the same counter's, so the store keeps it once.
  const auto late = parse(Honest(), "norvane/s1/zqt_400_1/history");
  ASSERT_TRUE(std::holds_alternative<StationSecond>(late));
  EXPECT_EQ(std::get<StationSecond>(late).key, std::get<StationSecond>(honest).key);
  EXPECT_EQ(std::get<StationSecond>(late).counter.port, std::get<StationSecond>(honest).counter.port);
  for (const char* level : {"alarm", "quality"})
    EXPECT_TRUE(std::holds_alternative<NotData>(parse(Honest(), std::string("norvane/s1/zqt_400_1/") + level))) << level;
  nlohmann::json edge = Honest();
  edge.update({{"counts", 65535}, {"utc", kNow + 60}});
  EXPECT_TRUE(std::holds_alternative<StationSecond>(parse(edge)));

  const std::pair<const char*, nlohmann::json> hostile[] = {
      {"utc 0", {{"utc", 0}}},
      {"utc in 2199", {{"utc", 7'252'000'000}}},
      {"an hour ahead", {{"utc", kNow + 3600}}},
      {"counts no counter counts", {{"counts", 4'294'967'295u}}},
      {"a version of a megabyte", {{"version", std::string(1 << 20, 'v')}}},
      {"a long serial", {{"serial", std::string(200, 'a')}}},
      {"an escape and a line break", {{"device_path", "/dev/x\x1b[2J\nroot"}}},
      {"a serial that is no text", {{"serial", 12}}},
  };
  for (const auto& [what, change] : hostile) {
    nlohmann::json body = Honest();
    body.update(change);
    EXPECT_TRUE(std::holds_alternative<Rejected>(parse(body))) << what;
  }
  EXPECT_TRUE(std::holds_alternative<Rejected>(
      ParseStationMessage("norvane", topic, Honest().dump() + std::string(kMostMessageBytes, ' '), kNow)));
  EXPECT_TRUE(std::holds_alternative<Rejected>(parse(Honest(), "norvane/s1/\x1b[1m/state")));
}

}  // namespace
}  // namespace norvane::collect
