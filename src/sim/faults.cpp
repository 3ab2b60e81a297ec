#include "sim/faults.h"

#include <charconv>

namespace norvane::sim {
namespace {

// Decimal, or hexadecimal after "0x"; the whole text must be the number.
std::optional<long> ParseNumber(std::string_view text) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  long value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (ec != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  return value;
}

}  // namespace

bool ParseFault(std::string_view text, Faults& faults, std::string* error) {
  const size_t eq = text.find('=');
  const std::string_view name = text.substr(0, eq);
  const std::optional<std::string_view> value =
      eq == std::string_view::npos ? std::nullopt : std::optional(text.substr(eq + 1));
  auto fail = [&](std::string_view why) {
    if (error) *error = std::string(why);
    return false;
  };
  auto number = [&](long lo, long hi) -> std::optional<long> {
    if (!value) return std::nullopt;
    const auto n = ParseNumber(*value);
    return n && *n >= lo && *n <= hi ? n : std::nullopt;
  };
  auto flag = [&](bool& target) {
    if (value) return fail("fault '" + std::string(name) + "' takes no value");
    target = true;
    return true;
  };

  if (name == "silent") return flag(faults.silent);
  if (name == "question") return flag(faults.question);
  if (name == "short-counts") return flag(faults.short_counts);
  if (name == "strict-baud") return flag(faults.strict_baud);
  if (name == "deaf-config") return flag(faults.deaf_config);
  if (name == "no-serial") return flag(faults.no_serial);
  if (name == "noisy-counts") return flag(faults.noisy_counts);
  if (name == "stuck-counts") {
    const std::optional<long> from = value ? number(0, 100'000'000) : std::optional<long>(0);
    if (!from) return fail("fault 'stuck-counts' takes the second from which the count stays (0-100000000)");
    faults.stuck_counts = *from;
    return true;
  }
  if (name == "clock-drift") {
    const std::optional<long> gain = value ? number(-86'400, 86'400) : std::optional<long>(600);
    if (!gain) return fail("fault 'clock-drift' takes the seconds a day the clock gains (-86400-86400), e.g. clock-drift=600");
    faults.clock_drift = *gain;
    return true;
  }
  if (name == "split-counts") {
    SplitReplies split;
    if (value) {
      const size_t slash = value->find('/');
      const auto delay = ParseNumber(value->substr(0, slash));
      const auto every =
          slash == std::string_view::npos ? std::optional<long>(1) : ParseNumber(value->substr(slash + 1));
      if (!delay || *delay < 1 || *delay > 60'000 || !every || *every < 1 || *every > 1'000'000)
        return fail("fault 'split-counts' takes the delay of the rest in ms (1-60000) and, after a '/', how often, "
                    "e.g. split-counts=1200/4");
      split.delay = std::chrono::milliseconds(*delay);
      split.every = static_cast<int>(*every);
    }
    faults.split_counts = split;
    return true;
  }
  if (name == "silent-after") {
    const auto n = number(0, 10'000'000);
    if (!n) return fail("fault 'silent-after' needs a number of seconds, e.g. silent-after=30");
    faults.silent_after = std::chrono::seconds(*n);
    return true;
  }
  if (name == "stall") {
    const auto n = value ? number(1, 1'000'000) : std::optional<long>(1);
    if (!n) return fail("fault 'stall' takes the number of the SPIR request to stall, from 1");
    faults.stall_request = static_cast<int>(*n);
    return true;
  }
  if (name == "question-burst") {
    const auto n = number(1, 65535);
    if (!n) return fail("fault 'question-burst' needs how many '?' bytes each SPIR gets, e.g. question-burst=20");
    faults.question_burst = static_cast<int>(*n);
    return true;
  }
  if (name == "wrong-ack") {
    const auto n = number(0, 4095);
    if (!n) return fail("fault 'wrong-ack' needs a configuration address 0-4095, e.g. wrong-ack=10");
    faults.wrong_ack_address = static_cast<int>(*n);
    return true;
  }
  if (name == "marked-counts") {
    const auto n = value ? number(1, 1'000'000) : std::optional<long>(1);
    if (!n) return fail("fault 'marked-counts' takes how often, from 1 (every reply)");
    faults.marked_counts = static_cast<int>(*n);
    return true;
  }
  if (name == "reset-nak") {
    const auto n = number(1, 1'000'000);
    if (!n) return fail("fault 'reset-nak' needs how many factory resets to refuse, e.g. reset-nak=1");
    faults.refused_resets = static_cast<int>(*n);
    return true;
  }
  if (name == "short-config") {
    const auto n = number(0, 4096);
    if (!n) return fail("fault 'short-config' needs how many configuration bytes to send, e.g. short-config=300");
    faults.short_config = static_cast<int>(*n);
    return true;
  }
  return fail("unknown fault '" + std::string(name) + "'");
}

std::string_view FaultHelp() {
  return "  silent            answer nothing\n"
         "  silent-after=S    answer for S seconds, then nothing\n"
         "  stall[=N]         stop half-way through the N-th SPIR reply (default the first)\n"
         "  question          ignore the heartbeat-off command; answer SPIR with \"?\" lines\n"
         "  question-burst=N  answer every SPIR with N '?' bytes and nothing more\n"
         "  wrong-ack=A       answer WCFG at configuration address A with 0x55 instead of 0xAA\n"
         "  short-counts      answer GETCPS with 2 bytes, as older counters do\n"
         "  deaf-config       answer neither GETCFG nor REEPROM\n"
         "  marked-counts[=N] mark every N-th GETCPS reply with 0x80 (default every one)\n"
         "  strict-baud       answer only while the line is set to the model's baud rate\n"
         "  reset-nak=N       answer the first N FACTORYRESET requests with 0x55\n"
         "  short-config=N    send only the first N bytes of the configuration on GETCFG\n"
         "  no-serial         answer no GETSERIAL, as counters without a serial number\n"
         "  stuck-counts[=S]  from second S on (default 0) count what second S counted, as a stuck tube\n"
         "  noisy-counts      counts spread far wider than Poisson counts, as from a noisy tube\n"
         "  clock-drift[=S]   the counter's clock gains S seconds a day (default 600; below 0 it loses)\n"
         "  split-counts[=MS[/N]]  send every N-th GETCPS reply (default each) in two parts split at a\n"
         "                    random byte, the rest MS ms later (default 300)\n";
}

}  // namespace norvane::sim
