#include "core/tools/clock_sync.h"

#include <algorithm>

#include "core/common/text_format.h"
#include "core/protocol/command_catalogue.h"
#include "core/protocol/exchange.h"

namespace norvane {
namespace {

using namespace std::chrono_literals;

constexpr char kSyncedText[] = "Time Synced Successfully!";
constexpr char kFailedText[] = "Time Sync Failed! ";
constexpr char kPeriodicFailedText[] = " Time Sync Failed!  Task rescheduled within 30 seconds.";

}  // namespace

GetClockResult ClockSync::GetClock(const std::string& clock_words) {
  GetClockResult result;
  DeviceState& state = session_.state();
  session_.ConnectAndIdentify(state.current_port);
  if (!GetClockAllowed(state.firmware_version.load(), state.model_text)) {
    result.outcome = GetClockOutcome::kUnsupported;
    return result;
  }
  session_.OpenPort(state.current_port);
  DeviceLine& link = session_.link();
  link.Pause(100ms);

  for (int attempt = 1; attempt <= options_.get_attempts; ++attempt) {
    const int family = state.family.load();
    if (!GetClockRequestAllowed(family, state.firmware_version.load())) {
      result.outcome = GetClockOutcome::kUnsupported;
      return result;
    }
    if (const std::optional<store::ClockReading> reading = AskOnce(family, result.reply)) {
      result.outcome = GetClockOutcome::kRead;
      const auto& r = result.reply;
      session_.notifier().Status(Format("GETDATETIME returned: %02x %02x %02x %02x %02x %02x %02x", r[0], r[1], r[2],
                                        r[3], r[4], r[5], r[6]));
      result.read_at = reading->time;
      result.offset = reading->offset;
      result.text = clock_words + Format(" 20%02d-%02d-%02d %02d:%02d:%02d", r[0], r[1], r[2], r[3], r[4], r[5]);
      Keep(*reading);
      session_.notifier().Message(result.text);
      return result;
    }
    // A closed port will not open by waiting.
    if (!link.IsOpen()) break;
    if (attempt < options_.get_attempts) link.Pause(options_.get_retry_wait);
  }
  result.outcome = GetClockOutcome::kFailed;
  result.text = "GETDATETIME command failed!";
  session_.notifier().Message(result.text);
  return result;
}

SetClockResult ClockSync::SetClock(ClockTrigger trigger) {
  SetClockResult result;
  DeviceState& state = session_.state();
  const bool was_monitoring = realtime_ && realtime_->IsMonitoring();
  if (was_monitoring) realtime_->StopMonitoring();

  session_.OpenPort(state.current_port);
  session_.link().Pause(130ms);

  const LocalTime now = clock_.LocalNow();
  result.sent_time = ClockText(ClockBytes(now));
  session_.link().ClearLine();

  const int family = state.family.load();
  result.variant = ClockVariantFor(family, state.firmware_version.load());
  switch (result.variant) {
    case ClockVariant::kSingleFrame: result.synced = SendSingleFrame(now, family); break;
    case ClockVariant::kPerField: result.synced = SendPerField(now, family); break;
    case ClockVariant::kNone: result.synced = false; break;  // this firmware has no way to set its clock
  }
  Report(trigger, result);
  // The counter now shows the computer's time: a drift is counted afresh from here.
  if (result.synced) Keep({clock_.Now(), 0, true});
  if (was_monitoring) RestartRealtime();
  return result;
}

void ClockSync::ReadAfterDownload() {
  DeviceState& state = session_.state();
  const int family = state.family.load();
  const int version = state.firmware_version.load();
  if (!GetClockOffered(state.model_text) || !GetClockAllowed(version, state.model_text) ||
      !GetClockRequestAllowed(family, version))
    return;
  // What the configuration read left on the line is no part of the clock's reply.
  session_.link().ClearLine();
  std::array<uint8_t, 7> reply{};
  if (const std::optional<store::ClockReading> reading = AskOnce(family, reply)) {
    Keep(*reading);
  } else {
    session_.notifier().Status("The counter's clock could not be read; the download is not affected.");
  }
}

std::optional<store::ClockReading> ClockSync::AskOnce(int family, std::array<uint8_t, 7>& reply) {
  const ExchangeResult exchange = Exchange(session_.link(), commands::kGetDateTime,
                                                 BuildFrame(commands::kGetDateTime), family, reply,
                                                 options_.get_reply_wait);
  // A counter without a date answers zeros, which is no answer either.
  if (exchange.sent <= 0 || std::none_of(reply.begin(), reply.begin() + 5, [](uint8_t b) { return b; }))
    return std::nullopt;
  const int64_t at = clock_.Now();
  const int64_t offset = ClockOffset({reply[0], reply[1], reply[2], reply[3], reply[4], reply[5]}, clock_.ToLocal(at));
  return store::ClockReading{at, offset, false};
}

void ClockSync::Keep(const store::ClockReading& reading) const {
  if (keep_) keep_(reading);
}

bool ClockSync::SendSingleFrame(const LocalTime& t, int family) {
  return AcknowledgedExchange(session_.link(), commands::kSetDateTime, SingleClockFrame(t), family).acknowledged();
}

bool ClockSync::SendPerField(const LocalTime& t, int family) {
  DeviceLine& link = session_.link();
  bool answered = true;
  const CommandSpec* specs[] = {&commands::kSetDateYY, &commands::kSetDateMM, &commands::kSetDateDD,
                                &commands::kSetTimeHH, &commands::kSetTimeMM, &commands::kSetTimeSS};
  const auto frames = PerFieldClockFrames(t);
  for (size_t i = 0; i < frames.size() && answered; ++i) {
    // Older firmware answers each field with a byte of its own choosing: only its absence is a failure.
    const AckResult ack = AcknowledgedExchange(link, *specs[i], frames[i], family, options_.field_reply_wait);
    answered = ack.sent > 0 && ack.reply >= 0;
  }
  // Closes the counter's field editor even after a failure, so it is not left half set.
  link.SendData(BuildFrame(commands::kKey0), commands::kKey0.delay_ms, family);
  link.Pause(std::chrono::milliseconds(commands::kKey0.settle_ms));
  return answered;
}

void ClockSync::Report(ClockTrigger trigger, SetClockResult& result) {
  UserNotifier& notifier = session_.notifier();
  if (trigger == ClockTrigger::kInteractive) {
    result.text = result.synced ? kSyncedText : kFailedText;
    notifier.Message(result.text);
    return;
  }
  result.text = result.sent_time + (result.synced ? std::string(" ") + kSyncedText : kPeriodicFailedText);
  notifier.Status(result.text);
  sync_retry_.store(!result.synced);
}

void ClockSync::RestartRealtime() { realtime_->StartMonitoring(); }

}  // namespace norvane
