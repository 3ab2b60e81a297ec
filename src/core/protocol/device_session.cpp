#include "core/protocol/device_session.h"

#include <array>

#include "core/common/text_format.h"
#include "core/history/history_dump.h"
#include "core/protocol/command_catalogue.h"
#include "core/protocol/exchange.h"
#include "core/protocol/model_identification.h"
#include "core/protocol/model_table.h"

namespace norvane {
namespace {

using namespace std::chrono_literals;

constexpr int kRates[] = {110,   300,   1200,  2400,   4800,   9600,   14400, 19200,
                          28800, 38400, 57600, 115200, 230400, 460800, 921600};
constexpr const char* kParities[] = {"n", "e", "o", "m", "s"};

}  // namespace

int OtherLineRate(int baud) { return baud == 115200 ? 57600 : 115200; }

std::optional<PortSettings> MapPortDialogChoice(const PortDialogChoice& c) {
  if (c.data_bits < 0 || c.data_bits > 4 || c.parity < 0 || c.parity > 4 || c.port < 0 || c.port > 63 ||
      c.rate < 0 || c.rate >= static_cast<int>(std::size(kRates)) || c.stop_bits < 0 || c.stop_bits > 1 ||
      c.flow_control < 0 || c.flow_control > 2)
    return std::nullopt;
  PortSettings s;
  s.flow_control = c.flow_control;
  s.data_bits = c.data_bits + 4;
  s.parity = kParities[c.parity];
  s.port = c.port + 1;
  s.baud = kRates[c.rate];
  s.stop_bits = c.stop_bits == 0 ? 1 : 2;
  return s;
}

void DeviceSession::StatusReason() {
  const std::string& reason = p_.line.last_failure();
  if (!reason.empty()) p_.notifier.Status(reason);
}

std::string DeviceSession::RequestVersion() {
  const std::vector<uint8_t> frame = BuildFrame(commands::kGetVer);
  std::array<uint8_t, 64> area{};
  Exchange(p_.line, commands::kGetVer, frame, p_.state.family.load(),
           std::span(area).first(static_cast<size_t>(commands::kGetVer.reply_bytes)));
  std::string reply(reinterpret_cast<const char*>(area.data()));  // ends at the first zero byte
  p_.state.firmware_version.store(FirmwareVersionNumber(reply));
  return reply;
}

void DeviceSession::SelectModelFromList(int index) {
  const std::string_view entry = index >= 0 ? ModelListEntry(static_cast<uint32_t>(index)) : std::string_view{};
  const ModelInfo info = ModelForName(entry);
  p_.state.family.store(info.family);
  p_.state.memory_size = info.image_size;
  p_.state.selected_model = index;
  p_.state.model_text = std::string(entry);
  if (p_.dump) p_.dump->SelectModel(entry);
  if (p_.settings && index >= 0)
    p_.settings->StoreNumber(setting_names::kLastGeigerCounterSelected, static_cast<uint32_t>(index));
}

void DeviceSession::MatchModelInList(std::string_view reply) { p_.state.selected_model = norvane::MatchModelInList(reply); }

void DeviceSession::AdoptModelFoundAt(int baud, std::string_view reply) {
  const int index = norvane::MatchModelInList(reply);
  SelectModelFromList(index);
  p_.notifier.Status(Format("Counter found at %d baud; model %s selected.", baud,
                            std::string(ModelListEntry(static_cast<uint32_t>(index))).c_str()));
}

bool DeviceSession::OpenPort(int port) { return OpenPortAtRate(port, BaudForFamily(p_.state.family.load())); }

bool DeviceSession::OpenPortAtRate(int port, int baud) {
  if (port < 1) return false;
  PortSettings& record = p_.state.port_settings;
  record = PortSettings{0, 8, "n", port, baud, 1};
  p_.line.Close();
  if (!p_.state.demo.load() && !p_.line.Open(record.port, record.baud)) {
    p_.notifier.Message(OpenFailureText(port, p_.line.last_failure()), kOpenFailureCaption);
    p_.state.port_open = false;
    p_.state.current_port = -1;
    p_.notifier.Status(Format("COM%d open error.", port));
    StatusReason();
    return false;
  }
  p_.state.port_open = true;
  p_.state.current_port = port;
  p_.state.last_opened = record;
  p_.notifier.Status(Format("COM%d opened successfully.", port));
  return true;
}

IdentifyResult DeviceSession::ConnectAndIdentify(int port) {
  IdentifyResult result;
  std::string status;
  bool opened = true;
  const int selected_rate = BaudForFamily(p_.state.family.load());
  // A demo has no line whose rate could be wrong.
  const int attempts = kIdentifyAttempts + (p_.state.demo.load() ? 0 : kOtherRateAttempts);
  std::optional<int> found_at_other_rate;
  for (int attempt = 1; attempt <= attempts; ++attempt) {
    const bool other_rate = attempt > kIdentifyAttempts;
    const int rate = other_rate ? OtherLineRate(selected_rate) : selected_rate;
    if (attempt == kIdentifyAttempts + 1)
      p_.notifier.Status(Format("No answer at %d baud; trying %d baud.", selected_rate, rate));
    result.attempts = attempt;
    OpenPortAtRate(port, rate);
    if (p_.state.current_port == -1) {
      p_.state.current_port = port;
      opened = false;
      break;
    }
    p_.line.Pause(50ms);
    result.reply = RequestVersion();
    p_.notifier.Status(result.reply);
    p_.notifier.Status(" ");
    result.family = FamilyFromReply(result.reply);
    if (result.family) {
      // Only a reply that names a counter chooses the model: garbage, or noise heard at a wrong
      // rate, must not switch it.
      if (other_rate) found_at_other_rate = rate;
      else MatchModelInList(result.reply);
      status = Format("%s detected on comport %d.", result.reply.c_str(), port);
      break;
    }
  }
  if (!result.family && opened) {
    status = "Please try again!";
    // Leave the line as the selected model has it, as it was before the other rate was tried.
    if (result.attempts > kIdentifyAttempts) OpenPortAtRate(port, selected_rate);
  }
  if (opened) p_.notifier.Status(status);
  if (found_at_other_rate) AdoptModelFoundAt(*found_at_other_rate, result.reply);
  if (result.family) {
    p_.state.family.store(*result.family);
    p_.state.model_text = result.reply;
  }

  if (p_.settings && p_.state.current_port > 0)
    p_.settings->StoreNumber(setting_names::kComPort, static_cast<uint32_t>(p_.state.current_port));
  result.port_open = p_.line.IsOpen() || (p_.state.demo.load() && p_.state.port_open);
  if (!result.port_open) {
    p_.line.Close();
    p_.state.port_open = false;
    p_.notifier.Status("Comport disconnected and closed");
  }
  return result;
}

std::string DeviceSession::PressConnectButton(std::string_view caption) {
  if (caption.find("Connect") == std::string_view::npos) {
    Disconnect();
    return "Connect";
  }
  SelectModelFromList(p_.state.selected_model);
  // The caption follows the outcome: a port that could not be opened is not connected.
  return ConnectAndIdentify(p_.state.current_port).port_open ? "Disconnect" : "Connect";
}

void DeviceSession::Disconnect() {
  p_.line.Close();
  p_.state.port_open = false;
  p_.notifier.Status("Comport disconnected and closed");
}

bool DeviceSession::ApplyPortSettings(const PortDialogChoice& choice) {
  const std::optional<PortSettings> record = MapPortDialogChoice(choice);
  const auto fail = [this, &choice](std::string_view reason) {
    p_.notifier.Message(OpenFailureText(choice.port + 1, reason), kOpenFailureCaption);
    p_.line.Close();
    p_.state.port_open = false;
    p_.state.current_port = -1;
    if (!reason.empty()) p_.notifier.Status(reason);
    return false;
  };
  if (!record) return fail("The chosen port settings are not in the dialog's lists.");
  p_.state.port_settings = *record;
  if (!p_.state.demo.load() && !p_.line.Open(record->port, record->baud)) return fail(p_.line.last_failure());
  p_.state.port_open = true;
  p_.state.current_port = record->port;
  p_.state.last_opened = *record;
  p_.notifier.Status(Format("COM%d opened successfully.", record->port));
  p_.notifier.Status(RequestVersion());
  return true;
}

}  // namespace norvane
