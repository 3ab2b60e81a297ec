// Starting and stopping realtime monitoring over the port, and the once-a-second poll.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "core/i18n/language_dictionary.h"
#include "core/protocol/device_session.h"
#include "core/realtime/realtime_recorder.h"
#include "core/settings/settings_store.h"
#include "core/tools/realtime_control.h"

namespace norvane {

enum class MonitorState {
  kOff,
  kStarting,  // the reader runs; Confirm() is due 500 ms later
  kPolling,
};

struct PollOutcome {
  std::string elapsed_text;  // "%d %s %02d:%02d:%02d"
  RecordedSecond second;
};

class RealtimeMonitor final : public RealtimeControl {
 public:
  static constexpr std::chrono::milliseconds kConfirmDelay{500};
  static constexpr std::chrono::milliseconds kPollSettle{200};

  struct Parts {
    DeviceSession& session;
    ReceiveBuffer& buffer;
    RealtimeRecorder& recorder;
    DataSet& data;
    const Settings& settings;
    const LanguageDictionary& dictionary;
    UserNotifier& notifier;
    SettingsStore* store = nullptr;  // RealtimeMornitoring is written here when given
    // The periodic clock sync; the poll decides when (it may stop and restart monitoring).
    std::function<void()> periodic_clock_sync = {};
    std::atomic<bool>* sync_retry = nullptr;
    // The sleeps around restarting the reader; tests make them short.
    std::function<void(std::chrono::milliseconds)> sleep = {};
  };

  explicit RealtimeMonitor(Parts parts);

  // The "Realtime Monitoring" box ticked: opens the port (or, in demo mode, only the reader),
  // restarts the reader and starts a new recording. False when the port cannot be opened.
  bool Start();
  // Confirms the counter ("<GETVER>>" and " connected.") and switches polling on.
  void Confirm();
  // Unticked: polling off, "Heartbeat stopped..", RealtimeMornitoring 0. The recording stays.
  void Stop();
  // The reader gave up on a silent port: monitoring off (the reader says "Comport Error!"). Call it
  // on the thread that polls; the reader thread must hand it over, not call it.
  void OnPortError();

  // First half of the poll: counts the second, runs a due clock sync and sends "<GETCPS>>".
  // False when there is nothing to wait for (polling off, or the reader stopped, which ends it).
  bool BeginPoll();
  // Second half, kPollSettle later: the elapsed text and the second recorded or dropped.
  PollOutcome FinishPoll();

  MonitorState state() const { return state_; }
  uint32_t cpm() const { return cpm_; }

  // RealtimeControl, for tools that borrow the port: the restart keeps the recording.
  bool IsMonitoring() const override { return state_ != MonitorState::kOff; }
  void StopMonitoring() override { Stop(); }
  void StartMonitoring() override;

 private:
  bool OpenAndRestartReader();
  void SetPolling(bool on);
  void Pause(std::chrono::milliseconds length);

  Parts p_;
  MonitorState state_ = MonitorState::kOff;
  uint32_t cpm_ = 0;
};

}  // namespace norvane
