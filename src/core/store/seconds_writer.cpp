#include "core/store/seconds_writer.h"

#include <algorithm>
#include <random>

#include "core/common/text_format.h"
#include "core/i18n/language_dictionary.h"
#include "core/i18n/window_texts.h"
#include "core/platform/store_location.h"
#include "core/store/pg_db.h"
#include "core/store/seconds_journal.h"

namespace norvane::store {
namespace {

uint64_t CountOf(const std::map<size_t, std::vector<Second>>& batches) {
  uint64_t n = 0;
  for (const auto& [handle, seconds] : batches) n += seconds.size();
  return n;
}

void MoveInto(std::map<size_t, std::vector<Second>>& from, std::map<size_t, std::vector<Second>>& to) {
  for (auto& [handle, seconds] : from) {
    auto& into = to[handle];
    into.insert(into.end(), seconds.begin(), seconds.end());
  }
  from.clear();
}

// A name no other writer has, for the counters it holds in the store.
std::string NewHolder() {
  std::random_device random;
  return Format("%08x%08x", random(), random());
}

int64_t UtcNow() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

}  // namespace

SecondsWriter::SecondsWriter(std::filesystem::path path, UserNotifier& notifier, WriterPauses pauses,
                             std::optional<std::chrono::milliseconds> fold_every,
                             std::optional<std::filesystem::path> memory)
    : path_(std::move(path)),
      server_(IsServerLocation(path_.string())),
      location_(server_ ? WithoutPassword(path_.string()) : path_.string()),
      journal_base_(server_ ? ServerJournalBase(location_, ServerJournalFolder()) : path_),
      // A server's journal holds the seconds while the server is away, maybe for days: it stays on the disk.
      memory_(server_ ? std::nullopt : std::move(memory)),
      notifier_(notifier),
      pauses_(pauses),
      fold_every_(server_ ? std::min(fold_every.value_or(kServerFoldEvery), kServerFoldEvery)
                          : fold_every.value_or(memory_ ? kMemoryFoldEvery : kDiskFoldEvery)),
      holder_(NewHolder()),
      pause_(pauses.first) {
  next_fold_ = std::chrono::steady_clock::now() + fold_every_;
  thread_ = std::thread([this] { Run(); });
}

SecondsWriter::~SecondsWriter() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

std::optional<std::string> SecondsWriter::CheckPath(const std::filesystem::path& path) {
  try {
    // The journals of ended writers are left to the writer, which tells what it finds lost.
    if (IsServerLocation(path.string())) OpenStore(path.string());
    else Store(path, Store::Access::kReadWrite, Store::Journals::kLeave);
  } catch (const PermanentStoreError& e) {
    return e.what();
  } catch (const StoreError&) {
    // A passing problem: the writer reports it and tries again.
  }
  return std::nullopt;
}

SecondsWriter::Handle SecondsWriter::AddCounter(const CounterInfo& info, int64_t now) {
  std::lock_guard lock(mutex_);
  counters_.push_back({info, now, std::nullopt});
  return counters_.size() - 1;
}

void SecondsWriter::Append(Handle counter, int64_t utc, uint32_t count) {
  {
    std::lock_guard lock(mutex_);
    incoming_[counter].push_back({utc, count});
    ++appended_;
    ++health_.queued;
  }
  wake_.notify_one();
}

bool SecondsWriter::Flush(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  const uint64_t target = appended_;
  fold_target_ = std::max(fold_target_, target);
  wake_.notify_one();
  return done_.wait_for(lock, timeout, [&] { return folded_ + health_.dropped >= target; });
}

SecondsWriter::Health SecondsWriter::health() const {
  std::lock_guard lock(mutex_);
  return health_;
}

std::optional<CounterId> SecondsWriter::StoreId(Handle counter) const {
  std::lock_guard lock(mutex_);
  return counter < counters_.size() ? counters_[counter].id : std::nullopt;
}

void SecondsWriter::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    const auto work = [&] { return stop_ || !incoming_.empty() || folded_ + health_.dropped < fold_target_; };
    // A server that is away does not hold up the journal: its seconds are journaled as they come.
    if (health_.failing) wake_.wait_until(lock, retry_at_, [&] { return stop_ || (server_ && !incoming_.empty()); });
    else if (unfolded_count_ > 0) wake_.wait_until(lock, next_fold_, work);
    else wake_.wait(lock, work);
    const bool stopping = stop_;
    const bool fold = stopping || folded_ + health_.dropped < fold_target_ ||
                      std::chrono::steady_clock::now() >= next_fold_;
    const bool retry = stopping || !health_.failing || std::chrono::steady_clock::now() >= retry_at_;
    MoveInto(incoming_, pending_);
    lock.unlock();
    Step(fold, retry);
    if (stopping && journal_ && unfolded_count_ == 0) RemoveJournal();  // all of it is in the database
    if (stopping) ReleaseHolds();
    lock.lock();
    done_.notify_all();
    if (stopping) return;
  }
}

void SecondsWriter::Step(bool fold, bool retry) {
  try {
    if (refused_file_) {
      // Nothing changes while the same file is there; another file (or none) is worth a try.
      if (IdentityOf(path_) == *refused_file_) {
        DropOverflow();
        std::lock_guard lock(mutex_);
        pause_ = std::min(pauses_.longest, pause_ * 2);
        retry_at_ = std::chrono::steady_clock::now() + pause_;
        return;
      }
      refused_file_.reset();
      std::lock_guard lock(mutex_);
      health_.refused = false;
    }
    if (server_) {
      if (!journal_) MakeJournal(location_);
      Journal();
      if (!retry) return;
      Connect();
    } else {
      Open();
    }
    Journal();
    if (fold) Fold();
    if (reported_) notifier_.Status(EnglishText(kTextLineStoreWrittenAgain, {location_}));
    reported_ = false;
    std::lock_guard lock(mutex_);
    pause_ = pauses_.first;
    health_.failing = false;
  } catch (const PermanentStoreError& e) {
    Refused(e.what());
  } catch (const std::exception& e) {
    Failed(e.what());
  }
}

void SecondsWriter::Open() {
  if (store_) {
    // Checked before each second is journaled: a store deleted or replaced under the writer would
    // otherwise take the seconds with it.
    const std::optional<FileIdentity> now = IdentityOf(path_);
    if (now == identity_) return;
    Lost(!now.has_value());
  }
  auto store = std::make_unique<Store>(path_);
  for (const std::string& lost : store->LostJournals()) notifier_.Status(lost);
  const std::string id = store->id();
  store_ = std::move(store);
  store_->HoldAs(holder_, HoldLease());
  identity_ = IdentityOf(path_);
  wal_ = IdentityOf(path_.string() + "-wal");
  shm_ = IdentityOf(path_.string() + "-shm");
  MakeJournal(id);
}

void SecondsWriter::Connect() {
  if (store_) return;
  store_ = OpenStore(path_.string());
  store_->HoldAs(holder_, HoldLease());
  // What a writer that ended (killed, or stopped while the server was away) journaled.
  for (const std::string& lost : FoldEndedJournals(journal_base_, location_, *store_)) notifier_.Status(lost);
}

void SecondsWriter::MakeJournal(const std::string& store_id) {
  std::error_code ignored;
  if (server_) std::filesystem::create_directories(journal_base_.parent_path(), ignored);
  std::string error;
  std::unique_ptr<LockedFile> journal =
      LockedFile::Take(NewJournalPath(journal_base_), LockedFile::Open::kCreateNew, &error);
  if (!journal) throw StoreError(error.empty() ? "cannot make a journal at " + journal_base_.string() : error);
  const std::string header = JournalHeader(store_id);
  std::unique_ptr<LockedFile> kept = memory_ ? MakeKept(journal->path(), header) : nullptr;
  // The file in memory is whole before the journal names it.
  if (!journal->Append(kept ? header + JournalPlaceLine(kept->path()) : header, &error)) {
    if (kept) kept->Remove();
    journal->Remove();
    throw StoreError(error);
  }
  journal_ = std::move(journal);
  kept_ = std::move(kept);
  journal_header_ = header.size();
}

std::unique_ptr<LockedFile> SecondsWriter::MakeKept(const std::filesystem::path& journal, const std::string& header) {
  // The journal names the file on a line of its own.
  if (memory_->string().find('\n') != std::string::npos) return nullptr;
  // Anyone may make files in /dev/shm: the file is made new, never through a link, and readable
  // by no one the store does not let read.
  std::error_code ec;
  const auto store_perms = std::filesystem::status(path_, ec).permissions();
  const bool group = !ec && (store_perms & std::filesystem::perms::group_read) != std::filesystem::perms::none;
  std::string error;
  std::unique_ptr<LockedFile> kept =
      LockedFile::Take(KeptPath(journal, *memory_), LockedFile::Open::kCreateNew, &error, group ? 0640 : 0600);
  if (kept && kept->Append(header, &error)) return kept;
  // A folder in memory that is full or gone: the seconds go beside the store, as without one.
  if (kept) kept->Remove();
  return nullptr;
}

void SecondsWriter::RemoveJournal() {
  // Beside the store first: a journal whose file in memory is gone would be reported lost.
  journal_->Remove();
  journal_.reset();
  if (kept_) kept_->Remove();
  kept_.reset();
}

void SecondsWriter::Lost(bool deleted) {
  // The old journal names the old store; its seconds are still in memory and go to the new one.
  RemoveJournal();
  store_.reset();
  // SQLite leaves the log of a database that has moved (it cannot checkpoint it); a store made
  // again at the path, or put there, would take that log for its own.
  for (const auto& [suffix, identity] : {std::pair{"-wal", wal_}, std::pair{"-shm", shm_}}) {
    const std::filesystem::path left = path_.string() + suffix;
    std::error_code ignored;
    if (identity && IdentityOf(left) == identity) std::filesystem::remove(left, ignored);
  }
  const uint64_t back = unfolded_count_;
  MoveInto(unfolded_, pending_);
  unfolded_count_ = 0;
  {
    std::lock_guard lock(mutex_);
    for (Counter& counter : counters_) counter.id.reset();
    health_.committed -= back;
    health_.queued += back;
  }
  notifier_.Message(EnglishText(deleted ? kTextMsgStoreDeleted : kTextMsgStoreReplaced, {path_.string(), path_.string()}),
                    EnglishText(kTextCaptionLongTermStore));
}

void SecondsWriter::Journal() {
  std::string lines;
  std::vector<Handle> ready;
  for (const auto& [handle, seconds] : pending_) {
    Counter counter;
    {
      std::lock_guard lock(mutex_);
      counter = counters_.at(handle);
    }
    if (!counter.id) {
      // A journal line names the counter by the store's number: a server that is away registers
      // it when it is back.
      if (!store_) continue;
      counter.id = store_->RegisterCounter(counter.info, counter.seen);
      std::lock_guard lock(mutex_);
      counters_[handle].id = counter.id;
    }
    for (const Second& second : seconds) lines += JournalLine({*counter.id, second});
    ready.push_back(handle);
  }
  if (ready.empty()) return;
  std::string error;
  if (!Seconds().Append(lines, &error)) throw StoreError(error);
  uint64_t written = 0;
  for (const Handle handle : ready) {
    std::vector<Second>& seconds = pending_[handle];
    written += seconds.size();
    std::vector<Second>& into = unfolded_[handle];
    into.insert(into.end(), seconds.begin(), seconds.end());
    pending_.erase(handle);
  }
  unfolded_count_ += written;
  std::lock_guard lock(mutex_);
  health_.committed += written;
  health_.queued -= written;
}

void SecondsWriter::Fold() {
  for (auto it = unfolded_.begin(); it != unfolded_.end();) {
    std::optional<CounterId> id;
    {
      std::lock_guard lock(mutex_);
      id = counters_.at(it->first).id;
    }
    const AppendResult result = store_->AppendSeconds(*id, it->second);
    if (result.differing > 0 && conflict_told_.insert(it->first).second) {
      std::lock_guard lock(mutex_);
      notifier_.Status(std::to_string(result.differing) + " seconds of " + counters_.at(it->first).info.version +
                       " were in the store already with other counts: another program records the same counter "
                       "into " + location_ + ". The stored counts were kept.");
    }
    it = unfolded_.erase(it);
  }
  store_->RenewHolds(UtcNow());
  // A kill before the journal is emptied folds it once more at the next opening: the store keeps
  // the seconds it holds as they are, so none is counted twice.
  std::string error;
  if (!Seconds().Truncate(journal_header_, &error)) throw StoreError(error);
  next_fold_ = std::chrono::steady_clock::now() + fold_every_;
  std::lock_guard lock(mutex_);
  folded_ += unfolded_count_;
  unfolded_count_ = 0;
}

int64_t SecondsWriter::HoldLease() const {
  // Holds are renewed at every fold: a writer that was killed lets go of its counters a few folds later.
  return 3 * std::chrono::duration_cast<std::chrono::seconds>(fold_every_).count() + 60;
}

void SecondsWriter::ReleaseHolds() {
  {
    std::lock_guard lock(mutex_);
    if (!store_ || health_.failing) return;
  }
  try {
    store_->ReleaseHolds();
  } catch (const std::exception&) {
    // The lease runs out by itself.
  }
}

void SecondsWriter::DropOverflow() {
  uint64_t queued = CountOf(pending_);
  uint64_t dropped = 0;
  for (auto& [handle, seconds] : pending_) {
    if (queued <= kMaxQueued) break;
    const uint64_t cut = std::min<uint64_t>(seconds.size(), queued - kMaxQueued);
    seconds.erase(seconds.begin(), seconds.begin() + static_cast<std::ptrdiff_t>(cut));
    queued -= cut;
    dropped += cut;
  }
  std::lock_guard lock(mutex_);
  health_.dropped += dropped;
  health_.queued -= dropped;
}

void SecondsWriter::Failed(const std::string& reason) {
  // A connection that failed may hold a broken transaction or a stale view of a replaced file;
  // the next try starts afresh. The journal left behind is folded by that next opening. A
  // server's journal stays: it takes the seconds while the server is away.
  if (!server_) {
    journal_.reset();
    kept_.reset();
  }
  store_.reset();
  DropOverflow();
  const bool first = !reported_;
  reported_ = true;
  {
    std::lock_guard lock(mutex_);
    ++health_.failures;
    health_.failing = true;
    pause_ = first ? pauses_.first : std::min(pauses_.longest, pause_ * 2);
    retry_at_ = std::chrono::steady_clock::now() + pause_;
  }
  if (first)
    notifier_.Message(server_ && journal_ ? EnglishText(kTextLineStoreCannotWriteKept,
                                                        {location_, reason, journal_->path().string()})
                                          : EnglishText(kTextLineStoreCannotWrite, {location_, reason}),
                      "Long-term store");
}

void SecondsWriter::Refused(const std::string& reason) {
  journal_.reset();
  kept_.reset();
  store_.reset();
  refused_file_ = IdentityOf(path_);
  reported_ = true;
  DropOverflow();
  {
    std::lock_guard lock(mutex_);
    ++health_.failures;
    health_.failing = true;
    health_.refused = true;
    pause_ = pauses_.first;  // only the path is looked at until the file there changes
    retry_at_ = std::chrono::steady_clock::now() + pause_;
  }
  notifier_.Message(EnglishText(kTextLineStoreCannotUse, {reason, location_}), "Long-term store");
}

}  // namespace norvane::store
