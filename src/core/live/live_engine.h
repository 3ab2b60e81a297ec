// The one live engine under the window, `monitor` and `record`: finds and identifies the counter,
// owns its port, polls it on one beat, takes each reply whole, stamps each answered second once,
// hands it to the store first and then to every other sink, and finds the counter again after
// an unplug.
#pragma once

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/common/dose_conversion.h"
#include "core/protocol/command_catalogue.h"
#include "core/live/count_reply.h"
#include "core/live/live_clock.h"
#include "core/live/live_link.h"
#include "core/live/minute_rate.h"
#include "core/realtime/live_sink.h"
#include "core/store/seconds_writer.h"

namespace norvane::live {

// Syslog's numbers, which journald reads from a "<N>" line start.
enum class Priority { kError = 3, kWarning = 4, kNotice = 5, kInfo = 6 };

// Where the engine's news goes: each event is told once when it starts and once when it ends.
class EngineLog {
 public:
  virtual ~EngineLog() = default;
  virtual void Write(Priority priority, std::string_view text) = 0;
};

struct EngineOptions {
  std::string port;  // the device asked for; empty: whichever port has a counter
  int family = 1;    // the selected model's family: its line rate is tried first
  std::optional<uint64_t> polls;  // stop after this many polls
  // Return instead of searching again when the counter cannot be found or stops answering: a
  // run watched by a person ends with the reason.
  bool end_when_lost = false;
  // Seconds without a byte before the counter counts as not answering, and before the engine
  // lets the port go and looks for the counter afresh.
  int silent_seconds = 5;
  int reconnect_seconds = 20;
  // The wait between two searches for a lost counter doubles from the first to the longest.
  std::chrono::seconds first_retry{1};
  std::chrono::seconds longest_retry{60};
};

struct CounterIdentity {
  std::string version;  // the version reply
  int family = 0;
  std::string model;    // the model list entry the reply names
  std::string serial;   // hex of the "<GETSERIAL>>" reply; empty when the counter gave none
  std::string path;     // where it was found
  std::string stable_path;
};

// The seconds a counter measured in [from, to), as the store holds them: what an earlier run (a
// resume, a restart after a kill) left, which the minute's CPM goes on from.
using RecentSeconds =
    std::function<std::vector<store::Second>(const store::CounterInfo& counter, int64_t from, int64_t to)>;
// Reads them from the store at `path`, as the program whose writer holds its counters by `holder`
// finds them; nothing when the store cannot be read.
RecentSeconds RecentFromStore(std::filesystem::path path, std::string holder);

struct EngineTally {
  uint64_t polled = 0;
  uint64_t measured = 0;
  uint64_t gaps = 0;
};

class LiveEngine {
 public:
  // A second's reply is waited for this long after the request; what is not whole by then is a gap.
  static constexpr std::chrono::milliseconds kReplyWindow{800};
  // Where in the wall clock's second the polls go, away from its edges.
  static constexpr int64_t kPollPhaseMs = 500;

  struct Parts {
    LiveLink& link;
    LiveClock& clock;
    EngineLog& log;
    store::SecondsWriter* writer = nullptr;  // null: no store
    std::vector<LiveSink*> sinks;
    ConversionTable conversion;
    RecentSeconds recent{};  // none: the CPM starts afresh with each connection
  };

  LiveEngine(Parts parts, EngineOptions options);

  // Polls until Stop() or the poll limit; returns with the port closed.
  void Run();
  // From any thread.
  void Stop();
  // Lends the port to a device dialog of the same program: returns once the engine let it go
  // (false when that took longer than `limit`). The seconds until GiveBack() are a gap.
  bool Borrow(std::chrono::milliseconds limit);
  // The same without waiting, for the engine's own thread.
  void RequestBorrow();
  void GiveBack();

  EngineTally tally() const;
  std::optional<CounterIdentity> counter() const;
  LinkState state() const;
  // Why the counter was last not found or lost; empty when it never was.
  std::string last_problem() const;
  // Run ended because the counter was lost (with end_when_lost).
  bool gave_up() const;
  // Run ended at once because another program held the port asked for: the counter is that
  // program's, and searching on would only wait for it to let go.
  bool refused() const;

 private:
  bool Find();
  bool Identify(const std::string& path, bool quick);
  std::optional<std::vector<uint8_t>> AskTwice(const CommandSpec& command, size_t most);
  std::vector<uint8_t> Ask(const std::vector<uint8_t>& frame, int delay_ms, size_t most,
                           std::chrono::milliseconds first_wait);
  void Connected();
  void Poll();
  void DrainUntilQuiet(size_t owed = 0);
  void Measured(int64_t utc, uint32_t count);
  void Gap(int64_t utc, ReplyVerdict verdict, size_t got);
  void Lost(const std::string& reason);
  void SetState(LinkState state, const std::string& detail);
  void Release();
  bool Stopping();
  bool BorrowWanted();
  int64_t Stamp();
  store::CounterInfo Info() const;

  Parts p_;
  const EngineOptions options_;

  mutable std::mutex mutex_;
  std::condition_variable released_cv_;
  bool stop_ = false;
  bool borrow_ = false;
  bool released_ = false;
  bool finished_ = false;
  bool gave_up_ = false;
  bool refused_ = false;

  bool open_ = false;
  bool connected_ = false;
  int baud_ = 0;
  LinkState state_ = LinkState::kStopped;
  bool lost_told_ = false;
  std::optional<CounterIdentity> identity_;
  std::optional<CounterIdentity> found_;  // set by Identify
  std::string search_reason_;
  bool search_busy_ = false;
  std::string last_problem_;
  std::optional<store::SecondsWriter::Handle> handle_;
  CountReplyJudge judge_;
  MinuteRate rate_;
  int silent_ = 0;
  int64_t last_stamp_ = INT64_MIN;
  int64_t held_stamp_ = 0;
  // Bytes a reply that was not whole still owes: its rest, or a whole late reply after a silent
  // second. The next request waits for them.
  size_t owed_ = 0;
  Steady::time_point next_poll_{};
  // Replies that came but could not be taken are one episode, told when it starts and when a
  // minute of whole replies ended it.
  uint64_t gap_run_ = 0;
  int whole_run_ = 0;
  bool clock_back_told_ = false;
  EngineTally tally_;
};

}  // namespace norvane::live
