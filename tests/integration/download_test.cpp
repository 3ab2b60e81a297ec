// History downloads with the real serial link against the simulated counter, and the dump after.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "core/common/clock.h"
#include "core/files/dump_after_download.h"
#include "core/files/dump_file.h"
#include "core/files/file_saver.h"
#include "core/history/download.h"
#include "core/history/download_new.h"
#include "core/protocol/device_session.h"
#include "core/protocol/model_table.h"
#include "sim/pty_transport.h"
#include "tests/common/recording_notifier.h"
#include "tests/common/temp_dir.h"
#include "tests/integration/simulated_line.h"

extern char** environ;

namespace norvane {
namespace {

using namespace std::chrono_literals;
using testing::RecordingNotifier;
using testing::SimulatedLine;
using testing::TempDir;

constexpr char kUnsynchedBox[] =
    "There are some unsynched communication, you may need to restart and reconnect the unit and download again.";

sim::CounterOptions Counter(std::string_view model, sim::Faults faults = {},
                           std::optional<std::vector<uint8_t>> history = std::nullopt, bool pace = false) {
  sim::CounterOptions options = testing::CounterFor(model, faults);
  options.history = std::move(history);
  options.pace = pace;
  return options;
}

struct Request {
  uint32_t address;
  uint32_t length;
};

// The SPIR requests the counter was sent, in order.
std::vector<Request> Requests(const SimulatedLine& line) {
  std::vector<Request> out;
  for (const testing::SeenFrame& f : line.FramesOf(sim::CommandKind::kReadFlash)) {
    const auto& a = f.arguments;
    out.push_back({(uint32_t{a[0]} << 16) | (uint32_t{a[1]} << 8) | a[2], (uint32_t{a[3]} << 8) | a[4]});
  }
  return out;
}

// Calls `on_address` once, from the download thread, when the address first passes `threshold`.
class ProgressTrigger final : public DownloadProgress {
 public:
  explicit ProgressTrigger(uint32_t threshold) : threshold_(threshold) {}
  void DownloadProgressed(uint32_t address, uint32_t) override {
    std::lock_guard lock(mutex_);
    if (address > threshold_ && !passed_) {
      passed_ = true;
      passed_cv_.notify_all();
    }
  }
  bool WaitPassed(std::chrono::seconds limit) {
    std::unique_lock lock(mutex_);
    return passed_cv_.wait_for(lock, limit, [this] { return passed_; });
  }

 private:
  uint32_t threshold_;
  std::mutex mutex_;
  std::condition_variable passed_cv_;
  bool passed_ = false;
};

// The window's side: identification, the download and, on completion, the dump.
struct Program {
  explicit Program(std::chrono::milliseconds stall = kStallSilence, DownloadProgress* progress = nullptr)
      : data(clock.Now()), session({link, notifier, state, &data.dump, nullptr}),
        download({link, state, data.dump, notifier, nullptr, progress}, stall),
        saver(data, dictionary, clock, notifier) {}
  ~Program() {
    download.RequestStop();
    download.Wait();
  }

  bool Connect(const SimulatedLine& line, std::string_view list_entry) {
    const int port = ports.Add(line.path(), "simulated");
    session.SelectModelFromList(ModelListIndex(list_entry));
    return ConnectAndIdentify(port);
  }
  bool ConnectAndIdentify(int port) { return session.ConnectAndIdentify(port).family.has_value(); }

  // As the window does on the completion message: the dump only for a download that completed.
  DownloadReport DownloadAndSave(DownloadOptions options, const std::string& path,
                                 std::string_view type = "binary files (*.bin)") {
    EXPECT_TRUE(download.StartDownload({options, path, std::string(type)}));
    const DownloadReport report = download.Wait();
    if (report.complete()) saved = SaveDumpAfterDownload(link, state, saver, data, type, path, {200ms, 400ms, 10ms});
    return report;
  }

  SystemClock clock;
  DataSet data;
  LanguageDictionary dictionary;
  PortCatalogue ports;
  RecordingNotifier notifier;
  testing::MachineLine machine{ports, notifier};
  DeviceLine& link = machine.line;
  DeviceState state;
  DeviceSession session;
  HistoryDownload download;
  FileSaver saver;
  std::optional<DumpAfterDownload> saved;
};

int Count(const std::vector<std::string>& lines, std::string_view line) {
  return static_cast<int>(std::count(lines.begin(), lines.end(), line));
}

TEST(Download, WholeFlashOfA64KiBCounterIsCopiedByteForByte) {
  SimulatedLine line("ZQT-100");
  ASSERT_TRUE(line.ok());
  TempDir dir;
  Program program;
  ASSERT_TRUE(program.Connect(line, "ZQT-100"));

  const DownloadReport report = program.DownloadAndSave({1, 100}, (dir / "data").string());
  EXPECT_EQ(report.end, DownloadEnd::kImageEnd);
  EXPECT_EQ(report.requests, 64u);
  const auto requests = Requests(line);
  ASSERT_EQ(requests.size(), 64u);
  for (size_t i = 0; i < requests.size(); ++i) {
    EXPECT_EQ(requests[i].address, i * 1024);
    EXPECT_EQ(requests[i].length, 1024u);
  }

  const std::string file = testing::ReadAll(dir / "data.bin");
  const std::vector<uint8_t> flash = line.flash();
  ASSERT_EQ(file.size(), flash.size() + 256);  // family 1 reads 256 bytes with REEPROM
  EXPECT_TRUE(std::equal(flash.begin(), flash.end(), reinterpret_cast<const uint8_t*>(file.data())));
  const std::vector<uint8_t> config = line.config();
  const std::vector<uint8_t> block = PrepareConfigBlock(1, std::span(config).first(256));
  EXPECT_TRUE(std::equal(block.begin(), block.end(), reinterpret_cast<const uint8_t*>(file.data()) + flash.size()));
  EXPECT_TRUE(program.notifier.HasStatus("Data saved into: " + (dir / "data.bin").string()));
  EXPECT_TRUE(program.notifier.HasStatus("Downloading started.."));
  EXPECT_TRUE(program.notifier.HasStatus("Downloading ended."));
  // One line for the download, none per request.
  EXPECT_TRUE(program.notifier.HasStatusContaining("Read " + std::to_string(flash.size()) + " bytes in " +
                                                   std::to_string(flash.size() / 1024) + " requests in "));
  EXPECT_FALSE(program.notifier.HasStatusContaining("3c,53,50,49,52"));
  EXPECT_TRUE(program.notifier.messages().empty());
}

TEST(Download, EndOfDataStopsAtTheFirstErasedBlockBeyond2048AndTheBlockIsBlanked) {
  // 3000 bytes of data, then erased flash, on a family-8 counter with its 512-byte block.
  std::vector<uint8_t> history(3000);
  for (size_t i = 0; i < history.size(); ++i) history[i] = static_cast<uint8_t>(i % 200);
  SimulatedLine line(Counter("ZQT-400", {}, history));
  ASSERT_TRUE(line.ok());
  TempDir dir;
  Program program;
  ASSERT_TRUE(program.Connect(line, "ZQT-400"));

  const DownloadReport report =
      program.DownloadAndSave({0, 100}, (dir / "data").string(), "both files (bin and csv)");
  EXPECT_EQ(report.end, DownloadEnd::kEndOfData);
  EXPECT_EQ(report.requests, 4u);
  EXPECT_GE(report.bytes, 3000u + 1024u);
  EXPECT_LE(report.bytes, 4096u);

  const std::string file = testing::ReadAll(dir / "data.bin");
  ASSERT_EQ(file.size(), 0x100000u + 512);
  EXPECT_TRUE(std::equal(history.begin(), history.end(), reinterpret_cast<const uint8_t*>(file.data())));
  EXPECT_TRUE(std::all_of(file.begin() + 3000, file.begin() + 0x100000, [](char c) { return c == '\xFF'; }));
  const std::vector<uint8_t> config = line.config();
  const auto* block = reinterpret_cast<const uint8_t*>(file.data()) + 0x100000;
  for (size_t i = 0; i < 512; ++i) {
    const bool blanked = i >= 69 && i <= 324;
    ASSERT_EQ(block[i], blanked ? 0xFF : config[i]) << "block offset " << i;
  }
  EXPECT_TRUE(std::filesystem::exists(dir / "data.csv"));
  ASSERT_TRUE(program.saved);
  EXPECT_EQ(program.saved->config.commands, 1);
}

TEST(Download, AStallPartWayThroughAReplyAsksForTheSameRequestAgain) {
  sim::Faults faults;
  faults.stall_request = 3;  // the third reply stops half-way
  SimulatedLine line("ZQT-100", faults);
  ASSERT_TRUE(line.ok());
  TempDir dir;
  Program program;
  ASSERT_TRUE(program.Connect(line, "ZQT-100"));

  const auto started = std::chrono::steady_clock::now();
  const DownloadReport report = program.DownloadAndSave({1, 100}, (dir / "data").string());
  const auto took = std::chrono::steady_clock::now() - started;
  EXPECT_EQ(report.end, DownloadEnd::kImageEnd);
  EXPECT_EQ(report.failures, 1u);
  EXPECT_EQ(Count(program.notifier.status(), "FAIL #0"), 1);
  EXPECT_FALSE(program.notifier.HasStatus("FAIL #1"));

  const auto requests = Requests(line);
  ASSERT_EQ(requests.size(), 65u);
  EXPECT_EQ(requests[2].address, 2048u);
  EXPECT_EQ(requests[3].address, 2048u);  // from where the stalled request began
  EXPECT_EQ(requests[3].length, 1024u);
  EXPECT_EQ(requests[4].address, 3072u);

  const std::string file = testing::ReadAll(dir / "data.bin");
  const std::vector<uint8_t> flash = line.flash();
  ASSERT_GE(file.size(), flash.size());
  EXPECT_TRUE(std::equal(flash.begin(), flash.end(), reinterpret_cast<const uint8_t*>(file.data())));
  // 5000 empty reads each wait for data: without that a stall passes in a few milliseconds.
  EXPECT_GT(took, 500ms);
}

TEST(Download, ACounterOutsideDownloadModeGivesTheUnsynchedMessageAndNoDump) {
  sim::Faults faults;
  faults.question = true;
  SimulatedLine line("ZQT-100", faults);
  ASSERT_TRUE(line.ok());
  TempDir dir;
  Program program;
  ASSERT_TRUE(program.Connect(line, "ZQT-100"));

  const DownloadReport report = program.DownloadAndSave({1, 100}, (dir / "data").string());
  EXPECT_EQ(report.end, DownloadEnd::kUnsynched);
  EXPECT_EQ(report.requests, 1u);  // one reply shows it; the rest would repeat the prompt
  const auto messages = program.notifier.messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].text, kUnsynchedBox);
  EXPECT_TRUE(program.notifier.HasStatus("Downloading ended with error."));
  EXPECT_FALSE(std::filesystem::exists(dir / "data.bin"));
}

TEST(Download, ACounterUnpluggedMidDownloadEndsInFailureWithNothingSaved) {
  SimulatedLine line(Counter("ZQT-400", {}, std::nullopt, /*pace=*/true));
  ASSERT_TRUE(line.ok());
  TempDir dir;
  ProgressTrigger trigger(8192);
  Program program(kStallSilence, &trigger);
  ASSERT_TRUE(program.Connect(line, "ZQT-400"));

  ASSERT_TRUE(program.download.StartDownload({{1, 100}, (dir / "data").string(), "binary files (*.bin)"}));
  ASSERT_TRUE(trigger.WaitPassed(30s));
  line.Unplug();
  const DownloadReport report = program.download.Wait();
  EXPECT_EQ(report.end, DownloadEnd::kPortLost);
  EXPECT_FALSE(report.complete());
  EXPECT_TRUE(program.notifier.HasStatus("FAIL #0"));
  EXPECT_TRUE(program.notifier.HasStatus("Downloading failed."));
  EXPECT_FALSE(program.notifier.HasStatus("Downloading ended."));
  EXPECT_FALSE(std::filesystem::exists(dir / "data.bin"));
  EXPECT_FALSE(program.download.running());
}

TEST(Download, ACounterSilentToTheConfigurationReadStillGetsItsDump) {
  sim::Faults faults;
  faults.deaf_config = true;
  SimulatedLine line("ZQT-100", faults);
  ASSERT_TRUE(line.ok());
  TempDir dir;
  Program program;
  ASSERT_TRUE(program.Connect(line, "ZQT-100"));

  // A short settle: 21 commands at the real 400 ms would take 9 s.
  ASSERT_TRUE(program.download.StartDownload({{1, 100}, (dir / "data").string(), "binary files (*.bin)"}));
  ASSERT_TRUE(program.download.Wait().complete());
  const DumpAfterDownload saved = SaveDumpAfterDownload(program.link, program.state, program.saver, program.data,
                                                        "binary files (*.bin)", (dir / "data").string(),
                                                        {200ms, 20ms, 10ms});
  EXPECT_EQ(saved.config.commands, kConfigReadCommands);
  EXPECT_EQ(saved.config.received, 0);
  EXPECT_TRUE(saved.save.dump.saved());
  const std::string file = testing::ReadAll(dir / "data.bin");
  ASSERT_EQ(file.size(), 0x10000u + 256);
  EXPECT_TRUE(std::all_of(file.end() - 256, file.end(), [](char c) { return c == '\xFF'; }));
}

TEST(Download, AStopRequestEndsTheDownloadWithoutSaving) {
  SimulatedLine line("ZQT-400");
  ASSERT_TRUE(line.ok());
  TempDir dir;
  ProgressTrigger trigger(0);
  Program program(kStallSilence, &trigger);
  ASSERT_TRUE(program.Connect(line, "ZQT-400"));

  bool completion_called = false;
  ASSERT_TRUE(program.download.StartDownload({{1, 0}, (dir / "data").string(), "binary files (*.bin)"},
                                             [&](const DownloadReport&) { completion_called = true; }));
  ASSERT_TRUE(trigger.WaitPassed(10s));
  const auto asked = std::chrono::steady_clock::now();
  program.download.RequestStop();
  const DownloadReport report = program.download.Wait();
  // Speed 0 waits 808 ms per request; a stop must not sit that out.
  EXPECT_LT(std::chrono::steady_clock::now() - asked, 700ms);
  EXPECT_EQ(report.end, DownloadEnd::kStopped);
  EXPECT_TRUE(completion_called);
  EXPECT_TRUE(program.notifier.HasStatus("Downloading cancelled: nothing was saved."));
  EXPECT_FALSE(program.notifier.HasStatus("Downloading ended."));
  EXPECT_LT(report.requests, 3u);
}

// Where the counter's last download ended, the progress counts to just past it, not to the end of
// a flash that is mostly erased.
TEST(Download, ProgressCountsToWhereTheLastDownloadEnded) {
  SimulatedLine line("ZQT-100");
  ASSERT_TRUE(line.ok());
  struct Ends final : DownloadProgress {
    void DownloadProgressed(uint32_t address, uint32_t end) override {
      std::lock_guard lock(mutex);
      if (address > 0) seen.emplace_back(address, end);
    }
    std::mutex mutex;
    std::vector<std::pair<uint32_t, uint32_t>> seen;
  } ends;
  Program program(kStallSilence, &ends);
  ASSERT_TRUE(program.Connect(line, "ZQT-100"));
  const std::vector<uint8_t> flash = line.flash();
  const auto data_end = static_cast<uint32_t>(ImageDataEnd(flash));
  ASSERT_LT(data_end + 2048, flash.size());

  DownloadRequest request{{0, 100}, "noname", "binary files (*.bin)"};
  request.expected_end = data_end;
  ASSERT_TRUE(program.download.StartDownload(request));
  EXPECT_EQ(program.download.Wait().end, DownloadEnd::kEndOfData);
  std::lock_guard lock(ends.mutex);
  ASSERT_FALSE(ends.seen.empty());
  for (const auto& [address, end] : ends.seen) {
    EXPECT_LE(address, end);
    EXPECT_LE(end, data_end + 2048) << address;
  }
}

TEST(Download, MoreThanThirtyStalledRequestsEndWithTheUnsynchedMessages) {
  sim::Faults faults;
  faults.silent_after = std::chrono::seconds(1);
  SimulatedLine line("ZQT-100", faults);
  ASSERT_TRUE(line.ok());
  Program program(20ms);
  ASSERT_TRUE(program.Connect(line, "ZQT-100"));
  std::this_thread::sleep_for(1200ms);  // the counter has gone quiet

  const DownloadReport report = program.DownloadAndSave({1, 100}, "noname");
  EXPECT_EQ(report.end, DownloadEnd::kTooManyFailures);
  EXPECT_EQ(report.failures, 31u);
  const auto status = program.notifier.status();
  EXPECT_TRUE(program.notifier.HasStatus("FAIL #29"));
  EXPECT_FALSE(program.notifier.HasStatus("FAIL #30"));
  const auto ended = std::find(status.begin(), status.end(), "Downloading ended.");
  ASSERT_NE(ended, status.end());
  const std::vector<std::string> expected = {
      "There are some unsynched communication, you may need to reconnect the unit and download again.",
      "Check the unit communication baud rate setting.", "Turn off and disconnect unit, then restart software.",
      "Downloading ended with error."};
  EXPECT_EQ(std::vector<std::string>(ended + 1, status.end()), expected);
  const auto messages = program.notifier.messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].text,
            "There are some unsynched communication. \r\n Check the unit communication baud rate setting. \r\nYou may "
            "need to restart/reconnect the unit and download again.");

  // The next download numbers its failures from 0 again.
  program.DownloadAndSave({1, 100}, "noname");
  EXPECT_EQ(Count(program.notifier.status(), "FAIL #0"), 2);
  EXPECT_FALSE(program.notifier.HasStatus("FAIL #30"));
}

// Waits up to `limit` for the download to end by itself; stops it otherwise, so a download that
// would never end fails the test instead of hanging it.
DownloadReport WaitAtMost(Program& program, std::chrono::seconds limit, bool* ended_by_itself) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (program.download.running() && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(20ms);
  *ended_by_itself = !program.download.running();
  program.download.RequestStop();
  return program.download.Wait();
}

TEST(Download, APromptBurstAnsweringEveryRequestEndsAtTheFirstFailureAsUnsynched) {
  sim::Faults faults;
  faults.question_burst = 20;  // 20 '?' bytes, then nothing, for every request
  SimulatedLine line("ZQT-400", faults);
  ASSERT_TRUE(line.ok());
  TempDir dir;
  Program program;
  ASSERT_TRUE(program.Connect(line, "ZQT-400"));

  const auto started = std::chrono::steady_clock::now();
  ASSERT_TRUE(program.download.StartDownload({{1, 100}, (dir / "data").string(), "binary files (*.bin)"}));
  bool ended = false;
  const DownloadReport report = WaitAtMost(program, 60s, &ended);
  ASSERT_TRUE(ended) << "still downloading after 60 s; last status "
                     << (program.notifier.status().empty() ? "" : program.notifier.status().back());
  EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);
  EXPECT_EQ(report.end, DownloadEnd::kUnsynched);
  EXPECT_EQ(report.requests, 1u);
  EXPECT_EQ(report.bytes, 0u);
  EXPECT_TRUE(program.notifier.HasStatus("FAIL #0"));
  EXPECT_FALSE(program.notifier.HasStatus("FAIL #1"));
  const auto messages = program.notifier.messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].text, kUnsynchedBox);
  EXPECT_TRUE(program.notifier.HasStatus("Downloading ended with error."));
  // The prompt bytes are not left in the image as if they were history.
  EXPECT_TRUE(std::all_of(program.data.dump.buffer().begin(), program.data.dump.buffer().begin() + 1024,
                          [](uint8_t b) { return b == 0xFF; }));
}

TEST(Download, ShortAnswersThatAreNoPromptCountAsFailuresUntilTheDownloadGivesUp) {
  sim::Faults faults;
  faults.question_burst = 10;  // too short to show the prompt pattern: only the failures tell
  SimulatedLine line("ZQT-100", faults);
  ASSERT_TRUE(line.ok());
  Program program(20ms);
  ASSERT_TRUE(program.Connect(line, "ZQT-100"));

  ASSERT_TRUE(program.download.StartDownload({{1, 100}, "noname", "binary files (*.bin)"}));
  bool ended = false;
  const DownloadReport report = WaitAtMost(program, 60s, &ended);
  ASSERT_TRUE(ended) << "still downloading after 60 s with " << report.failures << " failures";
  EXPECT_EQ(report.end, DownloadEnd::kTooManyFailures);
  EXPECT_EQ(report.failures, 31u);
  EXPECT_EQ(report.bytes, 0u);
  EXPECT_TRUE(program.notifier.HasStatus("FAIL #29"));
  EXPECT_FALSE(program.notifier.HasStatus("FAIL #30"));
  // Every request asked for the first block again: nothing of a failed request is kept.
  for (const Request& r : Requests(line)) EXPECT_EQ(r.address, 0u);
}

TEST(Download, AStopEndsADownloadOfShortAnswersAtAnyMoment) {
  sim::Faults faults;
  faults.question_burst = 10;
  SimulatedLine line("ZQT-100", faults);
  ASSERT_TRUE(line.ok());
  Program program;
  ASSERT_TRUE(program.Connect(line, "ZQT-100"));

  // Before the first reply, while empty reads pile up, and while the port is reopened.
  for (const auto moment : {0ms, 300ms, 1100ms, 2300ms}) {
    ASSERT_TRUE(program.download.StartDownload({{1, 100}, "noname", "binary files (*.bin)"}));
    std::this_thread::sleep_for(moment);
    const auto asked = std::chrono::steady_clock::now();
    program.download.RequestStop();
    const DownloadReport report = program.download.Wait();
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 700ms) << "stopped after " << moment.count() << " ms";
    EXPECT_EQ(report.end, DownloadEnd::kStopped) << "stopped after " << moment.count() << " ms";
  }
}

TEST(Download, AFolderThatCannotTakeTheFileIsRefusedBeforeAnyRequest) {
  SimulatedLine line("ZQT-100");
  ASSERT_TRUE(line.ok());
  TempDir dir;
  testing::WriteAll(dir / "plain", "a file, not a folder");
  Program program;
  ASSERT_TRUE(program.Connect(line, "ZQT-100"));
  line.Forget();

  for (const std::string& folder : {(dir / "missing").string(), (dir / "plain").string()}) {
    EXPECT_FALSE(program.download.StartDownload({{1, 100}, folder + "/data", "binary files (*.bin)"}));
    EXPECT_FALSE(program.download.running());
  }
  EXPECT_TRUE(line.Frames().empty());  // refused before the port was touched
  const auto messages = program.notifier.messages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0].text, "The download was not started: cannot write into " + (dir / "missing").string() +
                                  ": No such file or directory. Please choose another folder.");
  EXPECT_EQ(messages[1].text, "The download was not started: cannot write into " + (dir / "plain").string() +
                                  ": Not a directory. Please choose another folder.");
  EXPECT_FALSE(program.notifier.HasStatus("Downloading started.."));
}

// norvane-cli download as a user runs it, in a process of its own, so Ctrl+C is a real signal.
class CliDownload {
 public:
  // `env` lines ("NAME=value") are added to the test's environment.
  CliDownload(const TempDir& dir, const std::string& port, std::vector<std::string> args,
              std::vector<std::string> env = {})
      : err_((dir / "err.txt").string()) {
    std::vector<std::string> all = {NORVANE_CLI_PATH, "--settings", (dir / "settings.reg").string(), "--port", port,
                                    "download"};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    for (char** e = environ; *e; ++e) env.emplace_back(*e);
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~CliDownload() {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }

  bool ok() const { return pid_ > 0; }
  std::string err() const { return testing::ReadAll(err_); }
  // True once stderr holds `text`, waiting up to `limit`.
  bool WaitForErr(std::string_view text, std::chrono::milliseconds limit = 10s) const {
    for (auto end = std::chrono::steady_clock::now() + limit; std::chrono::steady_clock::now() < end;
         std::this_thread::sleep_for(20ms))
      if (err().find(text) != std::string::npos) return true;
    return false;
  }
  void Interrupt() const { kill(pid_, SIGINT); }
  // The exit code, or -1 when a signal ended the process.
  int Wait() {
    int status = 0;
    if (waitpid(pid_, &status, 0) != pid_) return -1;
    exited_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  std::string err_;
  pid_t pid_ = -1;
  bool exited_ = false;
};

TEST(DownloadCommand, CtrlCStopsTheDownloadAndSavesNothing) {
  SimulatedLine line("ZQT-400");
  ASSERT_TRUE(line.ok());
  TempDir dir;
  const std::string out = (dir / "data").string();
  CliDownload cli(dir, line.path(), {out, "--all", "--speed", "0"});
  ASSERT_TRUE(cli.ok());

  // Until the first request is on its way.
  cli.WaitForErr("Downloading started..", 5s);
  cli.Interrupt();
  ASSERT_EQ(cli.Wait(), 1) << "killed by the signal instead of stopping";
  EXPECT_NE(cli.err().find("download stopped: nothing saved"), std::string::npos) << cli.err();
  EXPECT_FALSE(std::filesystem::exists(out + ".bin"));
  // The options were stored as the dialog stores them.
  const std::string stored = testing::ReadAll(dir / "settings.reg");
  EXPECT_NE(stored.find("\"Fast Download\"=dword:00000001"), std::string::npos);
  EXPECT_NE(stored.find("\"Download Speed\"=dword:00000000"), std::string::npos);
  EXPECT_NE(stored.find("\"FileDownloadPath\"=\"" + dir.path().string() + "/\""), std::string::npos);
}

TEST(DownloadCommand, AFolderThatCannotTakeTheFileIsRefusedAtOnce) {
  SimulatedLine line("ZQT-400");
  ASSERT_TRUE(line.ok());
  TempDir dir;
  CliDownload cli(dir, line.path(), {(dir / "missing" / "data").string()});
  ASSERT_TRUE(cli.ok());
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(cli.Wait(), 1);
  EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
  EXPECT_NE(cli.err().find("cannot write into " + (dir / "missing").string() +
                           ": No such file or directory: nothing downloaded"),
            std::string::npos)
      << cli.err();
  EXPECT_TRUE(line.Frames().empty());  // not even identified
}

TEST(DownloadCommand, ADownloadCutShortByALostPortKeepsWhatArrived) {
  SimulatedLine line("ZQT-400");
  ASSERT_TRUE(line.ok());
  const std::vector<uint8_t> flash = line.flash();
  TempDir dir;
  CliDownload cli(dir, line.path(), {(dir / "data").string(), "--all", "--speed", "95"});
  ASSERT_TRUE(cli.ok());
  ASSERT_TRUE(cli.WaitForErr("Downloading started..", 10s)) << cli.err();
  // Some blocks in: 40 ms a request at this speed, 1024 of them in all.
  std::this_thread::sleep_for(1500ms);
  line.Unplug();
  EXPECT_EQ(cli.Wait(), 1);

  const std::string said = cli.err();
  std::vector<std::filesystem::path> kept;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
    if (entry.path().filename().string().starts_with("data.partial-")) kept.push_back(entry.path());
  ASSERT_EQ(kept.size(), 1u) << said;
  const std::string name = kept[0].filename().string();
  const uint32_t bytes = static_cast<uint32_t>(std::stoul(name.substr(13)));
  EXPECT_EQ(name, "data.partial-" + std::to_string(bytes) + ".bin");
  EXPECT_GT(bytes, 0u);
  EXPECT_LT(bytes, 0x100000u);
  EXPECT_EQ(bytes % 1024, 0u);  // whole requests only
  const std::string file = testing::ReadAll(kept[0]);
  ASSERT_EQ(file.size(), bytes);
  EXPECT_TRUE(std::equal(file.begin(), file.end(), flash.begin(),
                         [](char a, uint8_t b) { return static_cast<uint8_t>(a) == b; }));
  EXPECT_NE(said.find("the port was lost during the download: " + std::to_string(bytes) +
                      " of 1048576 bytes arrived, kept in " + kept[0].string()),
            std::string::npos)
      << said;
  EXPECT_FALSE(std::filesystem::exists(dir / "data.bin"));
}

TEST(DownloadCommand, ADumpThatCannotBeWrittenIsKeptInTheTemporaryFolder) {
  SimulatedLine line("ZQT-100");
  ASSERT_TRUE(line.ok());
  TempDir dir;
  // The folder takes files, but the dump's own name is taken by a folder.
  std::filesystem::create_directory(dir / "data.bin");
  std::filesystem::create_directory(dir / "tmp");
  CliDownload cli(dir, line.path(), {(dir / "data").string(), "--all", "--speed", "100"},
                  {"TMPDIR=" + (dir / "tmp").string()});
  ASSERT_TRUE(cli.ok());
  EXPECT_EQ(cli.Wait(), 1);

  const std::filesystem::path kept = dir / "tmp" / "data.unsaved.bin";
  const std::string said = cli.err();
  EXPECT_NE(said.find("cannot write " + (dir / "data.bin").string()), std::string::npos) << said;
  EXPECT_NE(said.find("; the download is kept in " + kept.string()), std::string::npos) << said;
  const std::string file = testing::ReadAll(kept);
  const std::vector<uint8_t> flash = line.flash();
  ASSERT_EQ(file.size(), flash.size() + 256);  // the image and the configuration block
  EXPECT_TRUE(std::equal(flash.begin(), flash.end(), reinterpret_cast<const uint8_t*>(file.data())));
  const std::vector<uint8_t> config = line.config();
  const std::vector<uint8_t> block = PrepareConfigBlock(1, std::span(config).first(256));
  EXPECT_TRUE(std::equal(block.begin(), block.end(), reinterpret_cast<const uint8_t*>(file.data()) + flash.size()));
}

}  // namespace
}  // namespace norvane
