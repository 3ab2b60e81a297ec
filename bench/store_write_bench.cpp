// Disk writes of live recording: seconds appended at 1 Hz in real time through the store's
// writer, measured as the bytes this process caused to be written (write_bytes in /proc/self/io)
// and scaled to a day. The journal is kept in memory as the writer chooses (MemoryJournalFolder),
// or beside the store with --journal-on-disk. --per-second-commits measures a commit per second
// instead, the way the store was written before the journal, for comparison.
//
//   store_write_bench [SECONDS] [--per-second-commits] [--journal-on-disk] [--fold-every=SECONDS]
//
// SECONDS defaults to 600; the figure of a day needs a run several fold intervals long.
// The store is made in $TMPDIR (or /tmp); it must be on a disk, not on a tmpfs, to count.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <thread>

#include "core/common/user_notifier.h"
#include "core/platform/memory_folder.h"
#include "core/store/seconds_writer.h"

namespace norvane {
namespace {

uint64_t WriteBytes() {
  std::ifstream io("/proc/self/io");
  std::string key;
  uint64_t value = 0;
  while (io >> key >> value)
    if (key == "write_bytes:") return value;
  std::fprintf(stderr, "store_write_bench: /proc/self/io has no write_bytes (no task I/O accounting here)\n");
  std::exit(1);
}

class PrintingNotifier : public UserNotifier {
 public:
  void Message(std::string_view text, std::string_view) override { Print(text); }
  void Status(std::string_view line) override { Print(line); }
  bool Ask(std::string_view question, std::string_view) override {
    Print(question);
    return false;
  }

 private:
  static void Print(std::string_view text) { std::fprintf(stderr, "%.*s\n", static_cast<int>(text.size()), text.data()); }
};

}  // namespace
}  // namespace norvane

int main(int argc, char** argv) {
  using namespace norvane;
  using Clock = std::chrono::steady_clock;
  long seconds = 600;  // at least 2
  bool per_second_commits = false;
  std::optional<std::filesystem::path> memory = MemoryJournalFolder();
  std::optional<std::chrono::milliseconds> fold_every;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--per-second-commits") per_second_commits = true;
    else if (arg == "--journal-on-disk") memory.reset();
    else if (arg.starts_with("--fold-every=")) fold_every = std::chrono::seconds(std::atol(arg.c_str() + 13));
    else if (std::atol(arg.c_str()) > 1) seconds = std::atol(arg.c_str());
    else {
      std::fprintf(stderr,
                   "usage: store_write_bench [SECONDS] [--per-second-commits] [--journal-on-disk] "
                   "[--fold-every=SECONDS]\n");
      return 2;
    }
  }
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("norvane-write-bench-" + std::to_string(getpid()));
  const std::filesystem::path path = folder / "store.sqlite";
  const store::CounterInfo counter{"ZQT-400 V4.2", "1", "ZQT-400", "/dev/ttyUSB0", "", "0a1b2c3d", ""};
  std::mt19937 random(7);
  std::poisson_distribution<uint32_t> counts(20.0 / 60.0);
  const int64_t t0 = std::chrono::duration_cast<std::chrono::seconds>(
                         std::chrono::system_clock::now().time_since_epoch()).count();

  PrintingNotifier notifier;
  uint64_t before = 0, after = 0;
  {
    // The store is made first: its making is a one-off, not part of the steady rate.
    store::Store made(path);
    const store::CounterId id = made.RegisterCounter(counter, t0);
    std::unique_ptr<store::SecondsWriter> writer;
    store::SecondsWriter::Handle handle = 0;
    if (!per_second_commits) {
      writer = std::make_unique<store::SecondsWriter>(path, notifier, store::WriterPauses(), fold_every, memory);
      handle = writer->AddCounter(counter, t0);
    }
    // Counted from the first second on: opening the store and beginning the journal are done
    // once a run, not once a second.
    const Clock::time_point start = Clock::now();
    for (long i = 0; i < seconds; ++i) {
      std::this_thread::sleep_until(start + std::chrono::seconds(i));
      const store::Second second{t0 + i, counts(random)};
      if (writer) writer->Append(handle, second.time, second.count);
      else made.AppendSeconds(id, std::span(&second, 1));
      while (i == 0 && writer && writer->health().committed == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      if (i == 0) before = WriteBytes();
    }
    if (writer && !writer->Flush(std::chrono::seconds(30))) std::fprintf(stderr, "store_write_bench: flush timed out\n");
    writer.reset();
    after = WriteBytes();
  }
  std::filesystem::remove_all(folder);
  const double per_second = double(after - before) / double(seconds - 1);
  const auto every = fold_every.value_or(memory ? store::kMemoryFoldEvery : store::kDiskFoldEvery);
  const std::string mode = per_second_commits ? std::string("per-second commits")
                                              : "journal " + (memory ? "in " + memory->string() : std::string("on the disk")) +
                                                    ", folded every " + std::to_string(every.count() / 1000) + " s";
  std::printf("%s, %ld s at 1 Hz: %llu bytes written, %.0f bytes per recorded second, %.1f MB per day\n",
              mode.c_str(), seconds, static_cast<unsigned long long>(after - before), per_second, per_second * 86400 / 1e6);
  return 0;
}
