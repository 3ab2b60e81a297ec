#include <gtest/gtest.h>

#include <set>

#include "core/files/history_csv.h"
#include "core/store/last_download.h"
#include "sim/history_generator.h"
#include "tests/core/store/any_store.h"
#include "tests/core/store/time_zone.h"

namespace norvane::store {
namespace {

std::vector<uint8_t> Image(uint32_t seed) {
  sim::HistoryOptions options;
  options.image_size = 0x10000;
  options.seed = seed;
  options.start = StampTime{26, 3, 20, 9, 15, 0};
  return sim::GenerateHistory(options);
}

// The end of the written data, where a download of a counter still logging would stop.
size_t DataEnd(const std::vector<uint8_t>& image) {
  size_t end = image.size();
  while (end > 0 && image[end - 1] == 0xFF) --end;
  return end;
}

// The import's rules on each database the store has.
class HistoryImportTest : public AnyStoreTest {
 protected:
  const testing::TimeZone zone_{"Europe/Berlin"};
  SystemClock clock_;
};

TEST_P(HistoryImportTest, SameImageTwiceAddsEveryRecordOnce) {
  const auto store = Open();
  CounterStore& s = *store;
  const CounterId c = s.RegisterCounter({"", "", "ZQT-400", "", "bench"}, 0);
  const std::vector<uint8_t> image = Image(3);
  const ImportResult first = s.ImportHistory(c, ImageView(image.data(), image.size()), clock_);
  ASSERT_GT(first.records, 1000u);
  EXPECT_EQ(first.added, first.records);
  EXPECT_GT(first.notes, 0u);
  EXPECT_EQ(first.notes_added, first.notes);

  const ImportResult second = s.ImportHistory(c, ImageView(image.data(), image.size()), clock_);
  EXPECT_EQ(second.records, first.records);
  EXPECT_EQ(second.added, 0u);
  EXPECT_EQ(second.notes_added, 0u);
  EXPECT_EQ(s.History(c, INT64_MIN / 2, INT64_MAX / 2).size(), first.records);
  EXPECT_TRUE(s.Check().ok());

  // The stored records are the CSV's values, in its order: the per-minute value cells and the
  // per-second count cells read straight from the export.
  const std::string csv = BuildHistoryCsv(ImageView(image.data(), image.size()), WriterOptions{});
  uint64_t csv_total = 0;
  size_t pos = csv.find("\r\n", csv.find("\r\n") + 2);
  while ((pos = csv.find("\r\n20", pos)) != std::string::npos) {
    pos += 2;
    const size_t end = csv.find("\r\n", pos);
    std::vector<std::string> cells;
    size_t a = pos;
    for (size_t b; (b = csv.find(',', a)) < end; a = b + 1) cells.push_back(csv.substr(a, b - a));
    const bool per_second = cells[1].find("Second") != std::string::npos;
    for (size_t k = per_second ? 4 : 3; k < cells.size(); ++k) {
      if (!cells[k].empty()) csv_total += std::stoull(cells[k]);
      if (!per_second) break;
    }
  }
  const auto stored = s.History(c, INT64_MIN / 2, INT64_MAX / 2);
  uint64_t stored_total = 0;
  for (const HistoryRecord& r : stored) stored_total += r.value;
  EXPECT_EQ(stored_total, csv_total);
}

TEST_P(HistoryImportTest, OverlappingDownloadsAddEachRecordOnce) {
  const std::vector<uint8_t> full = Image(9);
  const size_t end = DataEnd(full);
  // The earlier download stopped part-way, inside a session, with erased flash after it.
  std::vector<uint8_t> earlier(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(end * 6 / 10));
  earlier.resize(full.size(), 0xFF);

  const auto store = Open();
  CounterStore& s = *store;
  const CounterId c = s.RegisterCounter({"", "", "ZQT-400", "", "roof"}, 0);
  const ImportResult a = s.ImportHistory(c, ImageView(earlier.data(), earlier.size()), clock_);
  // Kept as "Download New" keeps it: the next import looks up only the rows after it.
  KeepLastDownload(s, c, earlier, 0);
  const ImportResult b = s.ImportHistory(c, ImageView(full.data(), full.size()), clock_);
  ASSERT_GT(a.added, 0u);
  EXPECT_EQ(a.added + b.added, b.records);

  const CounterId f = s.RegisterCounter({"", "", "ZQT-400", "", "fresh"}, 0);
  s.ImportHistory(f, ImageView(full.data(), full.size()), clock_);
  const auto merged = s.History(c, INT64_MIN / 2, INT64_MAX / 2);
  const auto direct = s.History(f, INT64_MIN / 2, INT64_MAX / 2);
  ASSERT_EQ(merged.size(), direct.size());
  for (size_t i = 0; i < merged.size(); ++i) {
    ASSERT_EQ(merged[i].time, direct[i].time) << i;
    ASSERT_EQ(merged[i].value, direct[i].value) << i;
  }
  EXPECT_TRUE(s.Check().ok());
}

// A download kept while its import failed is no proof of anything: the next import adds all.
TEST_P(HistoryImportTest, AKeptDownloadThatWasNeverImportedSkipsNothing) {
  const std::vector<uint8_t> full = Image(9);
  std::vector<uint8_t> earlier(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(DataEnd(full) * 6 / 10));
  earlier.resize(full.size(), 0xFF);
  const auto store = Open();
  CounterStore& s = *store;
  const CounterId c = s.RegisterCounter({"", "", "ZQT-400", "", "roof"}, 0);
  KeepLastDownload(s, c, earlier, 0);
  const ImportResult all = s.ImportHistory(c, ImageView(full.data(), full.size()), clock_);
  EXPECT_EQ(all.added, all.records);
  EXPECT_GT(all.notes_added, 0u);
}

// The chart reads long spans of downloaded history from the summaries: they must hold what the
// records hold, however the records arrived, and the check must notice when they do not.
TEST_P(HistoryImportTest, SummariesOfDownloadedRecordsMatchTheRecords) {
  const std::vector<uint8_t> full = Image(21);
  std::vector<uint8_t> earlier(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(DataEnd(full) / 2));
  earlier.resize(full.size(), 0xFF);
  {
    const auto store = Open();
    CounterStore& s = *store;
    const CounterId c = s.RegisterCounter({"", "", "ZQT-400", "", "shed"}, 0);
    s.ImportHistory(c, ImageView(earlier.data(), earlier.size()), clock_);
    s.ImportHistory(c, ImageView(full.data(), full.size()), clock_);
    const auto records = s.History(c, INT64_MIN / 2, INT64_MAX / 2);
    ASSERT_FALSE(records.empty());
    const int64_t from = records.front().time - 7 * 86400, to = records.back().time + 1;
    for (uint8_t type = kEverySecond; type <= kThresholdMinute; ++type) {
      HistoryAggregate want;
      for (const HistoryRecord& r : records)
        if (r.save_type == type) want.Merge({1, r.value, r.value, r.value});
      for (size_t points : {size_t{40}, size_t{2000}, size_t{100000000}}) {
        const HistorySeries series = s.QueryHistory(c, type, from, to, points);
        HistoryAggregate got;
        for (const HistoryPoint& p : series.points) got.Merge(p.values);
        EXPECT_EQ(got.records, want.records) << int{type} << " at level " << series.source_level;
        EXPECT_EQ(got.sum, want.sum);
        EXPECT_EQ(got.max, want.max);
        EXPECT_EQ(got.min, want.min);
      }
    }
    EXPECT_TRUE(s.Check().ok());
  }
  Raw("UPDATE history_summaries SET max_value = max_value + 1 WHERE (counter, save_type, level, start) = "
      "(SELECT counter, save_type, level, start FROM history_summaries WHERE level = 3600 LIMIT 1)");
  const CheckReport report = Open()->Check();
  ASSERT_EQ(report.problems.size(), 1u);
  EXPECT_NE(report.problems[0].find("history summary"), std::string::npos) << report.problems[0];
}

INSTANTIATE_TEST_SUITE_P(Stores, HistoryImportTest, ::testing::Values(Backend::kSqlite, Backend::kPostgres), BackendName);

}  // namespace
}  // namespace norvane::store
