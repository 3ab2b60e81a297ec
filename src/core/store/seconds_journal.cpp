#include "core/store/seconds_journal.h"

#include <charconv>
#include <map>
#include <memory>
#include <set>
#include <random>

#include "core/common/text_format.h"
#include "core/platform/file_read.h"
#include "core/platform/locked_file.h"
#include "core/platform/memory_folder.h"

namespace norvane::store {
namespace {

constexpr std::string_view kMagic = "norvane seconds journal 1 ";
constexpr std::string_view kInfix = "-seconds-";
constexpr std::string_view kPlace = "kept in ";

// FNV-1a: enough to tell a line from the zeros or old bytes a power cut can leave in a file.
uint32_t Check(std::string_view text) {
  uint32_t h = 2166136261u;
  for (const char c : text) h = (h ^ static_cast<uint8_t>(c)) * 16777619u;
  return h;
}

template <typename T>
bool Field(std::string_view& text, T& value, int base = 10) {
  const size_t end = std::min(text.find(' '), text.size());
  const auto [ptr, ec] = std::from_chars(text.data(), text.data() + end, value, base);
  if (ec != std::errc() || ptr != text.data() + end || end == 0) return false;
  text.remove_prefix(std::min(end + 1, text.size()));
  return true;
}

}  // namespace

std::filesystem::path NewJournalPath(const std::filesystem::path& store) {
  std::random_device random;
  const uint64_t tag = (uint64_t{random()} << 32) | random();
  return store.string() + std::string(kInfix) + Format("%016llx", static_cast<unsigned long long>(tag));
}

std::vector<std::filesystem::path> JournalsOf(const std::filesystem::path& store) {
  std::vector<std::filesystem::path> found;
  const std::string prefix = store.filename().string() + std::string(kInfix);
  const std::filesystem::path folder = store.has_parent_path() ? store.parent_path() : ".";
  std::error_code ec;
  for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
    if (it->path().filename().string().starts_with(prefix)) found.push_back(it->path());
  return found;
}

std::filesystem::path ServerJournalBase(std::string_view location, const std::filesystem::path& folder) {
  uint64_t h = 14695981039346656037ull;
  for (const char c : location) h = (h ^ static_cast<uint8_t>(c)) * 1099511628211ull;
  return folder / Format("postgresql-%016llx", static_cast<unsigned long long>(h));
}

std::string JournalHeader(std::string_view store_id) { return std::string(kMagic) + std::string(store_id) + "\n"; }

std::string JournalLine(const JournalEntry& e) {
  const std::string body = Format("%lld %lld %u", static_cast<long long>(e.counter),
                                  static_cast<long long>(e.second.time), e.second.count);
  return body + Format(" %08x\n", Check(body));
}

std::string JournalPlaceLine(const std::filesystem::path& kept) {
  const std::string body = std::string(kPlace) + kept.string();
  return body + Format(" %08x\n", Check(body));
}

std::filesystem::path KeptPath(const std::filesystem::path& journal, const std::filesystem::path& folder) {
  return folder / ("norvane-" + journal.filename().string());
}

namespace {

// The file in memory named by the line after the header, if there is such a line.
std::optional<std::filesystem::path> PlaceOf(std::string_view text, std::string_view store_id) {
  const std::string header = JournalHeader(store_id);
  if (!text.starts_with(header)) return std::nullopt;
  text.remove_prefix(header.size());
  const std::string_view line = text.substr(0, text.find('\n'));
  const size_t last = line.rfind(' ');
  if (!line.starts_with(kPlace) || last == std::string_view::npos || last == line.size() - 1) return std::nullopt;
  std::string_view tail = line.substr(last + 1);
  uint32_t check = 0;
  if (!Field(tail, check, 16) || check != Check(line.substr(0, last))) return std::nullopt;
  return std::filesystem::path(std::string(line.substr(kPlace.size(), last - kPlace.size())));
}

// The journal beside the store is written once, when its writer begins: a restart of the
// machine since then took the file in memory with it; otherwise someone removed it.
std::string HowLost(const std::filesystem::path& journal, const std::filesystem::path& kept) {
  std::error_code ec;
  const auto written = std::filesystem::last_write_time(journal, ec);
  const std::optional<int64_t> started = MachineStartTime();
  const std::string what = "The seconds journaled in memory in " + kept.string() + " for " + journal.string() +
                           " are lost: ";
  if (!ec && started) {
    const int64_t began = std::chrono::duration_cast<std::chrono::seconds>(
                              std::chrono::file_clock::to_sys(written).time_since_epoch())
                              .count();
    if (*started > began) return what + "the machine restarted after their writer began (a power cut or a reboot).";
    return what + "the file was removed while the machine ran.";
  }
  return what + "the file is gone.";
}

}  // namespace

std::optional<JournalSeconds> ReadJournalSeconds(const std::filesystem::path& journal, std::string_view text,
                                                 std::string_view store_id) {
  const std::optional<std::filesystem::path> place = PlaceOf(text, store_id);
  if (!place) {
    std::optional<std::vector<JournalEntry>> entries = ParseJournal(text, store_id);
    if (!entries) return std::nullopt;
    return JournalSeconds{std::move(*entries), std::nullopt, std::nullopt};
  }
  JournalSeconds seconds;
  seconds.kept = place;
  std::string error;
  ReadFailure failure = ReadFailure::kNone;
  const std::optional<std::string> kept = ReadFileOwnedLike(*place, journal, kMaxJournalBytes, &error, &failure);
  if (!kept) {
    if (failure == ReadFailure::kMissing) seconds.lost = HowLost(journal, *place);
    else seconds.unreadable = true;
    return seconds;
  }
  if (auto entries = ParseJournal(*kept, store_id)) seconds.entries = std::move(*entries);
  return seconds;
}

std::optional<std::vector<JournalEntry>> ParseJournal(std::string_view text, std::string_view store_id) {
  const std::string header = JournalHeader(store_id);
  if (!text.starts_with(header)) return std::nullopt;
  text.remove_prefix(header.size());
  std::vector<JournalEntry> entries;
  for (size_t end; (end = text.find('\n')) != std::string_view::npos; text.remove_prefix(end + 1)) {
    const std::string_view line = text.substr(0, end);
    const size_t last = line.rfind(' ');
    if (last == std::string_view::npos) continue;
    std::string_view rest = line;
    JournalEntry e;
    uint32_t check = 0;
    std::string_view tail = line.substr(last + 1);
    if (!Field(rest, e.counter) || !Field(rest, e.second.time) || !Field(rest, e.second.count) ||
        !Field(tail, check, 16) || check != Check(line.substr(0, last)))
      continue;
    entries.push_back(e);
  }
  return entries;
}

std::vector<std::string> FoldEndedJournals(const std::filesystem::path& base, std::string_view store_id,
                                           CounterStore& store) {
  std::vector<std::string> lost;
  for (const std::filesystem::path& journal : JournalsOf(base)) {
    std::string error;
    const std::unique_ptr<LockedFile> file = LockedFile::Take(journal, LockedFile::Open::kExisting, &error);
    if (!file) continue;  // its writer is alive, or another opener folded it first
    std::string text;
    // An empty journal is one its writer is about to begin.
    if (!file->ReadAll(&text, &error) || text.empty()) continue;
    // A journal of another store (this one replaced it) has no counters here.
    const std::optional<JournalSeconds> read = ReadJournalSeconds(journal, text, store_id);
    // Its seconds stay where they are until they can be read.
    if (read && read->unreadable) continue;
    if (read && read->lost) lost.push_back(*read->lost);
    if (read && !read->entries.empty()) {
      std::map<CounterId, std::vector<Second>> seconds;
      for (const JournalEntry& e : read->entries) seconds[e.counter].push_back(e.second);
      std::set<CounterId> known;
      for (const CounterRow& row : store.Counters()) known.insert(row.id);
      for (const auto& [counter, list] : seconds)
        if (known.contains(counter)) store.AppendSeconds(counter, list);
    }
    // The journal beside the store first: a file in memory left alone is only a few bytes until
    // the next restart, but a journal beside the store without its file would be reported lost.
    file->Remove();
    if (read && read->kept) {
      std::error_code ignored;
      std::filesystem::remove(*read->kept, ignored);
    }
  }
  return lost;
}

}  // namespace norvane::store
