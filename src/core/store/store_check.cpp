// The store's self-check: SQLite's own integrity check and the invariants the store keeps.
#include <map>

#include "core/common/text_format.h"
#include "core/store/store.h"
#include "core/store/store_statements.h"

namespace norvane::store {
namespace {

constexpr size_t kMaxProblems = 50;

bool SameAggregate(const Aggregate& a, const Aggregate& b) {
  return a.sum == b.sum && a.measured == b.measured && a.min_second == b.min_second && a.max_second == b.max_second &&
         a.full_minutes == b.full_minutes && a.min_cpm == b.min_cpm && a.max_cpm == b.max_cpm &&
         a.max_cpm_at == b.max_cpm_at;
}

std::string Describe(const Aggregate& a) {
  return Format("sum %llu, %llu s, seconds %u..%u, %llu whole minutes, CPM %u..%u (peak at %lld)",
                static_cast<unsigned long long>(a.sum), static_cast<unsigned long long>(a.measured), a.min_second,
                a.max_second, static_cast<unsigned long long>(a.full_minutes), a.min_cpm, a.max_cpm,
                static_cast<long long>(a.max_cpm_at));
}

}  // namespace

CheckReport Store::Check() {
  CheckReport report;
  const auto problem = [&](std::string text) {
    if (report.problems.size() < kMaxProblems) report.problems.push_back(std::move(text));
  };
  {
    Statement integrity(db_.handle(), "PRAGMA integrity_check");
    while (integrity.Step())
      if (const std::string line = integrity.Text(0); line != "ok") problem("SQLite: " + line);
    Statement keys(db_.handle(), "PRAGMA foreign_key_check");
    while (keys.Step()) problem("a row of " + keys.Text(0) + " names a counter the store does not hold");
  }

  // Every minute row must decode to the sums beside it; the summaries must equal the minutes.
  using Key = std::tuple<CounterId, int64_t, int64_t>;
  std::map<Key, Aggregate> expected;
  Statement minutes(db_.handle(), "SELECT minute, gaps, counts, max, sum, measured, counter FROM seconds ORDER BY counter, minute");
  while (minutes.Step()) {
    const CounterId counter = minutes.Int(6);
    const int64_t minute = minutes.Int(0);
    MinuteBlock block;
    if (!UnpackMinute(static_cast<uint64_t>(minutes.Int(1)), static_cast<uint32_t>(minutes.Int(3)), minutes.Blob(2),
                      block)) {
      problem(Format("counter %lld, minute %lld: the counts do not fit the mask of measured seconds",
                     static_cast<long long>(counter), static_cast<long long>(minute)));
      continue;
    }
    if (block.measured == 0 || block.Sum() != static_cast<uint64_t>(minutes.Int(4)) ||
        block.MeasuredCount() != minutes.Int(5) || block.Max() != static_cast<uint64_t>(minutes.Int(3)))
      problem(Format("counter %lld, minute %lld: sum, measured or max differ from the stored seconds",
                     static_cast<long long>(counter), static_cast<long long>(minute)));
    const Aggregate a = MinuteAggregate(block, minute, minute * 60, minute * 60 + 60);
    for (int64_t level : kSummaryLevels) expected[{counter, level, FloorDiv(minute * 60, level) * level}].Merge(a);
  }
  Statement summaries(db_.handle(),
                      "SELECT start, sum, measured, min_second, max_second, full_minutes, min_cpm, max_cpm, "
                      "max_cpm_at, counter, level FROM summaries");
  while (summaries.Step()) {
    const Aggregate stored = SummaryAggregate(summaries);
    const Key key{summaries.Int(9), summaries.Int(10), summaries.Int(0)};
    const auto found = expected.find(key);
    const Aggregate want = found == expected.end() ? Aggregate{} : found->second;
    if (found != expected.end()) expected.erase(found);
    if (!SameAggregate(stored, want))
      problem(Format("counter %lld, %s summary at %lld: holds %s, the seconds give %s",
                     static_cast<long long>(std::get<0>(key)), SummaryLevelName(std::get<1>(key)),
                     static_cast<long long>(std::get<2>(key)), Describe(stored).c_str(), Describe(want).c_str()));
  }
  for (const auto& [key, want] : expected)
    problem(Format("counter %lld, %s summary at %lld is missing (the seconds give %s)",
                   static_cast<long long>(std::get<0>(key)), SummaryLevelName(std::get<1>(key)),
                   static_cast<long long>(std::get<2>(key)), Describe(want).c_str()));

  // Records of one time and type are numbered 0, 1, 2...: a hole or a repeat means a record was
  // lost or added twice.
  Statement numbering(db_.handle(),
                      "SELECT counter, time, save_type, count(*), max(seq) FROM history "
                      "GROUP BY counter, time, save_type HAVING count(*) != max(seq) + 1");
  while (numbering.Step())
    problem(Format("counter %lld: history records at %lld of type %lld are numbered out of order",
                   static_cast<long long>(numbering.Int(0)), static_cast<long long>(numbering.Int(1)),
                   static_cast<long long>(numbering.Int(2))));
  // The history summaries must equal a fresh grouping of the records.
  for (int64_t level : {kHour, kDay}) {
    const std::string l = std::to_string(level);
    const std::string grouped = "SELECT counter, save_type, " + l + ", time - ((time % " + l + ") + " + l + ") % " + l +
                                " AS start, count(*), sum(value), min(value), max(value) FROM history "
                                "GROUP BY counter, save_type, start";
    const std::string stored =
        "SELECT counter, save_type, level, start, records, sum, min_value, max_value FROM history_summaries "
        "WHERE level = " + l;
    Statement differ(db_.handle(), "SELECT counter, start FROM (" + grouped + " EXCEPT " + stored + ") UNION " +
                                       "SELECT counter, start FROM (" + stored + " EXCEPT " + grouped + ")");
    while (differ.Step())
      problem(Format("counter %lld, %s history summary at %lld differs from the records",
                     static_cast<long long>(differ.Int(0)), level == kHour ? "hour" : "day",
                     static_cast<long long>(differ.Int(1))));
  }
  return report;
}

}  // namespace norvane::store
