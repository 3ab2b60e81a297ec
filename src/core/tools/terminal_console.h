// The terminal console's hold on the port: connect, send a typed frame, watch every byte back.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "core/protocol/device_session.h"
#include "core/tools/terminal_frame.h"

namespace norvane {

// Inter-byte delay of every frame the console sends.
inline constexpr int kTerminalByteDelayMs = 5;

struct TerminalSend {
  std::vector<uint8_t> frame;
  std::string echo;  // the last-command field: "%02X " per byte
  int sent = 0;      // SendData's result; -1 when the link refused the length
};

// Replies are never judged: every byte that answers a frame goes to `on_byte`, on the thread
// that sent it. The port is read only for a frame's answer, so an idle console holds no time of
// the line: the answer ends once the counter has been quiet for `kAnswerQuiet`, or at `kAnswerLimit`.
class TerminalConsole {
 public:
  using ByteSink = std::function<void(uint8_t)>;
  static constexpr std::chrono::milliseconds kAnswerQuiet{300};
  static constexpr std::chrono::milliseconds kAnswerLimit{3000};

  TerminalConsole(DeviceSession& session, ByteSink on_byte) : session_(session), on_byte_(std::move(on_byte)) {}

  // Identifies the counter and opens the port afresh. Returns whether the port is open;
  // `port_text` then holds the line settings.
  bool Connect();
  // "Reconnect": the counter is identified again, then as Connect.
  bool Reconnect();
  // Builds and sends a frame and hands its answer over; a refusal of the parameters is shown
  // and nothing is sent.
  TerminalSend Send(std::string_view command, std::string_view parameters, bool text_parameters);
  // "Key1 (S1)" .. "Key4 (S4)".
  TerminalSend PressKey(int key);
  // Hands over whatever else arrives for `length`.
  void Listen(std::chrono::milliseconds length);

  const std::string& port_text() const { return port_text_; }

 private:
  // Hands over what arrives until the counter has been quiet for `quiet` (0: what is there now).
  void TakeAnswer(std::chrono::milliseconds quiet);

  DeviceSession& session_;
  ByteSink on_byte_;
  std::string port_text_;
};

}  // namespace norvane
