// The terminal console's rules: its command list, its parameter box and the frames it builds.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace norvane {

// The pick list, in its order; any other word may be typed.
std::span<const std::string_view> TerminalCommandList();

// What the parameter box does when the command text changes: disabled boxes keep their text,
// enabled ones take `text` (an example, or empty).
struct ParameterBox {
  bool enabled = true;
  std::optional<std::string_view> text;  // empty: keep what is there
};
ParameterBox ParameterBoxFor(std::string_view command);

// "Key1 (S1)" .. "Key4 (S4)" send "KEY0" .. "KEY3". Empty outside 1-4.
std::string_view KeyButtonCommand(int key);

struct TerminalFrame {
  std::vector<uint8_t> bytes;  // empty when nothing is to be sent
  std::string error;           // the message box text when the parameters are refused
};

// "<" + command + parameters + ">>". A command of one character or none builds nothing; so
// does refused parameter text, which says why. Hexadecimal parameters are pairs of digits
// separated by single spaces ("00 AE F0"); text parameters are sent as typed, less trailing
// spaces.
TerminalFrame BuildTerminalFrame(std::string_view command, std::string_view parameters, bool text_parameters);

// Every byte as "%02X ", as the last-command field and the hexadecimal receive box show them.
std::string HexEcho(std::span<const uint8_t> bytes);

// "COM%d,%d,%s,%d,%d" of the line the port was opened with.
std::string PortSettingsText(int port, int baud, std::string_view parity, int data_bits, int stop_bits);

// One of the two receive boxes. Once it holds more than half its limit, the next text replaces
// everything rather than growing it further.
class ReceiveBox {
 public:
  static constexpr size_t kDefaultLimit = 524287;
  explicit ReceiveBox(size_t limit = kDefaultLimit) : limit_(limit) {}

  void Append(std::string_view text);
  void Clear() {
    text_.clear();
    held_ = 0;
  }
  const std::string& text() const { return text_; }

 private:
  size_t limit_;
  std::string text_;
  size_t held_ = 0;  // characters of the lines, line breaks not counted
};

}  // namespace norvane
