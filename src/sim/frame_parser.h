// Splits the bytes a counter receives into command frames, by each command's argument length.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace norvane::sim {

enum class CommandKind {
  kUnknown,  // a word outside the catalogue, skipped up to ">>"
  kGetVersion,
  kGetCounts,
  kGetSerial,
  kHeartbeatOff,  // both forms
  kReadFlash,
  kGetConfig,
  kReadEeprom,
  kEraseConfig,
  kWriteConfig,
  kUpdateConfig,
  kFactoryReset,
  kGetDateTime,
  kSetDateTime,
  kSetClockField,  // `index`: 0 year, 1 month, 2 day, 3 hour, 4 minute, 5 second
  kKey,            // `index`: key 0-3
  kGetScreenshotInfo,
  kGetScreenshot,
  kSetNetworkText,  // `index`: SSID, password, web site, URL, user ID, counter ID
  kSetPeriod,
};

struct Frame {
  CommandKind kind = CommandKind::kUnknown;
  int index = 0;
  std::string_view word;
  // Binary arguments, or the text of a text frame; for an unknown word all bytes between "<" and
  // ">>".
  std::vector<uint8_t> arguments;
};

class FrameParser {
 public:
  // Families 0-6 send WCFG with a 1-byte address, the others with 2 bytes.
  explicit FrameParser(int family) : long_write_address_(family >= 7) {}

  // Appends the frames completed by `byte` to `out`. Bytes outside a frame are dropped; a frame
  // whose terminator is wrong is dropped and the bytes after its "<" are looked at again.
  void Push(uint8_t byte, std::vector<Frame>& out);
  // Forgets a partly received frame (the sender gave up on it).
  void Reset() { pending_.clear(); }
  bool InFrame() const { return !pending_.empty(); }

  // Longest frame kept while looking for ">>" of a text or unknown frame.
  static constexpr size_t kMaxFrame = 300;

 private:
  enum class Step { kNeedMore, kDone, kBroken };
  Step TryComplete(std::vector<Frame>& out);

  bool long_write_address_;
  std::vector<uint8_t> pending_;  // from the "<" on
};

}  // namespace norvane::sim
