#include "sim/frame_parser.h"

#include <array>

#include "core/protocol/command_catalogue.h"

namespace norvane::sim {
namespace {

using namespace norvane::commands;

struct Word {
  std::string_view word;
  int argument_bytes;  // or kTextArgument
  CommandKind kind;
  int index = 0;
};

// Keys 1-3 are the counter's other buttons; only KEY0 is in the catalogue.
constexpr std::array kWords = {
    Word{kGetVer.word, kGetVer.argument_bytes, CommandKind::kGetVersion},
    Word{kGetCps.word, kGetCps.argument_bytes, CommandKind::kGetCounts},
    Word{kGetSerial.word, kGetSerial.argument_bytes, CommandKind::kGetSerial},
    Word{kHeartbeat0.word, kHeartbeat0.argument_bytes, CommandKind::kHeartbeatOff},
    Word{kHeartbeatFamily0.word, kHeartbeatFamily0.argument_bytes, CommandKind::kHeartbeatOff, 1},
    Word{kSpir.word, kSpir.argument_bytes, CommandKind::kReadFlash},
    Word{kGetCfg.word, kGetCfg.argument_bytes, CommandKind::kGetConfig},
    Word{kReadEeprom.word, kReadEeprom.argument_bytes, CommandKind::kReadEeprom},
    Word{kEraseCfg.word, kEraseCfg.argument_bytes, CommandKind::kEraseConfig},
    Word{kWriteCfgShort.word, kWriteCfgShort.argument_bytes, CommandKind::kWriteConfig},
    Word{kCfgUpdate.word, kCfgUpdate.argument_bytes, CommandKind::kUpdateConfig},
    Word{kFactoryReset.word, kFactoryReset.argument_bytes, CommandKind::kFactoryReset},
    Word{kGetDateTime.word, kGetDateTime.argument_bytes, CommandKind::kGetDateTime},
    Word{kSetDateTime.word, kSetDateTime.argument_bytes, CommandKind::kSetDateTime},
    Word{kSetDateYY.word, kSetDateYY.argument_bytes, CommandKind::kSetClockField, 0},
    Word{kSetDateMM.word, kSetDateMM.argument_bytes, CommandKind::kSetClockField, 1},
    Word{kSetDateDD.word, kSetDateDD.argument_bytes, CommandKind::kSetClockField, 2},
    Word{kSetTimeHH.word, kSetTimeHH.argument_bytes, CommandKind::kSetClockField, 3},
    Word{kSetTimeMM.word, kSetTimeMM.argument_bytes, CommandKind::kSetClockField, 4},
    Word{kSetTimeSS.word, kSetTimeSS.argument_bytes, CommandKind::kSetClockField, 5},
    Word{kKey0.word, kKey0.argument_bytes, CommandKind::kKey, 0},
    Word{"KEY1", 0, CommandKind::kKey, 1},
    Word{"KEY2", 0, CommandKind::kKey, 2},
    Word{"KEY3", 0, CommandKind::kKey, 3},
    Word{kGetScreenshotInfo.word, kGetScreenshotInfo.argument_bytes, CommandKind::kGetScreenshotInfo},
    Word{kGetScreenshot.word, kGetScreenshot.argument_bytes, CommandKind::kGetScreenshot},
    Word{kSetSsid.word, kSetSsid.argument_bytes, CommandKind::kSetNetworkText, 0},
    Word{kSetWifiPassword.word, kSetWifiPassword.argument_bytes, CommandKind::kSetNetworkText, 1},
    Word{kSetWebsite.word, kSetWebsite.argument_bytes, CommandKind::kSetNetworkText, 2},
    Word{kSetUrl.word, kSetUrl.argument_bytes, CommandKind::kSetNetworkText, 3},
    Word{kSetUserId.word, kSetUserId.argument_bytes, CommandKind::kSetNetworkText, 4},
    Word{kSetCounterId.word, kSetCounterId.argument_bytes, CommandKind::kSetNetworkText, 5},
    Word{kSetPeriod.word, kSetPeriod.argument_bytes, CommandKind::kSetPeriod},
};

bool EndsWithTerminator(const std::vector<uint8_t>& bytes, size_t from) {
  return bytes.size() >= from + 2 && bytes[bytes.size() - 2] == '>' && bytes.back() == '>';
}

}  // namespace

void FrameParser::Push(uint8_t byte, std::vector<Frame>& out) {
  if (pending_.empty() && byte != '<') return;
  pending_.push_back(byte);
  if (TryComplete(out) != Step::kBroken) return;
  // Not a frame after all: look for one in what followed the "<".
  std::vector<uint8_t> rest(pending_.begin() + 1, pending_.end());
  pending_.clear();
  for (uint8_t b : rest) Push(b, out);
}

FrameParser::Step FrameParser::TryComplete(std::vector<Frame>& out) {
  const std::string_view body(reinterpret_cast<const char*>(pending_.data()) + 1, pending_.size() - 1);

  // The longest word the body starts with, unless a longer word may still follow ("GETSS" and
  // "GETSSN", "SETDATE…").
  const Word* match = nullptr;
  for (const Word& w : kWords) {
    if (body.size() < w.word.size()) {
      if (w.word.starts_with(body)) return Step::kNeedMore;
      continue;
    }
    if (body.starts_with(w.word) && (!match || w.word.size() > match->word.size())) match = &w;
  }

  if (!match) {
    // Unknown word: skip it whole so its arguments are not taken for a frame.
    if (EndsWithTerminator(pending_, 2)) {
      Frame frame;
      frame.arguments.assign(pending_.begin() + 1, pending_.end() - 2);
      out.push_back(std::move(frame));
      pending_.clear();
      return Step::kDone;
    }
    if (pending_.size() >= kMaxFrame) return Step::kBroken;
    return Step::kNeedMore;
  }

  const size_t head = 1 + match->word.size();
  Frame frame;
  frame.kind = match->kind;
  frame.index = match->index;
  frame.word = match->word;

  if (match->argument_bytes == kTextArgument) {
    if (!EndsWithTerminator(pending_, head)) return pending_.size() >= kMaxFrame ? Step::kBroken : Step::kNeedMore;
    frame.arguments.assign(pending_.begin() + static_cast<std::ptrdiff_t>(head), pending_.end() - 2);
  } else {
    size_t arguments = static_cast<size_t>(match->argument_bytes);
    if (match->kind == CommandKind::kWriteConfig && long_write_address_) arguments = kWriteCfgLong.argument_bytes;
    // The family-0 heartbeat is the one frame closed by a single ">".
    const size_t terminator = match->kind == CommandKind::kHeartbeatOff && match->index == 1 ? 1 : 2;
    if (pending_.size() < head + arguments + terminator) return Step::kNeedMore;
    for (size_t i = head + arguments; i < pending_.size(); ++i)
      if (pending_[i] != '>') return Step::kBroken;
    frame.arguments.assign(pending_.begin() + static_cast<std::ptrdiff_t>(head),
                           pending_.begin() + static_cast<std::ptrdiff_t>(head + arguments));
  }
  out.push_back(std::move(frame));
  pending_.clear();
  return Step::kDone;
}

}  // namespace norvane::sim
