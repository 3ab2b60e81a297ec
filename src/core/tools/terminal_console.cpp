#include "core/tools/terminal_console.h"

namespace norvane {

using namespace std::chrono_literals;

bool TerminalConsole::Connect() {
  DeviceState& state = session_.state();
  session_.ConnectAndIdentify(state.current_port);
  session_.OpenPort(state.current_port);
  const PortSettings& line = state.last_opened;
  port_text_ = PortSettingsText(line.port, line.baud, line.parity, line.data_bits, line.stop_bits);
  return session_.link().IsOpen();
}

bool TerminalConsole::Reconnect() {
  session_.ConnectAndIdentify(session_.state().current_port);
  session_.link().Pause(100ms);
  return Connect();
}

TerminalSend TerminalConsole::Send(std::string_view command, std::string_view parameters, bool text_parameters) {
  TerminalSend result;
  TerminalFrame frame = BuildTerminalFrame(command, parameters, text_parameters);
  if (!frame.error.empty()) {
    session_.notifier().Message(frame.error);
    return result;
  }
  if (frame.bytes.empty()) return result;
  result.frame = std::move(frame.bytes);
  result.echo = HexEcho(result.frame);
  DeviceLine& line = session_.link();
  // What came while nobody asked is shown before the answer, as it arrived.
  TakeAnswer(0ms);
  result.sent = line.SendData(result.frame, kTerminalByteDelayMs, session_.state().family.load());
  if (result.sent > 0) TakeAnswer(kAnswerQuiet);
  return result;
}

TerminalSend TerminalConsole::PressKey(int key) { return Send(KeyButtonCommand(key), {}, false); }

void TerminalConsole::Listen(std::chrono::milliseconds length) {
  DeviceLine& line = session_.link();
  const auto until = line.clock().Now() + length;
  uint8_t bytes[256];
  while (line.IsOpen()) {
    const int n = line.ReadAvailable(bytes);
    for (int i = 0; i < n; ++i)
      if (on_byte_) on_byte_(bytes[i]);
    const auto now = line.clock().Now();
    if (n > 0 || now >= until) {
      if (now >= until) break;
      continue;
    }
    line.WaitForInput(std::chrono::duration_cast<std::chrono::microseconds>(until - now));
  }
}

void TerminalConsole::TakeAnswer(std::chrono::milliseconds quiet) {
  DeviceLine& line = session_.link();
  auto& clock = line.clock();
  const auto limit = clock.Now() + kAnswerLimit;
  uint8_t bytes[256];
  while (line.IsOpen()) {
    const int n = line.ReadAvailable(bytes);
    for (int i = 0; i < n; ++i)
      if (on_byte_) on_byte_(bytes[i]);
    if (n > 0) continue;
    const auto now = clock.Now();
    if (quiet.count() == 0 || now >= limit ||
        !line.WaitForInput(std::chrono::duration_cast<std::chrono::microseconds>(
            std::min<live::Steady::duration>(quiet, limit - now))))
      break;
  }
}

}  // namespace norvane
