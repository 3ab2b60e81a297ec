// Judging the counter's answers to "<GETCPS>>": when a reply is whole, and what it is worth.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace norvane::live {

enum class ReplyVerdict {
  kCount,       // a whole reply with its count
  kHeld,        // a 2-byte reply while the counter's reply length is still unknown: kept aside
  kMarked,      // a whole reply the counter marked as invalid (0x80)
  kIncomplete,  // fewer bytes than the reply's length by the end of its second
  kTooLong,     // more bytes than one reply: a late rest of an earlier one came with it
  kSilent,      // nothing
};

struct JudgedReply {
  ReplyVerdict verdict = ReplyVerdict::kSilent;
  uint32_t count = 0;
  // Set when this reply taught that the counter answers in 2 bytes: the count held back one
  // second earlier is a real one and is due now, before this one.
  std::optional<uint32_t> released;
};

// Counters answer in 4 bytes, older ones in 2; nothing in the version reply tells which. A 4-byte
// reply is whole the moment its fourth byte arrives. Two bytes alone at the end of a second may be
// a cut 4-byte reply or a whole 2-byte one: two such seconds in a row settle it. After any reply
// that was not whole the line may still carry its rest, so the next reply is only taken when
// nothing more arrived by the end of its second.
class CountReplyJudge {
 public:
  // The bytes that end the wait early: the reply's length once known, else 4.
  size_t WholeLength() const { return length_ ? *length_ : 4; }
  // Whether the engine must read to the end of the second before judging.
  bool ReadsToDeadline() const { return resync_; }
  // `bytes` as they stood when the wait ended (at WholeLength or at the second's end).
  JudgedReply Judge(std::span<const uint8_t> bytes);
  // A new connection: the counter may be another one.
  void Reset() { *this = CountReplyJudge(); }

 private:
  JudgedReply Whole(std::span<const uint8_t> bytes);

  std::optional<size_t> length_;
  std::optional<uint32_t> held_;
  bool resync_ = false;
};

// Words for a reply that is a gap, for the log: "marked as invalid", "incomplete (2 of 4 bytes)".
std::string DescribeGap(ReplyVerdict verdict, size_t got, size_t whole);

}  // namespace norvane::live
