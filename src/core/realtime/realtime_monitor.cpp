#include "core/realtime/realtime_monitor.h"

#include "core/protocol/model_identification.h"

#include <thread>

#include "core/protocol/command_catalogue.h"
#include "core/realtime/poll_reply.h"
#include "core/tasks/elapsed_text.h"
#include "core/tools/clock_rules.h"

namespace norvane {

using namespace std::chrono_literals;

RealtimeMonitor::RealtimeMonitor(Parts parts) : p_(std::move(parts)) {
  if (!p_.sleep) p_.sleep = [](std::chrono::milliseconds ms) { std::this_thread::sleep_for(ms); };
}

void RealtimeMonitor::Pause(std::chrono::milliseconds length) { p_.sleep(length); }

bool RealtimeMonitor::OpenAndRestartReader() {
  DeviceState& state = p_.session.state();
  if (state.demo.load()) {
    p_.notifier.Status("DEMO Mode!!!");
    p_.session.StopReader();
    Pause(50ms);
    return p_.session.reader().Start(state.port_settings, state.family.load(), true);
  }
  // Stops the reader, opens the port again at the family's rate and starts the reader on it.
  if (!p_.session.OpenPortForReader(state.current_port)) return false;
  Pause(100ms);
  return p_.session.reader().running();
}

bool RealtimeMonitor::Start() {
  p_.session.state().realtime_active.store(false);
  if (!OpenAndRestartReader()) {
    state_ = MonitorState::kOff;
    return false;
  }
  SetPolling(false);
  state_ = MonitorState::kStarting;
  p_.notifier.Status("Heartbeat started..");
  p_.notifier.Status("Realtime monitoring started.");
  if (p_.store) p_.store->StoreNumber(setting_names::kRealtimeMornitoring, 1);
  p_.recorder.StartSession();
  cpm_ = 0;
  return true;
}

void RealtimeMonitor::StartMonitoring() {
  // A tool hands the port back: confirm the counter again, but carry on the same recording.
  if (!OpenAndRestartReader()) {
    state_ = MonitorState::kOff;
    return;
  }
  SetPolling(false);
  state_ = MonitorState::kStarting;
}

void RealtimeMonitor::Confirm() {
  if (state_ != MonitorState::kStarting) return;
  p_.buffer.Reset();
  // The demonstration has no counter to ask: its "reply" would be whatever the line held.
  if (p_.session.state().demo.load()) {
    p_.notifier.Status("DEMO Mode!!!");
  } else {
    const std::string version = p_.session.RequestVersion();
    // Monitoring resumed at start-up has not identified the counter: its answer here does, so
    // its seconds are not filed under the model's name as if it were another counter.
    if (FamilyFromReply(version)) p_.session.state().model_text = version;
    p_.notifier.Status(version + " connected.");
  }
  SetPolling(true);
}

void RealtimeMonitor::Stop() {
  SetPolling(false);
  state_ = MonitorState::kOff;
  p_.notifier.Status("Heartbeat stopped..");
  if (p_.store) p_.store->StoreNumber(setting_names::kRealtimeMornitoring, 0);
}

void RealtimeMonitor::OnPortError() {
  SetPolling(false);
  state_ = MonitorState::kOff;
}

void RealtimeMonitor::SetPolling(bool on) {
  if (on) state_ = MonitorState::kPolling;
  p_.session.state().realtime_active.store(on);
}

bool RealtimeMonitor::BeginPoll() {
  if (state_ != MonitorState::kPolling) return false;
  ReaderThread& reader = p_.session.reader();
  if (!reader.running() || reader.stopped()) {
    OnPortError();
    return false;
  }
  RealtimeSeries& series = p_.data.realtime;
  series.set_elapsed(series.elapsed() + 1);

  const DeviceState& state = p_.session.state();
  const bool retry = p_.sync_retry && p_.sync_retry->load();
  if (p_.periodic_clock_sync && PeriodicClockSyncDue(state.family.load(), state.firmware_version.load(),
                                                     p_.settings.auto_time_sync_period, retry, series.elapsed())) {
    p_.periodic_clock_sync();
    if (state_ != MonitorState::kPolling) return false;
  }

  // In demo mode the reader's own once-a-second pair is the reply; clearing the buffer here
  // would throw away whichever pair arrived since the last poll.
  if (state.demo.load()) return true;
  p_.buffer.Reset(10);
  const std::vector<uint8_t> frame = BuildFrame(commands::kGetCps);
  p_.session.link().SendData(frame, commands::kGetCps.delay_ms, state.family.load());
  return true;
}

PollOutcome RealtimeMonitor::FinishPoll() {
  PollOutcome outcome;
  outcome.elapsed_text = ElapsedText(p_.data.realtime.elapsed(), p_.dictionary);
  outcome.second = p_.recorder.Record(TakePollReply(p_.buffer));
  cpm_ = outcome.second.cpm;
  return outcome;
}

}  // namespace norvane
