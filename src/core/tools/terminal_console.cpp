#include "core/tools/terminal_console.h"

#include <thread>

namespace norvane {
namespace {

using namespace std::chrono_literals;

void Sleep(std::chrono::milliseconds ms) { std::this_thread::sleep_for(ms); }

// The task rests this long when the port had nothing, so it never spins a core.
constexpr auto kIdleRest = 1ms;
constexpr size_t kClearedBytes = 1024;

}  // namespace

bool TerminalConsole::Connect() {
  DeviceState& state = session_.state();
  session_.ConnectAndIdentify(state.current_port);
  session_.OpenPortForReader(state.current_port);
  Sleep(100ms);
  buffer_.Reset(kClearedBytes);
  const PortSettings& line = state.last_opened;
  port_text_ = PortSettingsText(line.port, line.baud, line.parity, line.data_bits, line.stop_bits);
  session_.StopReader();
  Sleep(10ms);
  StopTask();
  Sleep(10ms);
  StartTask();
  return session_.link().IsOpen();
}

bool TerminalConsole::Reconnect() {
  StopTask();
  Sleep(10ms);
  session_.ConnectAndIdentify(session_.state().current_port);
  Sleep(100ms);
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
  result.sent = session_.link().SendData(result.frame, kTerminalByteDelayMs, session_.state().family.load());
  return result;
}

TerminalSend TerminalConsole::PressKey(int key) { return Send(KeyButtonCommand(key), {}, false); }

void TerminalConsole::Release() {
  session_.StopReader();
  Sleep(10ms);
  StopTask();
  Sleep(10ms);
}

void TerminalConsole::StartTask() {
  run_.store(true);
  task_ = std::thread(&TerminalConsole::Receive, this);
}

void TerminalConsole::StopTask() {
  run_.store(false);
  if (task_.joinable()) task_.join();
}

void TerminalConsole::Receive() {
  CSerialLink& link = session_.link();
  while (run_.load()) {
    if (paused_.load()) {
      Sleep(kIdleRest);
      continue;
    }
    uint8_t byte = 0;
    if (link.ReadAvailable({&byte, 1}, 1) == 1) {
      if (on_byte_) on_byte_(byte);
      continue;
    }
    Sleep(kIdleRest);
  }
}

}  // namespace norvane
