#include "core/tools/network_settings.h"

#include "core/config/config_editor.h"
#include "core/common/dose_conversion.h"

namespace norvane {
namespace {

using namespace std::chrono_literals;

constexpr char kUnsupportedText[] = "This model does not support WiFi. ";

// Each frame's own words when it goes unanswered, spacing and stops as the counter's users know
// them.
constexpr std::string_view kNoAnswerText[kNetworkFieldCount] = {
    "Comport error on SETSSID! \r\n Please try again!",
    "Comport error on SETWIFIPW \r\n Please try again!",
    "Comport error on SETWEBSITE.\r\n Please try again!",
    "Comport error on SETURL.\r\n Please try again!",
    "Comport error on SETUSERID. \r\n Please try again!",
    "Comport error on SETCOUNTERID. \r\n Please try again!",
    "Comport error on SETPERIOD.\r\n Please try again!",
};

constexpr int kWriteDelayMs = 2;

}  // namespace

NetworkReadResult NetworkSettings::Read() {
  NetworkReadResult result;
  if (!port_.taken()) port_.TakeOver();
  DeviceState& state = port_.session().state();
  UserNotifier& notifier = port_.session().notifier();
  if (!NetworkReadAllowed(state.firmware_version.load(), state.model_text)) {
    result.outcome = NetworkOutcome::kUnsupported;
    notifier.Message(kUnsupportedText);
    return result;
  }
  if (!ReadBlock()) {
    result.outcome = NetworkOutcome::kReadFailed;
    notifier.Message("Comport error! \r\n Please try again!");
    return result;
  }
  const std::optional<NetworkValues> values = ExtractNetworkValues(state.family.load(), block_);
  if (!values) {
    // A counter that passed the model check but keeps no network values in its block.
    result.outcome = NetworkOutcome::kUnsupported;
    notifier.Message(kUnsupportedText);
    return result;
  }
  result.outcome = NetworkOutcome::kDone;
  result.values = *values;
  return result;
}

bool NetworkSettings::ReadBlock() {
  // The configuration editor's read, into the application's block; nothing is decoded into the
  // editor's fields or the conversion table here.
  ConversionTable unused_conversion;
  ConfigEditor reader(block_, unused_conversion, port_.session().notifier());
  NoProgress progress;
  ConfigTransfer transfer(port_, reader, progress, options_.transfer);
  for (int round = 0; round < options_.read_rounds; ++round) {
    if (transfer.ReadAttempt()) return true;
    port_.Reconnect();
  }
  return false;
}

NetworkWriteResult NetworkSettings::Write(const NetworkValues& values) {
  NetworkWriteResult result;
  DeviceSession& session = port_.session();
  UserNotifier& notifier = session.notifier();
  if (!notifier.Ask("Please confirm you want to overwrite the data.\r\nAre you sure?", "Please confirm")) {
    result.outcome = NetworkOutcome::kDeclined;
    return result;
  }
  if (!port_.taken()) port_.TakeOver();
  const int family = session.state().family.load();
  if (!NetworkWriteAllowed(family, session.state().firmware_version.load())) {
    result.outcome = NetworkOutcome::kUnsupported;
    notifier.Message(kUnsupportedText);
    return result;
  }
  const NetworkFrames built = BuildNetworkFrames(values, family);
  if (!built.refusal.empty()) {
    result.outcome = NetworkOutcome::kRefused;
    notifier.Message(built.refusal);
    return result;
  }

  DeviceLine& link = session.link();
  for (size_t i = 0; i < kNetworkFieldCount; ++i) {
    const auto field = static_cast<NetworkField>(i);
    // Stray bytes must not pass for this frame's answer.
    link.ClearLine();
    const int sent = link.SendData(built.frames[i], kWriteDelayMs, family);
    if (sent < 0) {
      result.outcome = NetworkOutcome::kSendRefused;
      result.stopped_at = field;
      return result;
    }
    if (sent == 0 || !Answered()) {
      result.outcome = NetworkOutcome::kNoAnswer;
      result.stopped_at = field;
      notifier.Message(kNoAnswerText[i]);
      return result;
    }
    ++result.frames_sent;
  }
  result.outcome = NetworkOutcome::kDone;
  notifier.Message("Write to unit completed!");
  return result;
}

bool NetworkSettings::Answered() {
  // Any byte answers the frame: the counters' replies to these commands differ.
  uint8_t byte = 0;
  return port_.session().link().Collect({&byte, 1}, options_.reply_wait) == 1;
}

}  // namespace norvane
