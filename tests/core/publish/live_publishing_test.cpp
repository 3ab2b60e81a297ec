#include "core/publish/live_publishing.h"

#include <gtest/gtest.h>

#include "tests/common/recording_notifier.h"
#include "tests/common/temp_dir.h"
#include "tests/core/publish/mosquitto_broker.h"

namespace norvane::publish {
namespace {

using namespace std::chrono_literals;
using testing::RecordingNotifier;
using testing::TempDir;

TEST(LivePublishingTest, UnusableOptionsAreToldAndTheRestKeepsWorking) {
  TempDir dir;
  RecordingNotifier notifier;
  LivePublishing broken({"htp://broker", "", "homeassistant", 1, "localhost:none", dir / "store.sqlite"}, notifier);
  EXPECT_FALSE(broken.mqtt());
  EXPECT_FALSE(broken.metrics());
  const auto messages = notifier.messages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_NE(messages[0].text.find("\"htp://broker\" is not usable"), std::string::npos) << messages[0].text;
  EXPECT_NE(messages[0].text.find("Logging goes on without MQTT."), std::string::npos);
  EXPECT_NE(messages[1].text.find("\"localhost:none\" is not usable"), std::string::npos) << messages[1].text;
  broken.OnCounter({1, "ZQT-400", "V4.2", "/dev/ttyUSB0"});
  broken.OnSecond({1, "ZQT-400", "V4.2", "/dev/ttyUSB0", 1'780'000'000, 4, 60, 0.39, 60});

  // A refused broker is told, and the metrics endpoint is served regardless.
  RecordingNotifier second;
  const uint16_t nobody = testing::FreePort();
  const uint16_t metrics_port = testing::FreePort();
  LivePublishing half({"mqtt://127.0.0.1:" + std::to_string(nobody), "", "homeassistant", 1,
                       "127.0.0.1:" + std::to_string(metrics_port), dir / "store.sqlite"},
                      second);
  EXPECT_TRUE(half.mqtt());
  EXPECT_TRUE(half.metrics());
  EXPECT_EQ(half.metrics_port(), metrics_port);
  EXPECT_TRUE(testing::Accepts(metrics_port));
  half.OnSecond({1, "ZQT-400", "V4.2", "/dev/ttyUSB0", 1'780'000'000, 4, 60, 0.39, 60});
  for (int i = 0; i < 150 && second.messages().empty(); ++i) std::this_thread::sleep_for(100ms);
  ASSERT_EQ(second.messages().size(), 1u);
  EXPECT_NE(second.messages()[0].text.find("Cannot reach the MQTT broker"), std::string::npos);
}

}  // namespace
}  // namespace norvane::publish
