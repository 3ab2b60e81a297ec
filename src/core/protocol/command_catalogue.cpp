#include "core/protocol/command_catalogue.h"

#include <array>

namespace norvane {

using namespace commands;

std::span<const CommandSpec> CommandCatalogue() {
  static constexpr std::array kAll = {
      kGetVer,     kGetCps,    kHeartbeat0, kHeartbeatFamily0, kSpir,       kGetCfg,          kReadEeprom,
      kEraseCfg,   kWriteCfgShort, kCfgUpdate, kFactoryReset, kGetDateTime, kSetDateTime,  kSetDateYY,
      kSetDateMM,  kSetDateDD, kSetTimeHH,  kSetTimeMM,        kSetTimeSS,  kKey0,            kGetScreenshotInfo,
      kGetScreenshot, kSetSsid, kSetWifiPassword, kSetWebsite, kSetUrl,     kSetUserId,       kSetCounterId,
      kSetPeriod,  kGetSerial};
  return kAll;
}

const CommandSpec* FindCommand(std::string_view word) {
  for (const CommandSpec& c : CommandCatalogue())
    if (c.word == word) return &c;
  return nullptr;
}

std::vector<uint8_t> BuildFrame(const CommandSpec& command, std::span<const uint8_t> arguments) {
  std::vector<uint8_t> frame;
  frame.reserve(1 + command.word.size() + arguments.size() + 2);
  frame.push_back('<');
  frame.insert(frame.end(), command.word.begin(), command.word.end());
  frame.insert(frame.end(), arguments.begin(), arguments.end());
  frame.push_back('>');
  frame.push_back('>');
  return frame;
}

std::vector<uint8_t> BuildTextFrame(const CommandSpec& command, std::string_view text) {
  return BuildFrame(command, {reinterpret_cast<const uint8_t*>(text.data()), text.size()});
}

std::vector<uint8_t> BuildFamily0HeartbeatFrame() {
  std::vector<uint8_t> frame = BuildFrame(kHeartbeatFamily0, std::array<uint8_t, 1>{0x00});
  frame.pop_back();
  return frame;
}

}  // namespace norvane
