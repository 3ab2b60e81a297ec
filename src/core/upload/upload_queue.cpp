#include "core/upload/upload_queue.h"

#include <map>

namespace norvane::upload {

using store::Statement;
using store::Transaction;

std::optional<int64_t> UploadQueue::QueuedUntil() {
  Statement q(store_.database().handle(), "SELECT queued_until FROM upload_state WHERE network = ?1 AND counter = ?2");
  q.Bind(1, std::string_view(network_)).Bind(2, static_cast<int64_t>(counter_));
  if (!q.Step()) return std::nullopt;
  return q.Int(0);
}

void UploadQueue::Enqueue(std::span<const UploadInterval> intervals, int64_t queued_until) {
  store::Database& db = store_.database();
  Transaction tx(db);
  Statement add(db.handle(),
                "INSERT OR IGNORE INTO upload_queue(network, counter, start, length, counts, measured) "
                "VALUES(?1, ?2, ?3, ?4, ?5, ?6)");
  for (const UploadInterval& one : intervals) {
    if (one.measured == 0) continue;
    add.Bind(1, std::string_view(network_)).Bind(2, static_cast<int64_t>(counter_)).Bind(3, one.start);
    add.Bind(4, one.length).Bind(5, static_cast<int64_t>(one.counts)).Bind(6, static_cast<int64_t>(one.measured));
    add.Run();
  }
  Statement until(db.handle(),
                  "INSERT INTO upload_state(network, counter, queued_until) VALUES(?1, ?2, ?3) "
                  "ON CONFLICT(network, counter) DO UPDATE SET queued_until = max(queued_until, excluded.queued_until)");
  until.Bind(1, std::string_view(network_)).Bind(2, static_cast<int64_t>(counter_)).Bind(3, queued_until);
  until.Run();
  tx.Commit();
}

std::vector<UploadInterval> UploadQueue::Due(size_t limit) {
  Statement q(store_.database().handle(),
              "SELECT start, length, counts, measured FROM upload_queue WHERE network = ?1 AND counter = ?2 "
              "ORDER BY start LIMIT ?3");
  q.Bind(1, std::string_view(network_)).Bind(2, static_cast<int64_t>(counter_)).Bind(3, static_cast<int64_t>(limit));
  std::vector<UploadInterval> due;
  while (q.Step())
    due.push_back({q.Int(0), q.Int(1), static_cast<uint64_t>(q.Int(2)), static_cast<uint64_t>(q.Int(3))});
  return due;
}

std::optional<int64_t> UploadQueue::NewestDue() {
  Statement q(store_.database().handle(),
              "SELECT max(start) FROM upload_queue WHERE network = ?1 AND counter = ?2");
  q.Bind(1, std::string_view(network_)).Bind(2, static_cast<int64_t>(counter_));
  if (!q.Step() || q.IsNull(0)) return std::nullopt;
  return q.Int(0);
}

size_t UploadQueue::Waiting() {
  Statement q(store_.database().handle(), "SELECT count(*) FROM upload_queue WHERE network = ?1 AND counter = ?2");
  q.Bind(1, std::string_view(network_)).Bind(2, static_cast<int64_t>(counter_));
  q.Step();
  return static_cast<size_t>(q.Int(0));
}

std::optional<int64_t> UploadQueue::LastSent() {
  Statement q(store_.database().handle(),
              "SELECT last_sent FROM upload_state WHERE network = ?1 AND counter = ?2 AND last_sent > 0");
  q.Bind(1, std::string_view(network_)).Bind(2, static_cast<int64_t>(counter_));
  if (!q.Step()) return std::nullopt;
  return q.Int(0);
}

void UploadQueue::Count(const char* column, int64_t n, int64_t now) {
  const std::string set = std::string(column) + " = " + column + " + ?3" +
                          (std::string_view(column) == "sent" ? ", last_sent = ?4" : "");
  Statement q(store_.database().handle(),
              "UPDATE upload_state SET " + set + " WHERE network = ?1 AND counter = ?2");
  q.Bind(1, std::string_view(network_)).Bind(2, static_cast<int64_t>(counter_)).Bind(3, n);
  if (std::string_view(column) == "sent") q.Bind(4, now);
  q.Run();
}

namespace {

// Takes the intervals off the queue; how many were on it.
int64_t Drop(store::Database& db, std::string_view network, int64_t counter, std::span<const UploadInterval> intervals) {
  Statement drop(db.handle(), "DELETE FROM upload_queue WHERE network = ?1 AND counter = ?2 AND start = ?3");
  int64_t n = 0;
  for (const UploadInterval& one : intervals) {
    drop.Bind(1, network).Bind(2, counter).Bind(3, one.start);
    drop.Run();
    n += db.Changes();
  }
  return n;
}

}  // namespace

void UploadQueue::MarkSent(std::span<const UploadInterval> intervals, int64_t now) {
  store::Database& db = store_.database();
  Transaction tx(db);
  const int64_t n = Drop(db, network_, static_cast<int64_t>(counter_), intervals);
  Count("sent", n, now);
  tx.Commit();
}

void UploadQueue::MarkRefused(std::span<const UploadInterval> intervals, std::string_view why, int64_t now) {
  store::Database& db = store_.database();
  Transaction tx(db);
  const int64_t n = Drop(db, network_, static_cast<int64_t>(counter_), intervals);
  Count("refused", n, now);
  NoteRefusal(why, now);
  tx.Commit();
}

void UploadQueue::MarkSkipped(int64_t before) {
  store::Database& db = store_.database();
  Transaction tx(db);
  Statement drop(db.handle(), "DELETE FROM upload_queue WHERE network = ?1 AND counter = ?2 AND start < ?3");
  drop.Bind(1, std::string_view(network_)).Bind(2, static_cast<int64_t>(counter_)).Bind(3, before);
  drop.Run();
  Count("skipped", db.Changes(), 0);
  tx.Commit();
}

void UploadQueue::NoteRefusal(std::string_view why, int64_t now) {
  Statement q(store_.database().handle(),
              "UPDATE upload_state SET last_refusal = ?3, last_refusal_at = ?4 WHERE network = ?1 AND counter = ?2");
  q.Bind(1, std::string_view(network_)).Bind(2, static_cast<int64_t>(counter_)).Bind(3, why).Bind(4, now);
  q.Run();
}

std::vector<UploadSummary> UploadSummaries(store::Store& store) {
  sqlite3* db = store.database().handle();
  store::ReadTransaction snapshot(store.database());
  std::map<std::string, UploadSummary> by_network;
  Statement state(db,
                  "SELECT network, sum(sent), sum(refused), sum(skipped), max(last_sent) FROM upload_state "
                  "GROUP BY network");
  while (state.Step()) {
    UploadSummary& s = by_network[state.Text(0)];
    s.network = state.Text(0);
    s.sent = static_cast<uint64_t>(state.Int(1));
    s.refused = static_cast<uint64_t>(state.Int(2));
    s.skipped = static_cast<uint64_t>(state.Int(3));
    s.last_sent = state.Int(4);
  }
  Statement refusal(db,
                    "SELECT network, last_refusal, last_refusal_at FROM upload_state WHERE last_refusal_at > 0 "
                    "ORDER BY last_refusal_at");
  while (refusal.Step()) {
    UploadSummary& s = by_network[refusal.Text(0)];
    s.last_refusal = refusal.Text(1);
    s.last_refusal_at = refusal.Int(2);
  }
  Statement waiting(db, "SELECT network, count(*), min(start) FROM upload_queue GROUP BY network");
  while (waiting.Step()) {
    UploadSummary& s = by_network[waiting.Text(0)];
    s.waiting = static_cast<uint64_t>(waiting.Int(1));
    s.oldest_waiting = waiting.Int(2);
  }
  std::vector<UploadSummary> out;
  for (const MapNetwork network : kMapNetworks)
    if (auto it = by_network.find(std::string(NetworkKey(network))); it != by_network.end()) {
      it->second.network = it->first;
      out.push_back(it->second);
    }
  return out;
}

}  // namespace norvane::upload
