#include "core/upload/upload_scheduler.h"

#include <algorithm>
#include <limits>

namespace norvane::upload {
namespace {

// Seconds read from the store at a time while a backlog is queued.
constexpr int64_t kQueueChunk = 86400;
constexpr int64_t kNever = std::numeric_limits<int64_t>::max();

int64_t FloorTo(int64_t t, int64_t step) { return (t >= 0 ? t / step : (t - step + 1) / step) * step; }

}  // namespace

UploadScheduler::UploadScheduler(store::Store& store, store::CounterId counter, std::vector<NetworkSetup> setups,
                                 const Clock& clock, UserNotifier& notifier)
    : store_(store), counter_(counter), clock_(clock), notifier_(notifier) {
  for (NetworkSetup& setup : setups) {
    const MapNetwork network = setup.network;
    lanes_.push_back({std::move(setup), UploadQueue(store, network, counter)});
    // A station started again keeps the network's pace across the restart.
    Lane& lane = lanes_.back();
    if (const std::optional<int64_t> last = lane.queue.LastSent()) lane.next_try = *last + RulesOf(network).spacing;
  }
}

bool UploadScheduler::Stopped(MapNetwork network) const {
  for (const Lane& lane : lanes_)
    if (lane.setup.network == network) return lane.stopped;
  return false;
}

void UploadScheduler::Queue(Lane& lane, int64_t now) {
  const int64_t length = lane.setup.Interval();
  const int64_t closed = FloorTo(now - kCloseDelay, length);
  // A first run starts with the interval under way: the store's older seconds are not the maps'.
  int64_t from = lane.queue.QueuedUntil().value_or(closed);
  from = std::max(from, FloorTo(now - kLookBack, length));
  if (from >= closed) {
    if (!lane.queue.QueuedUntil()) lane.queue.Enqueue({}, from);
    return;
  }
  while (from < closed) {
    const int64_t to = std::min(closed, from + std::max(length, FloorTo(kQueueChunk, length)));
    std::vector<UploadInterval> intervals;
    for (int64_t start = from; start < to; start += length) intervals.push_back({start, length, 0, 0});
    for (const store::Second& second : store_.ReadSeconds(counter_, from, to)) {
      UploadInterval& one = intervals[static_cast<size_t>((second.time - from) / length)];
      one.counts += second.count;
      ++one.measured;
    }
    lane.queue.Enqueue(intervals, to);
    from = to;
  }
}

void UploadScheduler::Send(Lane& lane, int64_t now) {
  const NetworkRules& rules = RulesOf(lane.setup.network);
  const std::string name(NetworkName(lane.setup.network));
  const int64_t length = lane.setup.Interval();
  const int64_t present = FloorTo(now - kCloseDelay, length) - length;  // start of the newest closed interval
  std::vector<UploadInterval> due = lane.queue.Due(rules.batch);
  if (due.empty()) return;
  if (!rules.takes_time && due.front().start < present) {
    // The network stamps a reading when it arrives: an older one would stand at the wrong time.
    const size_t waiting = lane.queue.Waiting();
    const std::optional<int64_t> newest = lane.queue.NewestDue();
    const bool keeps_present = newest && *newest >= present;
    if (lane.gap == 0) lane.gap_from = due.front().start;
    lane.gap += waiting - (keeps_present ? 1 : 0);
    lane.gap_to = keeps_present ? present : *newest + length;
    lane.queue.MarkSkipped(present);
    due = lane.queue.Due(rules.batch);
    if (due.empty()) return;
  }
  const HttpAnswer answer = SendHttp(BuildRequest(lane.setup, due));
  const int64_t after = clock_.Now();
  const Judgement judgement = Judge(lane.setup.network, answer);
  lane.next_try = after + rules.spacing;
  switch (judgement.verdict) {
    case Verdict::kAccepted:
    case Verdict::kRepeat:
      lane.queue.MarkSent(due, after);
      if (lane.pause > 0) notifier_.Status(name + " takes uploads again.");
      lane.pause = 0;
      if (lane.gap > 0)
        notifier_.Status(name + " takes only the present reading: " + std::to_string(lane.gap) +
                         " intervals from " + IsoUtc(lane.gap_from) + " to " + IsoUtc(lane.gap_to) +
                         " were not sent to it.");
      lane.gap = 0;
      break;
    case Verdict::kTooSoon:
      break;
    case Verdict::kRefused:
      lane.queue.MarkRefused(due, judgement.why, after);
      notifier_.Status(name + " refused the reading of " + IsoUtc(due.front().end()) + ": " + judgement.why);
      break;
    case Verdict::kBadKey:
      lane.queue.NoteRefusal(judgement.why, after);
      lane.stopped = true;
      // The user must act: an error, not a status line.
      notifier_.Message(name + " refuses the station's key (" + judgement.why + "): nothing more goes to " + name +
                            " until the key is mended; its intervals wait in the store.",
                        "Uploads");
      break;
    case Verdict::kDown:
      if (lane.pause == 0)
        notifier_.Status(name + " cannot be reached (" + judgement.why +
                         "): its intervals wait in the store and are tried again with growing pauses.");
      lane.pause = lane.pause == 0 ? kFirstPause : std::min(lane.pause * 2, kLongestPause);
      lane.next_try = after + lane.pause;
      break;
  }
}

int64_t UploadScheduler::Step() {
  int64_t wake = kNever;
  for (Lane& lane : lanes_) {
    const int64_t now = clock_.Now();
    Queue(lane, now);
    if (!lane.stopped && now >= lane.next_try) Send(lane, now);
    const int64_t length = lane.setup.Interval();
    wake = std::min(wake, FloorTo(clock_.Now() - kCloseDelay, length) + length + kCloseDelay);
    if (!lane.stopped && lane.queue.Waiting() > 0) wake = std::min(wake, lane.next_try);
  }
  return wake;
}

}  // namespace norvane::upload
