#include "core/config/config_transfer.h"

#include "core/common/text_format.h"
#include "core/protocol/command_catalogue.h"
#include "core/protocol/exchange.h"

namespace norvane {
namespace {

using namespace std::chrono_literals;

constexpr int kReadAttempts = 2;
constexpr int kEraseTries = 3;
constexpr int kFailuresPerAddress = 6;
constexpr int kCommitTries = 5;
constexpr int kResetTries = 3;
constexpr int kReadRange = 600;
// Families 0-6 write addresses 0-126 on a bar of 0-255; address 127 is never written.
constexpr int kShortWriteRange = 255;
constexpr size_t kShortWriteBytes = 127;
constexpr std::string_view kNothingToWrite =
    "The configuration holds no data (every byte is 0xFF), so nothing was erased or written.\r\n"
    "Read it from the counter or load a file first.";

std::string Percent(std::string_view lead, double percent) {
  return std::string(lead) + FormatFixed(percent, 0) + "%";
}

bool Acknowledged(DeviceLine& link, const CommandSpec& command, std::span<const uint8_t> arguments, int family) {
  return AcknowledgedExchange(link, command, BuildFrame(command, arguments), family).acknowledged();
}

}  // namespace

int ConfigTransfer::family() const { return port_.session().state().family.load(); }

TransferOutcome ConfigTransfer::Read() {
  if (!port_.taken()) port_.TakeOver();
  progress_.Progress(0, kReadRange, Percent("Reading CFG, please wait...", 0));
  for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
    if (ReadAttempt()) {
      progress_.Progress(kReadRange, kReadRange, "Read CFG completed...100%");
      editor_.Decode(family());
      return TransferOutcome::kDone;
    }
    port_.Reconnect();
  }
  editor_.notifier().Message("Comport error! \r\n Please try again!");
  return TransferOutcome::kEditorClosed;
}

bool ConfigTransfer::ReadAttempt() {
  if (!port_.taken()) port_.TakeOver();
  DeviceLine& link = port_.session().link();
  const int fam = family();
  link.Pause(100ms);
  link.ClearLine();
  link.SendData(BuildFrame(commands::kGetCfg), commands::kGetCfg.delay_ms, fam);
  link.Pause(std::chrono::milliseconds(commands::kGetCfg.settle_ms));

  ConfigBlock& block = editor_.block();
  block.fill(kErased);
  const size_t expected = ExpectedReadBytes(fam);
  size_t received = 0;
  int shown = -1;
  for (;;) {
    const size_t n = link.ReadAvailable(std::span(block).subspan(received, expected - received));
    received += n;
    if (static_cast<int>(received) + 1 != shown) {
      shown = static_cast<int>(received) + 1;
      progress_.Progress(shown, kReadRange,
                         Percent("Reading CFG, please wait...", static_cast<double>(received) * 100 / expected));
    }
    if (received >= expected) return true;
    if (n == 0 && (!link.IsOpen() || !link.WaitForInput(options_.read_silence))) {
      // Part of a block is no block: nothing of it may be decoded or written back.
      block.fill(kErased);
      return false;
    }
  }
}

bool ConfigTransfer::Erase() {
  for (int attempt = 0; attempt < kEraseTries; ++attempt)
    if (Acknowledged(port_.session().link(), commands::kEraseCfg, {}, family())) return true;
  return false;
}

bool ConfigTransfer::WriteByteAt(size_t address, int position, int range, int percent_of) {
  const int fam = family();
  const uint8_t value = editor_.block()[address];
  const bool wide = fam >= 7;
  const std::vector<uint8_t> arguments =
      wide ? std::vector<uint8_t>{static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address & 0xFF), value}
           : std::vector<uint8_t>{static_cast<uint8_t>(address), value};
  const CommandSpec& command = wide ? commands::kWriteCfgLong : commands::kWriteCfgShort;
  for (int failures = 0; failures < kFailuresPerAddress; ++failures) {
    progress_.Progress(position, range,
                       Percent("Updating CFG, please wait...", static_cast<double>(address) * 100 / percent_of));
    if (Acknowledged(port_.session().link(), command, arguments, fam)) return true;
  }
  return false;
}

TransferOutcome ConfigTransfer::Write() {
  const int fam = family();
  // Judged before the encode, which would dress an empty block in the editor's zeros: a block
  // that nothing was read or loaded into would first wipe the counter's configuration.
  if (fam >= 7 && !LastNonBlankAddress(editor_.block())) {
    editor_.notifier().Message(kNothingToWrite);
    return TransferOutcome::kRefused;
  }
  if (!editor_.Encode(fam)) return TransferOutcome::kRefused;
  return fam >= 7 ? WriteLong() : WriteShort();
}

TransferOutcome ConfigTransfer::WriteShort() {
  UserNotifier& notifier = editor_.notifier();
  if (!port_.taken()) port_.TakeOver();
  progress_.Progress(0, kShortWriteRange, Percent("Updating CFG, please wait...", 0));
  TransferOutcome outcome = TransferOutcome::kDone;
  if (!Erase()) {
    notifier.Message("Erase CFG Failed\r\nPlease Try Again.");
    outcome = TransferOutcome::kFailed;
  } else {
    for (size_t a = 0; a < kShortWriteBytes && outcome == TransferOutcome::kDone; ++a) {
      if (!WriteByteAt(a, static_cast<int>(a), kShortWriteRange, static_cast<int>(kShortWriteBytes))) {
        notifier.Message("Write CFG Failed.\r\nPlease Try Again.");
        outcome = TransferOutcome::kFailed;
      }
    }
    // No commit for these families: each byte takes effect as it is written.
    if (outcome == TransferOutcome::kDone) notifier.Message("Write To Device Completed");
  }
  progress_.Hide();
  return outcome;
}

TransferOutcome ConfigTransfer::WriteLong() {
  UserNotifier& notifier = editor_.notifier();
  const std::optional<size_t> last = LastNonBlankAddress(editor_.block());
  if (!last) {
    notifier.Message(kNothingToWrite);
    return TransferOutcome::kRefused;
  }
  if (!port_.taken()) port_.TakeOver();
  const int range = static_cast<int>(*last) + 1;
  progress_.Progress(0, range, Percent("Updating CFG, please wait...", 0));
  TransferOutcome outcome = TransferOutcome::kDone;
  if (!Erase()) {
    notifier.Message("Erase CFG Failed\r\nPlease Try Again.");
    outcome = TransferOutcome::kFailed;
  } else {
    for (size_t a = 0; a <= *last && outcome == TransferOutcome::kDone; ++a) {
      if (!WriteByteAt(a, static_cast<int>(a), range, range)) {
        notifier.Message("Write CFG Failed.\r\nPlease Try Again.");
        outcome = TransferOutcome::kFailed;
      }
    }
  }
  if (outcome == TransferOutcome::kDone) {
    progress_.Progress(range, range, "CFG write completed....100%");
    bool committed = false;
    for (int attempt = 0; attempt < kCommitTries && !committed; ++attempt)
      committed = Acknowledged(port_.session().link(), commands::kCfgUpdate, {}, family());
    if (committed) {
      notifier.Message("Write To Device Successful");
    } else {
      notifier.Message("Update CFG Failed\r\nPlease Try Again.");
      outcome = TransferOutcome::kFailed;
    }
  }
  progress_.Hide();
  return outcome;
}

TransferOutcome ConfigTransfer::FactoryReset() {
  progress_.ResetCaption("Please Wait...");
  if (!port_.taken()) port_.TakeOver();
  TransferOutcome outcome = TransferOutcome::kFailed;
  {
      progress_.Progress(0, kReadRange, "");
    bool acknowledged = false;
    for (int attempt = 0; attempt < kResetTries && !acknowledged; ++attempt)
      acknowledged = Acknowledged(port_.session().link(), commands::kFactoryReset, {}, family());
    if (acknowledged) {
      port_.session().link().Pause(options_.restart_wait);
      outcome = Read();
    } else {
      editor_.notifier().Message("Factory Reset Failed\r\nPlease Try Again.");
    }
  }
  progress_.ResetCaption("*** Factory Reset Device ***");
  progress_.Hide();
  return outcome;
}

}  // namespace norvane
