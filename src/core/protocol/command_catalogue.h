// Every command the program sends to a counter: its frame shape, pacing and reply.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace norvane {

// Argument length of a command whose argument is text running up to ">>".
inline constexpr int kTextArgument = -1;
// Reply length of a command whose reply is not read, or varies with the model.
inline constexpr int kNoReply = 0;
inline constexpr int kVariesReply = -1;
inline constexpr uint8_t kAck = 0xAA;

struct CommandSpec {
  std::string_view word;  // between "<" and the arguments, e.g. "GETVER" or "Heartbeat "
  int argument_bytes;     // binary bytes after the word, or kTextArgument
  int delay_ms;           // between the bytes of the frame, also after the last
  int settle_ms;          // before the reply is looked at
  int reply_bytes;        // kAck-only replies are 1
};

// The catalogue in one table. WCFG has two forms: a 1-byte address (families 0-6) and a 2-byte
// address (families 7 and above); the word alone cannot tell them apart, so the frame parser of
// a counter asks for the form it speaks.
namespace commands {
inline constexpr CommandSpec kGetVer{"GETVER", 0, 9, 20, 20};
inline constexpr CommandSpec kGetCps{"GETCPS", 0, 0, 200, 4};
// Raw bytes that tell two counters of one kind apart; counters without one stay silent. The live
// engine reads the reply until the line is quiet, as its length may differ between counters.
inline constexpr CommandSpec kGetSerial{"GETSERIAL", 0, 0, 200, 8};
inline constexpr CommandSpec kHeartbeat0{"HEARTBEAT0", 0, 0, 0, kNoReply};
inline constexpr CommandSpec kHeartbeatFamily0{"Heartbeat ", 1, 0, 0, kNoReply};  // "<Heartbeat " 00 ">"
inline constexpr CommandSpec kSpir{"SPIR", 5, 0, 0, kVariesReply};               // address 3, length 2
inline constexpr CommandSpec kGetCfg{"GETCFG", 0, 5, 100, kVariesReply};         // 255 or 512 bytes read
inline constexpr CommandSpec kReadEeprom{"REEPROM", 0, 0, 400, 256};
inline constexpr CommandSpec kEraseCfg{"ECFG", 0, 5, 100, 1};
inline constexpr CommandSpec kWriteCfgShort{"WCFG", 2, 5, 20, 1};  // address 1 byte, value 1 byte
inline constexpr CommandSpec kWriteCfgLong{"WCFG", 3, 5, 2, 1};    // address 2 bytes, value 1 byte
inline constexpr CommandSpec kCfgUpdate{"CFGUPDATE", 0, 5, 100, 1};
inline constexpr CommandSpec kFactoryReset{"FACTORYRESET", 0, 5, 500, 1};
inline constexpr CommandSpec kGetDateTime{"GETDATETIME", 0, 15, 70, 7};
inline constexpr CommandSpec kSetDateTime{"SETDATETIME", 6, 15, 1200, 1};
inline constexpr CommandSpec kSetDateYY{"SETDATEYY", 1, 0, 0, 1};
inline constexpr CommandSpec kSetDateMM{"SETDATEMM", 1, 0, 0, 1};
inline constexpr CommandSpec kSetDateDD{"SETDATEDD", 1, 0, 0, 1};
inline constexpr CommandSpec kSetTimeHH{"SETTIMEHH", 1, 0, 0, 1};
inline constexpr CommandSpec kSetTimeMM{"SETTIMEMM", 1, 0, 0, 1};
inline constexpr CommandSpec kSetTimeSS{"SETTIMESS", 1, 0, 0, 1};
inline constexpr CommandSpec kKey0{"KEY0", 0, 0, 50, kNoReply};
inline constexpr CommandSpec kGetScreenshotInfo{"GETSSN", 1, 5, 200, 7};  // screen "1"-"4"; 0xAA follows if stored
inline constexpr CommandSpec kGetScreenshot{"GETSS", 1, 0, 500, 1025};
inline constexpr CommandSpec kSetSsid{"SETSSID", kTextArgument, 2, 0, 1};
inline constexpr CommandSpec kSetWifiPassword{"SETWIFIPW", kTextArgument, 2, 0, 1};
inline constexpr CommandSpec kSetWebsite{"SETWEBSITE", kTextArgument, 2, 0, 1};
inline constexpr CommandSpec kSetUrl{"SETURL", kTextArgument, 2, 0, 1};
inline constexpr CommandSpec kSetUserId{"SETUSERID", kTextArgument, 2, 0, 1};
inline constexpr CommandSpec kSetCounterId{"SETCOUNTERID", kTextArgument, 2, 0, 1};
inline constexpr CommandSpec kSetPeriod{"SETPERIOD", 1, 2, 0, 1};
}  // namespace commands

// All of the above, for lookups by word (the 1-byte-address WCFG form stands for both).
std::span<const CommandSpec> CommandCatalogue();
const CommandSpec* FindCommand(std::string_view word);

// "<" + word + arguments + ">>". The family-0 heartbeat is the one frame that ends in a single
// ">", so it has its own builder.
std::vector<uint8_t> BuildFrame(const CommandSpec& command, std::span<const uint8_t> arguments = {});
std::vector<uint8_t> BuildTextFrame(const CommandSpec& command, std::string_view text);
std::vector<uint8_t> BuildFamily0HeartbeatFrame();

}  // namespace norvane
