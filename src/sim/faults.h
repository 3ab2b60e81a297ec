// Misbehaviour the simulated counter can be asked for, to exercise the program's recovery.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace norvane::sim {

// Replies sent in two parts, the rest `delay` after the first.
struct SplitReplies {
  std::chrono::milliseconds delay{300};
  int every = 1;  // only every N-th reply
};

struct Faults {
  bool silent = false;                            // "silent": answers nothing
  std::optional<std::chrono::seconds> silent_after;  // "silent-after=S": deaf from S seconds on
  std::optional<int> stall_request;               // "stall[=N]": the N-th SPIR reply stops half-way
  bool question = false;        // "question": never enters download mode; SPIR gets "?" lines
  std::optional<int> question_burst;  // "question-burst=N": SPIR gets N '?' bytes, then nothing
  std::optional<int> wrong_ack_address;  // "wrong-ack=A": WCFG at address A is answered 0x55
  bool short_counts = false;    // "short-counts": 2-byte GETCPS replies, as older counters send
  int marked_counts = 0;        // "marked-counts[=N]": every N-th GETCPS reply holds 0x80
  bool strict_baud = false;     // "strict-baud": deaf unless the line runs at the model's rate
  int refused_resets = 0;       // "reset-nak=N": the first N FACTORYRESET frames are answered 0x55
  std::optional<int> short_config;  // "short-config=N": GETCFG sends only its first N bytes
  bool deaf_config = false;     // "deaf-config": GETCFG and REEPROM get no answer
  bool no_serial = false;       // "no-serial": GETSERIAL gets no answer, as from counters without one
  // "stuck-counts[=S]": from second S on (default 0) every second counts what second S did, as a
  // stuck tube or a frozen counting chain reports
  std::optional<int64_t> stuck_counts;
  // "noisy-counts": each second's mean is drawn afresh (exponentially around the set rate), so the
  // counts spread far wider than Poisson counts, as from a tube with spurious discharges
  bool noisy_counts = false;
  // "clock-drift[=S]": the counter's clock gains S seconds a day (default 600), counted from
  // switch-on or from the last time it was set, as a clock with a bad crystal does
  std::optional<int64_t> clock_drift;
  // "split-counts[=MS[/N]]": every N-th GETCPS reply (default each) is split at a random byte,
  // the rest MS ms (default 300) later
  std::optional<SplitReplies> split_counts;
};

// Applies one "NAME[=VALUE]". False with `*error` set when the name or value is not understood.
bool ParseFault(std::string_view text, Faults& faults, std::string* error);

// The names and what they do, one per line, for usage texts.
std::string_view FaultHelp();

}  // namespace norvane::sim
