// The terminal console's hold on the port: connect, send a typed frame, watch every byte back.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <thread>

#include "core/protocol/device_session.h"
#include "core/serial/receive_buffer.h"
#include "core/tools/terminal_frame.h"

namespace norvane {

// Inter-byte delay of every frame the console sends.
inline constexpr int kTerminalByteDelayMs = 5;

struct TerminalSend {
  std::vector<uint8_t> frame;
  std::string echo;  // the last-command field: "%02X " per byte
  int sent = 0;      // SendData's result; -1 when the link refused the length
};

// Replies are never judged: every byte goes to `on_byte`, on the receiving task's thread.
class TerminalConsole {
 public:
  using ByteSink = std::function<void(uint8_t)>;

  TerminalConsole(DeviceSession& session, ReceiveBuffer& buffer, ByteSink on_byte)
      : session_(session), buffer_(buffer), on_byte_(std::move(on_byte)) {}
  ~TerminalConsole() { StopTask(); }
  TerminalConsole(const TerminalConsole&) = delete;
  TerminalConsole& operator=(const TerminalConsole&) = delete;

  // Identifies the counter, opens the port afresh, stops the main reader and starts the
  // receiving task. Returns whether the port is open; `port_text` then holds the line settings.
  bool Connect();
  // "Reconnect": the task stops, the counter is identified again, then as Connect.
  bool Reconnect();
  // Builds and sends a frame; a refusal of the parameters is shown and nothing is sent.
  TerminalSend Send(std::string_view command, std::string_view parameters, bool text_parameters);
  // "Key1 (S1)" .. "Key4 (S4)".
  TerminalSend PressKey(int key);
  // "Exit": the main reader stays stopped until the connect code or monitoring start it.
  void Release();

  const std::string& port_text() const { return port_text_; }
  // Set while a configuration transfer sends; the task leaves the port alone meanwhile.
  void SetPaused(bool paused) { paused_.store(paused); }

 private:
  void StartTask();
  void StopTask();
  void Receive();

  DeviceSession& session_;
  ReceiveBuffer& buffer_;
  ByteSink on_byte_;
  std::string port_text_;
  std::thread task_;
  std::atomic<bool> run_{false};
  std::atomic<bool> paused_{false};
};

}  // namespace norvane
