// The configuration read after a download and the dump written from it, against a hand-written
// counter on a pseudo-terminal.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "core/common/clock.h"
#include "core/files/dump_after_download.h"
#include "core/files/dump_file.h"
#include "tests/common/recording_notifier.h"
#include "tests/core/serial/pty_pair.h"
#include "tests/core/serial/scripted_counter.h"

namespace norvane {
namespace {

using namespace std::chrono_literals;
using testing::PtyPair;
using testing::RecordingNotifier;
using testing::ScriptedCounter;

std::vector<uint8_t> Pattern(size_t n, uint8_t seed) {
  std::vector<uint8_t> bytes(n);
  for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 7);
  return bytes;
}

class ConfigReadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty.ok());
    port = ports.Add(pty.path(), "test");
    ASSERT_TRUE(link.Open(port, 115200));
  }

  PtyPair pty;
  PortCatalogue ports;
  RecordingNotifier notifier;
  CSerialLink link{ports, notifier};
  int port = 0;
};

TEST_F(ConfigReadTest, ExtendedFamiliesReadTheir512BytesWithGetcfg) {
  const std::vector<uint8_t> config = Pattern(512, 3);
  ScriptedCounter counter(pty, [&](const std::string& frame) {
    return frame == "<GETCFG>>" ? config : std::vector<uint8_t>{};
  });
  const ConfigRead read = ReadConfigAfterDownload(link, 8, {0ms, 20ms, 10ms});
  EXPECT_TRUE(read.complete());
  EXPECT_EQ(read.commands, 1);
  EXPECT_EQ(read.block, config);
  EXPECT_EQ(counter.frames(), std::vector<std::string>{"<GETCFG>>"});
}

TEST_F(ConfigReadTest, ASilentCounterGets21CommandsAndAnErasedBlock) {
  ScriptedCounter counter(pty, [](const std::string&) { return std::vector<uint8_t>{}; });
  const ConfigRead read = ReadConfigAfterDownload(link, 4, {0ms, 5ms, 5ms});
  EXPECT_EQ(read.commands, kConfigReadCommands);
  EXPECT_EQ(read.received, 0);
  EXPECT_EQ(read.block, std::vector<uint8_t>(256, 0xFF));
  EXPECT_EQ(counter.frames(), std::vector<std::string>(kConfigReadCommands, "<REEPROM>>"));
}

TEST_F(ConfigReadTest, AShorterLaterReplyDoesNotReplaceAFullerOne) {
  const std::vector<uint8_t> first = Pattern(300, 1), second = Pattern(100, 90);
  std::atomic<int> asked{0};
  ScriptedCounter counter(pty, [&](const std::string&) {
    const int n = ++asked;
    return n == 1 ? first : n == 2 ? second : std::vector<uint8_t>{};
  });
  const ConfigRead read = ReadConfigAfterDownload(link, 5, {0ms, 5ms, 5ms});
  EXPECT_EQ(read.commands, kConfigReadCommands);
  EXPECT_EQ(read.received, 300);
  ASSERT_EQ(read.block.size(), 512u);
  EXPECT_TRUE(std::equal(first.begin(), first.end(), read.block.begin()));
  EXPECT_TRUE(std::all_of(read.block.begin() + 300, read.block.end(), [](uint8_t b) { return b == 0xFF; }));
}

TEST_F(ConfigReadTest, AReplyThatPausesIsCollectedWithoutAskingAgain) {
  // Half the block, then a pause shorter than the silence, then the rest.
  const std::vector<uint8_t> config = Pattern(256, 5);
  std::atomic<bool> frame_seen{false};
  ScriptedCounter counter(pty, [&](const std::string&) {
    frame_seen = true;
    return std::vector<uint8_t>(config.begin(), config.begin() + 128);
  });
  std::thread rest([&] {
    while (!frame_seen) std::this_thread::sleep_for(1ms);
    std::this_thread::sleep_for(60ms);
    pty.Write({config.begin() + 128, config.end()});
  });
  const ConfigRead read = ReadConfigAfterDownload(link, 1, {0ms, 20ms, 100ms});
  rest.join();
  EXPECT_EQ(read.commands, 1);
  EXPECT_EQ(read.block, config);
}

TEST_F(ConfigReadTest, TheFamily0HeartbeatFormGoesFirstAndNonameWritesNothing) {
  const std::vector<uint8_t> config = Pattern(256, 9);
  std::string heard;
  std::mutex heard_mutex;
  std::atomic<bool> stop{false};
  // Everything the link sends, as it arrives; the counter answers REEPROM by hand.
  std::thread listener([&] {
    while (!stop) {
      const std::vector<uint8_t> got = pty.Read(1, 5ms);
      if (got.empty()) continue;
      std::lock_guard lock(heard_mutex);
      heard.push_back(static_cast<char>(got[0]));
      if (heard.ends_with("<REEPROM>>")) pty.Write(config);
    }
  });
  SystemClock clock;
  DataSet data(clock.Now());
  data.dump.SelectModel("ZQT-100");
  LanguageDictionary dictionary;
  FileSaver saver(data, dictionary, clock, notifier);
  DeviceState state;
  state.family = 0;
  const DumpAfterDownload done =
      SaveDumpAfterDownload(link, state, saver, data, "binary files (*.bin)", "noname", {5ms, 20ms, 10ms});
  stop = true;
  listener.join();

  EXPECT_EQ(heard, std::string("<Heartbeat \0>", 13) + "<REEPROM>>");
  EXPECT_TRUE(done.config.complete());
  EXPECT_FALSE(done.save.dump.saved());
  EXPECT_FALSE(std::filesystem::exists("noname.bin"));
  // The block still follows the image in memory.
  EXPECT_TRUE(std::equal(config.begin(), config.end(), data.dump.buffer().begin() + 0x10000));
}

}  // namespace
}  // namespace norvane
