#include "core/live/live_engine.h"

#include <algorithm>
#include <utility>

#include "core/common/text_format.h"
#include "core/i18n/language_dictionary.h"
#include "core/i18n/window_texts.h"
#include "core/protocol/model_identification.h"
#include "core/protocol/model_table.h"
#include "core/serial/port_settings.h"
#include "core/store/counter_store.h"

namespace norvane::live {
namespace {

using namespace std::chrono_literals;

// Identification tries the selected model's line rate this many times, then the other rate.
constexpr int kRateAttempts = 4;
constexpr int kOtherRateAttempts = 2;
// A text reply is over when the line stays quiet this long after its last byte.
constexpr std::chrono::milliseconds kQuietEnd{100};
constexpr std::chrono::milliseconds kFirstByteWait{1000};
// Before the request after a reply that was not whole: how long the line must stay quiet, and
// the longest a chattering line may hold the request back.
constexpr std::chrono::milliseconds kQuietBeforeRequest{300};
constexpr std::chrono::milliseconds kDrainLimit{2000};

int OtherRate(int baud) { return baud == 115200 ? 57600 : 115200; }

std::string Hex(const std::vector<uint8_t>& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (uint8_t b : bytes) {
    text += kDigits[b >> 4];
    text += kDigits[b & 15];
  }
  return text;
}

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - ((a % b) < 0 ? 1 : 0); }

// "Counter lost: <why>." in words the window can show in its own language.
std::string StateLine(LinkState state, const std::string& detail) {
  int text = kTextLineCounterStopped;
  switch (state) {
    case LinkState::kConnected: text = kTextLineCounterConnected; break;
    case LinkState::kNotAnswering: text = kTextLineCounterNotAnswering; break;
    case LinkState::kLost: text = kTextLineCounterLost; break;
    case LinkState::kStopped: break;
  }
  // Each state's line with a detail is the text after its plain one, which ends the sentence.
  const std::string clause = !detail.empty() && detail.back() == '.' ? detail.substr(0, detail.size() - 1) : detail;
  return detail.empty() ? EnglishText(text) : EnglishText(text + 1, {clause});
}

}  // namespace

RecentSeconds RecentFromStore(std::filesystem::path path, std::string holder) {
  return [path = std::move(path), holder = std::move(holder)](const store::CounterInfo& counter, int64_t from,
                                                               int64_t to) -> std::vector<store::Second> {
    try {
      const std::unique_ptr<store::CounterStore> db =
          store::OpenStore(path.string(), store::StoreAccess::kReadWrite, store::EndedJournals::kLeave);
      db->HoldAs(holder, 0);
      return db->ReadSeconds(db->RegisterCounter(counter, to - 1), from, to);
    } catch (const std::exception&) {
      return {};
    }
  };
}

LiveEngine::LiveEngine(Parts parts, EngineOptions options) : p_(std::move(parts)), options_(std::move(options)) {}

bool LiveEngine::Stopping() {
  std::lock_guard lock(mutex_);
  return stop_;
}

bool LiveEngine::BorrowWanted() {
  std::lock_guard lock(mutex_);
  return borrow_;
}

void LiveEngine::Stop() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  p_.clock.Wake();
  released_cv_.notify_all();
}

void LiveEngine::RequestBorrow() {
  {
    std::lock_guard lock(mutex_);
    borrow_ = true;
    released_ = false;
  }
  p_.clock.Wake();
}

bool LiveEngine::Borrow(std::chrono::milliseconds limit) {
  RequestBorrow();
  std::unique_lock lock(mutex_);
  return released_cv_.wait_for(lock, limit, [this] { return released_ || finished_ || stop_; });
}

void LiveEngine::GiveBack() {
  {
    std::lock_guard lock(mutex_);
    borrow_ = false;
  }
  p_.clock.Wake();
}

EngineTally LiveEngine::tally() const {
  std::lock_guard lock(mutex_);
  return tally_;
}

std::optional<CounterIdentity> LiveEngine::counter() const {
  std::lock_guard lock(mutex_);
  return identity_;
}

std::string LiveEngine::last_problem() const {
  std::lock_guard lock(mutex_);
  return last_problem_;
}

bool LiveEngine::gave_up() const {
  std::lock_guard lock(mutex_);
  return gave_up_;
}

bool LiveEngine::refused() const {
  std::lock_guard lock(mutex_);
  return refused_;
}

LinkState LiveEngine::state() const {
  std::lock_guard lock(mutex_);
  return state_;
}

void LiveEngine::Run() {
  std::chrono::seconds retry = options_.first_retry;
  bool waiting_told = false;
  while (!Stopping()) {
    if (BorrowWanted()) {
      Release();
      continue;
    }
    if (options_.polls && tally().polled >= *options_.polls) break;
    if (!connected_) {
      if (options_.end_when_lost && state_ == LinkState::kLost) {
        std::lock_guard lock(mutex_);
        gave_up_ = true;
        break;
      }
      if (Find()) {
        retry = options_.first_retry;
        waiting_told = false;
        continue;
      }
      if (refused()) break;
      if (Stopping() || BorrowWanted() || options_.end_when_lost) continue;
      // Once the longest wait is reached it is told once, not every minute for days.
      if (retry < options_.longest_retry || !waiting_told)
        p_.log.Write(Priority::kInfo, EnglishText(kTextLineLookingAgain, {std::to_string(retry.count())}));
      waiting_told = retry >= options_.longest_retry;
      p_.clock.WaitUntil(p_.clock.Now() + retry);
      retry = std::min(options_.longest_retry, retry * 2);
      continue;
    }
    Poll();
    if (connected_) p_.clock.WaitUntil(next_poll_);
  }
  p_.link.Close();
  open_ = connected_ = false;
  SetState(LinkState::kStopped, "");
  {
    std::lock_guard lock(mutex_);
    finished_ = true;
  }
  released_cv_.notify_all();
}

// The port goes back to the program's own dialogs until they return it; the counter is then
// identified again, as another one may have been plugged in meanwhile.
void LiveEngine::Release() {
  const bool was_connected = connected_;
  p_.link.Close();
  open_ = connected_ = false;
  const Steady::time_point from = p_.clock.Now();
  {
    std::lock_guard lock(mutex_);
    released_ = true;
  }
  released_cv_.notify_all();
  if (was_connected) p_.log.Write(Priority::kNotice, EnglishText(kTextLineMonitoringPaused));
  while (BorrowWanted() && !Stopping()) p_.clock.WaitUntil(p_.clock.Now() + 1s);
  const auto away = std::chrono::duration_cast<std::chrono::seconds>(p_.clock.Now() - from);
  if (was_connected && !Stopping())
    p_.log.Write(Priority::kNotice, EnglishText(kTextLineMonitoringResumes, {std::to_string(away.count())}));
}

// One search: the port asked for (or the one last used), then, unless the engine is bound to a
// port it never saw the counter on, every other port for the same counter.
bool LiveEngine::Find() {
  std::vector<std::string> candidates;
  const auto add = [&](const std::string& path) {
    if (!path.empty() && std::find(candidates.begin(), candidates.end(), path) == candidates.end())
      candidates.push_back(path);
  };
  add(options_.port);
  if (identity_) add(identity_->path);
  const size_t home = candidates.size();
  if (options_.port.empty() || identity_)
    for (const std::string& path : p_.link.Candidates()) add(path);

  std::string reason = candidates.empty() ? "no serial port to look on" : "no counter answered";
  for (size_t i = 0; i < candidates.size() && !Stopping() && !BorrowWanted(); ++i) {
    search_reason_.clear();
    search_busy_ = false;
    // Another port is asked only once for its version: a silent one would otherwise hold the
    // search for seconds while the counter may be back where it was.
    if (Identify(candidates[i], i >= home)) {
      Connected();
      return true;
    }
    if (i < home || candidates.size() == 1) reason = search_reason_.empty() ? reason : search_reason_;
    // Another program has the port asked for before this run ever found the counter there.
    if (search_busy_ && !identity_ && candidates[i] == options_.port) {
      std::lock_guard lock(mutex_);
      refused_ = gave_up_ = true;
      break;
    }
  }
  // A search that fails for a new reason (the port came back but another program holds it) is
  // news; the same reason again is not.
  if (state_ != LinkState::kLost || !lost_told_ || reason != last_problem()) {
    SetState(LinkState::kLost, reason);
    lost_told_ = true;
  }
  return false;
}

bool LiveEngine::Identify(const std::string& path, bool quick) {
  const int first_rate = BaudForFamily(identity_ ? identity_->family : options_.family);
  std::string version;
  std::optional<int> family;
  const int attempts = quick ? 1 : kRateAttempts + kOtherRateAttempts;
  for (int attempt = 0; attempt < attempts && !family && !Stopping(); ++attempt) {
    const int rate = attempt < kRateAttempts ? first_rate : OtherRate(first_rate);
    if (!open_ || rate != baud_) {
      const LinkOpen opened = p_.link.Open(path, rate);
      if (!opened.ok) {
        search_reason_ = opened.reason;
        search_busy_ = opened.busy;
        open_ = false;
        return false;
      }
      open_ = true;
      baud_ = rate;
    }
    p_.clock.WaitUntil(p_.clock.Now() + 50ms);
    const std::vector<uint8_t> reply =
        AskTwice(commands::kGetVer, static_cast<size_t>(commands::kGetVer.reply_bytes)).value_or(std::vector<uint8_t>{});
    version.assign(reply.begin(), std::find(reply.begin(), reply.end(), uint8_t{0}));
    family = FamilyFromReply(version);
  }
  const auto refuse = [&](std::string why) {
    search_reason_ = std::move(why);
    p_.link.Close();
    open_ = false;
    return false;
  };
  if (!family) return refuse(path + " gave no counter's version reply");
  if (identity_ && version != identity_->version) return refuse(path + " has another counter (" + version + ")");
  // A counter without a serial number is silent twice; one whose answers differ is asked again
  // at the next search rather than filed under a serial it does not have.
  const std::optional<std::vector<uint8_t>> raw_serial = AskTwice(commands::kGetSerial, 64);
  if (!raw_serial) return refuse(path + " gave no steady serial number");
  const std::string serial = Hex(*raw_serial);
  // Whatever is still on its way belongs to no request; the first poll must not take it.
  DrainUntilQuiet();
  if (identity_ && serial != identity_->serial) return refuse(path + " has another counter of the same kind");
  CounterIdentity found;
  found.version = version;
  found.family = *family;
  found.model = std::string(ModelListEntry(static_cast<uint32_t>(MatchModelInList(version))));
  found.serial = serial;
  found.path = path;
  found.stable_path = p_.link.StablePath(path);
  found_ = std::move(found);
  return true;
}

// A reply the line cut and delayed would read as another counter's version or serial, so a reply
// counts once the counter gave it twice in a row.
std::optional<std::vector<uint8_t>> LiveEngine::AskTwice(const CommandSpec& command, size_t most) {
  std::vector<uint8_t> last = Ask(BuildFrame(command), command.delay_ms, most, kFirstByteWait);
  for (int attempt = 0; attempt < 3 && !Stopping(); ++attempt) {
    DrainUntilQuiet();
    std::vector<uint8_t> again = Ask(BuildFrame(command), command.delay_ms, most, kFirstByteWait);
    if (again == last) return again;
    last = std::move(again);
  }
  return std::nullopt;
}

std::vector<uint8_t> LiveEngine::Ask(const std::vector<uint8_t>& frame, int delay_ms, size_t most,
                                     std::chrono::milliseconds first_wait) {
  std::vector<uint8_t> reply;
  p_.link.Discard();
  if (!p_.link.Send(frame, delay_ms)) return reply;
  Steady::time_point deadline = p_.clock.Now() + first_wait;
  while (reply.size() < most) {
    if (p_.link.Read(reply, deadline) > 0) deadline = std::min(deadline, p_.clock.Now() + kQuietEnd);
    else if (p_.clock.Now() >= deadline || !p_.link.Present()) break;
  }
  reply.resize(std::min(reply.size(), most));
  return reply;
}

void LiveEngine::Connected() {
  const bool another = !identity_ || found_->path != identity_->path;
  {
    std::lock_guard lock(mutex_);
    identity_ = found_;
  }
  if (p_.writer && (!handle_ || another)) handle_ = p_.writer->AddCounter(Info(), p_.clock.WallMs() / 1000);
  connected_ = true;
  silent_ = 0;
  lost_told_ = false;
  judge_.Reset();
  // The minute's CPM goes on from the seconds before a pause, a re-plug or a restart rather than
  // from the first second alone.
  rate_.Clear();
  if (p_.recent) {
    const int64_t now = FloorDiv(p_.clock.WallMs(), 1000);
    for (const store::Second& s : p_.recent(Info(), now - 60, now + 1)) rate_.Add(s.time, s.count);
  }
  // The first poll waits for the middle of the next second, like every other: a program started
  // again right after another one stopped must not measure that one's last second a second time.
  const int64_t wall = p_.clock.WallMs();
  next_poll_ = p_.clock.Now() + std::chrono::milliseconds((FloorDiv(wall, 1000) + 1) * 1000 + kPollPhaseMs - wall);
  SetState(LinkState::kConnected, identity_->version + " (" + identity_->model + ") on " + identity_->path);
}

store::CounterInfo LiveEngine::Info() const {
  store::CounterInfo info;
  info.version = identity_->version;
  info.family = Format("%d", identity_->family);
  info.model = identity_->model;
  info.port = identity_->path;
  info.serial = identity_->serial;
  info.device_path = identity_->stable_path;
  return info;
}

// The wall-clock second a poll stands for. Two polls never share one: a poll that a stall (a
// loaded machine, a suspended process) pushed into the second of the one before takes the next
// second, which no poll has taken. A clock stepped further back leaves the reply unstored, told.
int64_t LiveEngine::Stamp() {
  int64_t stamp = FloorDiv(p_.clock.WallMs(), 1000);
  if (stamp > last_stamp_) return stamp;
  if (stamp >= last_stamp_ - 1) return last_stamp_ + 1;
  if (!clock_back_told_)
    p_.log.Write(Priority::kWarning, "The computer's clock went back; the counter's replies are kept out of "
                                     "the store until it passes the last stored second again.");
  clock_back_told_ = true;
  return INT64_MIN;
}

void LiveEngine::Poll() {
  const int64_t stamp = Stamp();
  if (judge_.ReadsToDeadline()) DrainUntilQuiet(std::exchange(owed_, 0));
  p_.link.Discard();
  const bool sent = p_.link.Send(BuildFrame(commands::kGetCps), commands::kGetCps.delay_ms);
  const Steady::time_point deadline = p_.clock.Now() + kReplyWindow;
  std::vector<uint8_t> reply;
  while (sent && p_.link.Present() && p_.clock.Now() < deadline &&
         (reply.size() < judge_.WholeLength() || judge_.ReadsToDeadline()))
    p_.link.Read(reply, deadline);
  if (!sent || !p_.link.Present()) {
    Lost(identity_->path + " is gone (unplugged?)");
    return;
  }
  {
    std::lock_guard lock(mutex_);
    ++tally_.polled;
  }
  silent_ = reply.empty() ? silent_ + 1 : 0;
  if (stamp != INT64_MIN) {
    last_stamp_ = stamp;
    clock_back_told_ = false;
    const JudgedReply judged = judge_.Judge(reply);
    if (judged.released) Measured(held_stamp_, *judged.released);
    if (judged.verdict == ReplyVerdict::kCount) Measured(stamp, judged.count);
    else if (judged.verdict == ReplyVerdict::kHeld) held_stamp_ = stamp;
    else Gap(stamp, judged.verdict, reply.size());
    const size_t whole = judge_.WholeLength();
    // Only the first silent second of a run may have a late reply still to come.
    if (judged.verdict == ReplyVerdict::kSilent) owed_ = silent_ == 1 ? whole : 0;
    else if (judged.verdict == ReplyVerdict::kIncomplete || judged.verdict == ReplyVerdict::kTooLong)
      owed_ = (whole - reply.size() % whole) % whole;
  }
  if (silent_ >= options_.reconnect_seconds) {
    Lost(Format("no reply for %d s", silent_));
    return;
  }
  if (silent_ == options_.silent_seconds) {
    SetState(LinkState::kNotAnswering, Format("no reply for %d s", silent_));
    if (options_.end_when_lost) Lost(Format("no reply for %d s", silent_));
  }
  // The next poll goes out in the middle of the second after the last one stamped, or at once
  // when that is past already.
  const int64_t wall = p_.clock.WallMs();
  const int64_t target = (last_stamp_ + 1) * 1000 + kPollPhaseMs;
  next_poll_ = p_.clock.Now() + std::chrono::milliseconds(std::clamp<int64_t>(target - wall, 0, 1500));
}

// After a reply that was not whole, the rest of it may still be on its way: were it to arrive
// behind the next request, it and a cut part of the next reply could add up to one reply's
// length. So the next request waits for the bytes still owed (as long as the drain limit lets
// it) and then until the line has been quiet for a while.
void LiveEngine::DrainUntilQuiet(size_t owed) {
  std::vector<uint8_t> rest;
  const Steady::time_point limit = p_.clock.Now() + kDrainLimit;
  Steady::time_point quiet_until = p_.clock.Now() + kQuietBeforeRequest;
  while (p_.clock.Now() < limit && p_.link.Present()) {
    const Steady::time_point until = rest.size() < owed ? limit : std::min(quiet_until, limit);
    if (p_.link.Read(rest, until) > 0) quiet_until = p_.clock.Now() + kQuietBeforeRequest;
    else if (rest.size() >= owed && p_.clock.Now() >= quiet_until) break;
  }
}

void LiveEngine::Measured(int64_t utc, uint32_t count) {
  {
    std::lock_guard lock(mutex_);
    ++tally_.measured;
  }
  if (gap_run_ > 0 && ++whole_run_ >= 60) {
    p_.log.Write(Priority::kInfo, EnglishText(kTextLineRepliesAgain, {std::to_string(gap_run_)}));
    gap_run_ = 0;
  }
  if (state_ != LinkState::kConnected) SetState(LinkState::kConnected, "answering again");
  // The store first: a second any sink has seen is a second handed to the writer.
  if (p_.writer && handle_) p_.writer->Append(*handle_, utc, count);
  const uint32_t cpm = rate_.Add(utc, count);
  const LiveSecond second{utc, count, cpm, DoseRateFromCpm(p_.conversion, cpm),
                          p_.writer ? p_.writer->health().failures : 0};
  const store::CounterInfo info = Info();
  for (LiveSink* sink : p_.sinks) sink->OnSecond(info, second);
}

void LiveEngine::Gap(int64_t utc, ReplyVerdict verdict, size_t got) {
  {
    std::lock_guard lock(mutex_);
    ++tally_.gaps;
  }
  // Silence has its own news (not answering); a reply that came but could not be taken is told
  // when the first such second comes and again when replies are taken once more.
  whole_run_ = 0;
  if (verdict != ReplyVerdict::kSilent && gap_run_++ == 0)
    p_.log.Write(Priority::kWarning, "The counter's reply was " + DescribeGap(verdict, got, judge_.WholeLength()) +
                                         "; such seconds stay gaps.");
  const store::CounterInfo info = Info();
  for (LiveSink* sink : p_.sinks) sink->OnGap(info, utc);
}

void LiveEngine::Lost(const std::string& reason) {
  p_.link.Close();
  open_ = connected_ = false;
  gap_run_ = 0;
  SetState(LinkState::kLost, reason);
  lost_told_ = true;
}

void LiveEngine::SetState(LinkState state, const std::string& detail) {
  if (state == state_ && state != LinkState::kLost) return;
  {
    std::lock_guard lock(mutex_);
    state_ = state;
    if (state == LinkState::kLost || state == LinkState::kNotAnswering) last_problem_ = detail;
  }
  const Priority priority =
      state == LinkState::kConnected || state == LinkState::kStopped ? Priority::kNotice : Priority::kWarning;
  p_.log.Write(priority, StateLine(state, detail));
  if (!identity_) return;
  const store::CounterInfo info = Info();
  for (LiveSink* sink : p_.sinks) sink->OnLinkState(info, state);
}

}  // namespace norvane::live
