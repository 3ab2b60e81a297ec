#include "core/store/seconds_journal.h"

#include <charconv>
#include <map>
#include <memory>
#include <set>
#include <random>

#include "core/common/text_format.h"
#include "core/platform/locked_file.h"

namespace norvane::store {
namespace {

constexpr std::string_view kMagic = "norvane seconds journal 1 ";
constexpr std::string_view kInfix = "-seconds-";

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

void FoldEndedJournals(const std::filesystem::path& base, std::string_view store_id, CounterStore& store) {
  for (const std::filesystem::path& journal : JournalsOf(base)) {
    std::string error;
    const std::unique_ptr<LockedFile> file = LockedFile::Take(journal, LockedFile::Open::kExisting, &error);
    if (!file) continue;  // its writer is alive, or another opener folded it first
    std::string text;
    // An empty journal is one its writer is about to begin.
    if (!file->ReadAll(&text, &error) || text.empty()) continue;
    // A journal of another store (this one replaced it) has no counters here.
    if (const auto entries = ParseJournal(text, store_id); entries && !entries->empty()) {
      std::map<CounterId, std::vector<Second>> seconds;
      for (const JournalEntry& e : *entries) seconds[e.counter].push_back(e.second);
      std::set<CounterId> known;
      for (const CounterRow& row : store.Counters()) known.insert(row.id);
      for (const auto& [counter, list] : seconds)
        if (known.contains(counter)) store.AppendSeconds(counter, list);
    }
    file->Remove();
  }
}

}  // namespace norvane::store
