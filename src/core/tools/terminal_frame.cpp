#include "core/tools/terminal_frame.h"

#include <array>

#include "core/common/text_format.h"

namespace norvane {
namespace {

constexpr std::array<std::string_view, 24> kCommandList = {
    "GETVER",    "GETSERIAL", "GETCPM",  "KEY0",       "KEY1",       "KEY2",        "KEY3",      "SPEAKER0",
    "SPEAKER1",  "ALARM0",    "ALARM1",  "GETVOLT",    "GETGYRO",    "GETCFG",      "GETCPS",    "GETTEMP",
    "HEARTBEAT0", "HEARTBEAT1", "GETDATETIME", "CFGUPDATE", "POWEROFF", "POWERON", "SETDATETIME", "FACTORYRESET"};

// Commands without arguments: their box is greyed out and keeps its text.
constexpr std::string_view kNoParameters[] = {
    "GETVER",     "GETCPM",     "KEY0",        "KEY1",      "KEY2",     "KEY3",    "SPEAKER0",     "SPEAKER1",
    "ALARM1",     "ALARM2",     "GETVOLT",     "GETTEMP",   "GETCFG",   "GETGYRO", "HEARTBEAT0",   "HEARTBEAT1",
    "GETDATETIME", "CFGUPDATE", "POWEROFF",    "POWERON",   "FACTORYRESET", "GetRAM", "GETSERIAL"};

struct Example {
  std::string_view command;
  std::string_view parameters;
};
constexpr Example kExamples[] = {
    {"SPIR", "00 00 00 00 FF"}, {"SPIPW", "00 00 00 00 02 55 AA"}, {"SPISE", "00 00 00"},
    {"SETDATETIME", "0D 0B 12 05 04 03"}, {"WCFG", "01 01"}, {"CPMSPKCAL", "0A"},
};

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::span<const std::string_view> TerminalCommandList() { return kCommandList; }

ParameterBox ParameterBoxFor(std::string_view command) {
  for (std::string_view word : kNoParameters)
    if (command == word) return {false, std::nullopt};
  for (const Example& e : kExamples)
    if (command == e.command) return {true, e.parameters};
  return {true, std::string_view{}};
}

std::string_view KeyButtonCommand(int key) {
  constexpr std::string_view kKeys[] = {"KEY0", "KEY1", "KEY2", "KEY3"};
  return key >= 1 && key <= 4 ? kKeys[key - 1] : std::string_view{};
}

TerminalFrame BuildTerminalFrame(std::string_view command, std::string_view parameters, bool text_parameters) {
  TerminalFrame result;
  if (command.size() <= 1) return result;
  if (parameters.size() == 1) {
    result.error = "Parameter error!";
    return result;
  }
  std::vector<uint8_t> frame{'<'};
  frame.insert(frame.end(), command.begin(), command.end());
  if (text_parameters) {
    const size_t end = parameters.find_last_not_of(' ');
    if (end != std::string_view::npos) frame.insert(frame.end(), parameters.begin(), parameters.begin() + end + 1);
  } else {
    const size_t start = parameters.find_first_not_of(' ');
    const std::string_view p = start == std::string_view::npos ? std::string_view{} : parameters.substr(start);
    for (size_t i = 0; i < p.size();) {
      // Half a pair, or a character that is no digit, would otherwise become a made-up byte.
      const int high = HexDigit(p[i]);
      const int low = i + 1 < p.size() ? HexDigit(p[i + 1]) : -1;
      if (high < 0 || low < 0) {
        result.error = "Parameter error!";
        return result;
      }
      i += 2;
      if (i < p.size() && p[i] != ' ') {
        result.error = "Parameter error, space needed in between.";
        return result;
      }
      frame.push_back(static_cast<uint8_t>(high * 16 + low));
      ++i;  // the space
    }
  }
  frame.push_back('>');
  frame.push_back('>');
  result.bytes = std::move(frame);
  return result;
}

std::string HexEcho(std::span<const uint8_t> bytes) {
  std::string text;
  text.reserve(bytes.size() * 3);
  for (uint8_t b : bytes) text += Format("%02X ", b);
  return text;
}

std::string PortSettingsText(int port, int baud, std::string_view parity, int data_bits, int stop_bits) {
  return Format("COM%d,%d,%s,%d,%d", port, baud, std::string(parity).c_str(), data_bits, stop_bits);
}

void ReceiveBox::Append(std::string_view text) {
  // The box counts the characters of its lines, not the line breaks between them.
  size_t added = 0;
  for (char c : text)
    if (c != '\r' && c != '\n') ++added;
  if (held_ > limit_ / 2) {
    text_.assign(text);
    held_ = added;
  } else {
    text_.append(text);
    held_ += added;
  }
}

}  // namespace norvane
