// Reading the counter's clock and setting it from the computer's local time.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "core/common/clock.h"
#include "core/protocol/device_session.h"
#include "core/store/store_types.h"
#include "core/tools/clock_rules.h"
#include "core/tools/realtime_control.h"

namespace norvane {

enum class ClockTrigger {
  kInteractive,  // "Sync Date Time Now": a message box
  kPeriodic,     // the realtime poll: the main window's status line and the retry flag
};

struct ClockSyncOptions {
  int get_attempts = 10;
  std::chrono::milliseconds get_retry_wait{1000};
  // After the settle time, how long a clock reply may still trickle in.
  std::chrono::milliseconds get_reply_wait{100};
  // The one reply byte of each per-field frame.
  std::chrono::milliseconds field_reply_wait{2000};
};

enum class GetClockOutcome {
  kRead,
  kFailed,       // "GETDATETIME command failed!"
  kUnsupported,  // the firmware has no clock reply; nothing was shown
};

struct GetClockResult {
  GetClockOutcome outcome = GetClockOutcome::kFailed;
  std::array<uint8_t, 7> reply{};
  std::string text;  // what the message box said, empty when nothing was shown
  // Once read: when (UTC by the computer's clock), and how far the counter's clock is ahead of
  // the computer's local time, in seconds.
  int64_t read_at = 0;
  int64_t offset = 0;
};

// The words the clock's message puts before the counter's time, in English.
inline constexpr char kCounterClockWords[] = "Counter clock:";

struct SetClockResult {
  bool synced = false;
  ClockVariant variant = ClockVariant::kNone;
  std::string sent_time;  // "20%02d-%02d-%02d %02d:%02d:%02d" of the local time sent
  std::string text;       // what the user was shown
};

// Hears every reading of the counter's clock, read or set, on the thread that took it; the front
// ends keep them in the long-term store, where the clock's quality rules judge them.
using ClockReadingSink = std::function<void(const store::ClockReading&)>;

// Blocking, with the exact delays; the window runs these on a worker thread. `sync_retry` is the
// application's sync-retry flag; `realtime` may be null where there is no monitoring; `keep` may
// be empty where nothing is kept.
class ClockSync {
 public:
  ClockSync(DeviceSession& session, const Clock& clock, std::atomic<bool>& sync_retry, RealtimeControl* realtime,
            ClockSyncOptions options = {}, ClockReadingSink keep = {})
      : session_(session), clock_(clock), sync_retry_(sync_retry), realtime_(realtime),
        options_(options), keep_(std::move(keep)) {}

  // "Get Time From Unit": identifies the counter again and asks for its clock. The message says
  // `clock_words` and the time; the reply's bytes go to the status log only.
  GetClockResult GetClock(const std::string& clock_words = kCounterClockWords);
  // "Sync Date Time Now" and the periodic sync. The counter's answer decides the report: a
  // counter that cannot be set, or does not confirm, is reported as failed.
  SetClockResult SetClock(ClockTrigger trigger);
  // One request on the open port, after a download, so that a counter that is only ever downloaded
  // still has its clock judged. Nothing is shown: a status line says when the clock could not be
  // read. A counter without a clock reply is not asked.
  void ReadAfterDownload();

 private:
  // Asks for the clock once: the reading, and the reply's bytes, when a date came back.
  std::optional<store::ClockReading> AskOnce(int family, std::array<uint8_t, 7>& reply);
  void Keep(const store::ClockReading& reading) const;
  bool SendSingleFrame(const LocalTime& t, int family);
  bool SendPerField(const LocalTime& t, int family);
  void Report(ClockTrigger trigger, SetClockResult& result);
  void RestartRealtime();

  DeviceSession& session_;
  const Clock& clock_;
  std::atomic<bool>& sync_retry_;
  RealtimeControl* realtime_;
  ClockSyncOptions options_;
  ClockReadingSink keep_;
};

}  // namespace norvane
