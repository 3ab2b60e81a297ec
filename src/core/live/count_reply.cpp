#include "core/live/count_reply.h"

#include <utility>

#include "core/common/text_format.h"
#include "core/realtime/poll_reply.h"

namespace norvane::live {

JudgedReply CountReplyJudge::Judge(std::span<const uint8_t> bytes) {
  JudgedReply out;
  const size_t n = bytes.size();
  if (!length_) {
    if (n == 4) {
      length_ = 4;
      held_.reset();
      return Whole(bytes);
    }
    if (n == 2) {
      if (held_) {
        length_ = 2;
        out = Whole(bytes);
        out.released = std::exchange(held_, std::nullopt);
        return out;
      }
      if (const std::optional<uint32_t> value = DecodePollReply(bytes)) {
        held_ = value;
        out.verdict = ReplyVerdict::kHeld;
        return out;
      }
    }
    // A silent second says nothing about the held reply; anything else shows it was cut.
    if (n != 0) held_.reset();
  } else if (n == *length_) {
    return Whole(bytes);
  }
  out.verdict = n == 0 ? ReplyVerdict::kSilent : n < WholeLength() ? ReplyVerdict::kIncomplete : ReplyVerdict::kTooLong;
  resync_ = true;
  return out;
}

JudgedReply CountReplyJudge::Whole(std::span<const uint8_t> bytes) {
  resync_ = false;
  JudgedReply out;
  if (const std::optional<uint32_t> value = DecodePollReply(bytes)) {
    out.verdict = ReplyVerdict::kCount;
    out.count = *value;
  } else {
    out.verdict = ReplyVerdict::kMarked;
  }
  return out;
}

std::string DescribeGap(ReplyVerdict verdict, size_t got, size_t whole) {
  switch (verdict) {
    case ReplyVerdict::kMarked: return "marked as invalid";
    case ReplyVerdict::kIncomplete:
      return Format("incomplete (%zu of %zu bytes by the end of its second)", got, whole);
    case ReplyVerdict::kTooLong: return Format("%zu bytes where one reply has %zu", got, whole);
    case ReplyVerdict::kSilent: return "missing";
    case ReplyVerdict::kCount:
    case ReplyVerdict::kHeld: break;
  }
  return "";
}

}  // namespace norvane::live
