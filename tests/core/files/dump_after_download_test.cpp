// The configuration read after a download and the dump written from it, against a hand-written
// counter on a pseudo-terminal.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "core/common/clock.h"
#include "core/files/dump_after_download.h"
#include "core/files/dump_file.h"
#include "tests/common/machine_line.h"
#include "tests/common/recording_notifier.h"
#include "tests/common/temp_dir.h"
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
  testing::MachineLine machine{ports, notifier};
  DeviceLine& link = machine.line;
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

// A download in memory: a ZQT-100 image of a pattern, its configuration block after it.
HistoryDump Downloaded() {
  HistoryDump dump;
  dump.SelectModel("ZQT-100");
  const std::vector<uint8_t> bytes = Pattern(0x10000 + 256, 11);
  std::copy(bytes.begin(), bytes.end(), dump.buffer().begin());
  return dump;
}

TEST(KeptDownload, NamesMarkWhatIsKeptAndNeverReplaceAFile) {
  testing::TempDir dir;
  const std::string folder = dir.path().string();
  EXPECT_EQ(KeptDownloadName("/home/me/data.bin", 12288u, folder), folder + "/data.partial-12288.bin");
  EXPECT_EQ(KeptDownloadName("/home/me/data", std::nullopt, folder), folder + "/data.unsaved.bin");
  EXPECT_EQ(KeptDownloadName("noname", 1024u, folder), folder + "/history.partial-1024.bin");
  testing::WriteAll(dir / "data.unsaved.bin", "an earlier one");
  testing::WriteAll(dir / "data.unsaved-2.bin", "and another");
  EXPECT_EQ(KeptDownloadName("/home/me/data.bin", std::nullopt, folder), folder + "/data.unsaved-3.bin");
}

TEST(KeptDownload, APartialDownloadKeepsTheBytesThatArrivedBesideTheChosenFile) {
  testing::TempDir dir, fallback;
  const HistoryDump dump = Downloaded();
  const SaveResult kept = KeepPartialDownload(dump, 5120, (dir / "data.bin").string(), fallback.path().string());
  ASSERT_TRUE(kept.saved()) << kept.error;
  EXPECT_EQ(kept.path, (dir / "data.partial-5120.bin").string());
  const std::string file = testing::ReadAll(kept.path);
  ASSERT_EQ(file.size(), 5120u);
  EXPECT_TRUE(std::equal(file.begin(), file.end(), dump.buffer().begin(),
                         [](char a, uint8_t b) { return static_cast<uint8_t>(a) == b; }));
  EXPECT_EQ(testing::EntryCount(fallback.path()), 0u);

  // Nothing arrived, or nothing was to be written: no file.
  EXPECT_EQ(KeepPartialDownload(dump, 0, (dir / "none").string(), fallback.path().string()).outcome,
            SaveOutcome::kNothingWritten);
  EXPECT_EQ(KeepPartialDownload(dump, 2048, "noname", fallback.path().string()).outcome, SaveOutcome::kNothingWritten);
  EXPECT_EQ(testing::EntryCount(dir.path()), 1u);
}

TEST(KeptDownload, WhereTheChosenFolderFailsTheFallbackFolderTakesTheData) {
  testing::TempDir dir, fallback;
  const HistoryDump dump = Downloaded();
  const std::string gone = (dir / "gone" / "data").string();
  const SaveResult kept = KeepPartialDownload(dump, 2048, gone, fallback.path().string());
  ASSERT_TRUE(kept.saved()) << kept.error;
  EXPECT_EQ(kept.path, (fallback / "data.partial-2048.bin").string());
  EXPECT_EQ(std::filesystem::file_size(kept.path), 2048u);

  // Neither: both reasons are given.
  const SaveResult lost = KeepPartialDownload(dump, 2048, gone, (dir / "also-gone").string());
  EXPECT_EQ(lost.outcome, SaveOutcome::kFileError);
  EXPECT_NE(lost.error.find((dir / "gone").string()), std::string::npos) << lost.error;
  EXPECT_NE(lost.error.find((dir / "also-gone").string()), std::string::npos) << lost.error;
}

TEST(KeptDownload, AnUnsavedDownloadKeepsTheImageAndItsBlock) {
  testing::TempDir fallback;
  const HistoryDump dump = Downloaded();
  const SaveResult kept = KeepUnsavedDownload(dump, "/media/stick/data.bin", fallback.path().string());
  ASSERT_TRUE(kept.saved()) << kept.error;
  EXPECT_EQ(kept.path, (fallback / "data.unsaved.bin").string());
  const std::string file = testing::ReadAll(kept.path);
  ASSERT_EQ(file.size(), 0x10000u + 256u);  // family 1 keeps the 256-byte block
  EXPECT_TRUE(std::equal(file.begin(), file.end(), dump.buffer().begin(),
                         [](char a, uint8_t b) { return static_cast<uint8_t>(a) == b; }));
}

TEST(KeptDownload, TheMessageSaysWhatArrivedWhereItIsAndHowToSaveIt) {
  SaveResult kept{SaveOutcome::kSaved, "/tmp/data.partial-5120.bin", ""};
  EXPECT_EQ(KeptDownloadText(5120, 65536, nullptr, kept),
            "The download ended part-way: 5120 of 65536 bytes arrived. They are shown, and kept in "
            "/tmp/data.partial-5120.bin. Use \"Save History Data As...\" to save the data elsewhere.");
  const SaveResult failed{SaveOutcome::kFileError, "/media/stick/data.bin", "No space left on device"};
  kept.path = "/tmp/data.unsaved.bin";
  EXPECT_EQ(KeptDownloadText(65536, 65536, &failed, kept),
            "The history data could not be saved into /media/stick/data.bin (No space left on device). It is still "
            "shown, and kept in /tmp/data.unsaved.bin. Use \"Save History Data As...\" to save the data elsewhere.");
  const SaveResult lost{SaveOutcome::kFileError, "/tmp/data.unsaved.bin", "Read-only file system"};
  EXPECT_NE(KeptDownloadText(65536, 65536, &failed, lost).find("could not be kept in a file either (Read-only file "
                                                                "system)"),
            std::string::npos);
  EXPECT_EQ(KeptDownloadText(2048, 65536, nullptr, SaveResult{}),
            "The download ended part-way: 2048 of 65536 bytes arrived. They are shown. Use \"Save History Data "
            "As...\" to save the data elsewhere.");
}

}  // namespace
}  // namespace norvane
