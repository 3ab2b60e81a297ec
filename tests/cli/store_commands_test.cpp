#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <ctime>

#include "core/files/realtime_binary.h"
#include "core/store/store_chart_queries.h"
#include "core/store/store_time.h"
#include "sim/history_generator.h"
#include "tests/common/cli_run.h"
#include "tests/common/temp_dir.h"
#include "tests/core/store/any_store.h"
#include "tests/core/store/time_zone.h"

namespace norvane {
namespace {

using store::Second;
using testing::ReadAll;

// The commands on each database the store has: a station's SQLite file and a centre's server.
class StoreCommandsTest : public store::AnyStoreTest {
 protected:
  testing::CliResult Run(std::vector<std::string> args) {
    args.insert(args.begin(), {"--store", location_});
    return testing::RunCli(dir_, std::move(args));
  }

  // Seconds [from, to) of one counter, except those `skip` leaves out.
  template <typename Skip>
  void Fill(int64_t from, int64_t to, Skip skip) {
    const auto s = Open();
    const auto c = s->RegisterCounter({"ZQT-400 V4.2", "1", "ZQT-400", "/dev/ttyUSB0", ""}, from);
    std::vector<Second> seconds;
    for (int64_t t = from; t < to; ++t)
      if (!skip(t)) seconds.push_back({t, static_cast<uint32_t>((t * 7) % 5)});
    s->AppendSeconds(c, seconds);
  }

  // The local minute text of every row of a realtime CSV export, in file order.
  static std::vector<std::string> CsvRowTimes(const std::string& csv) {
    std::vector<std::string> times;
    size_t pos = 0;
    for (int header = 0; header < 2; ++header) pos = csv.find("\r\n", pos) + 2;
    while (pos < csv.size()) {
      const size_t end = csv.find("\r\n", pos);
      times.push_back(csv.substr(pos, 16));
      pos = end + 2;
    }
    return times;
  }

  static std::string LocalMinute(int64_t t) {
    const std::time_t tt = static_cast<std::time_t>(t);
    std::tm tm{};
    localtime_r(&tt, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &tm);
    return text;
  }

  const testing::TimeZone zone_{"Europe/Berlin"};
};

// Both clock changes of a year: every stored minute appears once, in the order it was measured,
// at the local time it had then; a gap leaves rows out, never zeros, and a minute measured in part
// is a row whose missing second is an empty cell.
TEST_P(StoreCommandsTest, ExportAcrossDaylightSavingChangesHasEveryMinuteOnceInOrder) {
  for (const auto& [from_text, to_text, utc_from] :
       {std::tuple{"2026-03-29T01:00", "2026-03-29T04:00", int64_t{1'774'742'400}},     // 00:00 UTC
        std::tuple{"2026-10-25T01:30", "2026-10-25T03:30", int64_t{1'792'882'800}}}) {  // 2026-10-24 23:00 UTC
    NewStore();
    const int64_t gap_from = utc_from + 3600 + 600;
    Fill(utc_from, utc_from + 5 * 3600, [&](int64_t t) { return (t >= gap_from && t < gap_from + 300) || t == gap_from + 1000; });
    const auto out = (dir_ / "range.csv").string();
    const auto r = Run({"store", "export", "--from", from_text, "--to", to_text, out});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("1 partly measured minute"), std::string::npos) << r.err;

    SystemClock clock;
    const int64_t from = *store::ParseTime(from_text, clock, nullptr), to = *store::ParseTime(to_text, clock, nullptr);
    std::vector<std::string> expected;
    for (int64_t m = from; m + 60 <= to; m += 60) {
      const bool gap = m + 60 > gap_from && m < gap_from + 300;
      if (!gap) expected.push_back(LocalMinute(m));
    }
    const std::string csv = ReadAll(out);
    const std::vector<std::string> rows = CsvRowTimes(csv);
    EXPECT_EQ(rows, expected) << from_text;
    // The cut minute: its CPM counts the 59 measured seconds, and its 41st second is empty.
    const int64_t cut = gap_from + 960;
    const size_t row = csv.find("\r\n" + LocalMinute(cut)) + 2;
    std::vector<std::string> cells;
    for (size_t p = row, e; (e = csv.find_first_of(",\r", p)) < csv.find("\r\n", row); p = e + 1)
      cells.push_back(csv.substr(p, e - p));
    ASSERT_EQ(cells.size(), 63u) << from_text;
    EXPECT_EQ(cells[3 + 40], "");
    uint64_t sum = 0;
    for (int64_t t = cut; t < cut + 60; ++t) sum += t == gap_from + 1000 ? 0 : static_cast<uint64_t>((t * 7) % 5);
    EXPECT_EQ(cells[2], std::to_string(sum));
    EXPECT_EQ(cells[3 + 39], std::to_string((cut + 39) * 7 % 5));
    EXPECT_GT(rows.size(), 100u);
  }
}

TEST_P(StoreCommandsTest, HtmlMinuteLogAndBinaryExports) {
  const int64_t t0 = 1'775'000'040;
  Fill(t0, t0 + 7200, [&](int64_t t) { return t >= t0 + 3600 && t < t0 + 3720; });
  SystemClock clock;
  const std::string from = store::FormatTime(t0, clock), middle = store::FormatTime(t0 + 3600, clock);

  ASSERT_EQ(Run({"store", "export", "--from", from, (dir_ / "all.html").string()}).code, 0);
  const std::string html = ReadAll(dir_ / "all.html");
  size_t rows = 0;
  for (size_t p = 0; (p = html.find("<TR><TD>", p)) != std::string::npos; ++p) ++rows;
  EXPECT_EQ(rows, 120u - 2u);
  EXPECT_TRUE(html.ends_with("</TABLE></html>"));

  ASSERT_EQ(Run({"store", "export", (dir_ / "all.R@H").string()}).code, 0);
  const std::string log = ReadAll(dir_ / "all.R@H");
  EXPECT_EQ(static_cast<size_t>(std::count(log.begin(), log.end(), '\n')), 118u);

  // A realtime binary cannot hold a gap: the command says where it is.
  const auto gap = Run({"store", "export", (dir_ / "all.rbn").string()});
  EXPECT_EQ(gap.code, 1);
  EXPECT_NE(gap.err.find(middle), std::string::npos) << gap.err;
  const auto first_hour = Run({"store", "export", "--to", middle, (dir_ / "hour.rbn").string()});
  ASSERT_EQ(first_hour.code, 0) << first_hour.err;
  const std::string bytes = ReadAll(dir_ / "hour.rbn");
  std::string error;
  const auto recording = ParseRealtimeBinary(std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), &error);
  ASSERT_TRUE(recording) << error;
  ASSERT_EQ(recording->counts.size(), 3600u);
  EXPECT_EQ(recording->counts[17], static_cast<uint32_t>(((t0 + 17) * 7) % 5));
}

TEST_P(StoreCommandsTest, InfoStatsAndCheckInTextAndJson) {
  const int64_t t0 = 1'775'000'040;
  Fill(t0, t0 + 600, [&](int64_t t) { return t >= t0 + 200 && t < t0 + 320; });

  const auto info = Run({"store", "info", "--json"});
  ASSERT_EQ(info.code, 0) << info.err;
  const auto json = nlohmann::json::parse(info.out);
  ASSERT_EQ(json["counters"].size(), 1u);
  const auto& c = json["counters"][0];
  EXPECT_EQ(c["measured_seconds"], 480);
  EXPECT_EQ(c["gaps"], 1);
  ASSERT_EQ(c["long_gaps"].size(), 1u);
  EXPECT_EQ(c["long_gaps"][0]["seconds"], 120);
  EXPECT_EQ(c["model"], "ZQT-400");
  const auto text = Run({"store", "info"});
  EXPECT_NE(text.out.find("480 measured"), std::string::npos) << text.out;

  SystemClock clock;
  const auto stats = Run({"store", "stats", "--from", store::FormatTime(t0, clock), "--to",
                          store::FormatTime(t0 + 600, clock), "--json"});
  ASSERT_EQ(stats.code, 0) << stats.err;
  const auto s = nlohmann::json::parse(stats.out);
  const store::Stats want = Open(store::StoreAccess::kReadOnly)->ComputeStats(1, t0, t0 + 600, kDefaultConversionTable);
  EXPECT_EQ(s["counts"], want.counts);
  EXPECT_DOUBLE_EQ(s["mean_cpm"].get<double>(), want.mean_cpm);
  EXPECT_DOUBLE_EQ(s["mean_cpm_95"][1].get<double>(), want.cpm_high);
  EXPECT_EQ(s["max_cpm"], *want.max_cpm);

  EXPECT_EQ(Run({"store", "check"}).code, 0);
  const auto bad_time = Run({"store", "stats", "--from", "soon"});
  EXPECT_EQ(bad_time.code, 2);
  EXPECT_NE(bad_time.err.find("'soon' is not a time"), std::string::npos);
  const auto no_store = testing::RunCli(dir_, {"--store", (dir_ / "none.sqlite").string(), "store", "info"});
  EXPECT_EQ(no_store.code, 1);
  EXPECT_NE(no_store.err.find("no store"), std::string::npos) << no_store.err;
}

TEST_P(StoreCommandsTest, ImportOfTheSameDumpTwiceAddsNothingTheSecondTime) {
  sim::HistoryOptions options;
  options.image_size = 0x10000;
  options.start = StampTime{26, 5, 2, 8, 0, 0};
  const auto image = sim::GenerateHistory(options);
  testing::WriteAll(dir_ / "d.bin", std::string(image.begin(), image.end()));
  const auto first = Run({"--model", "ZQT-400", "store", "import", (dir_ / "d.bin").string(), "--json"});
  ASSERT_EQ(first.code, 0) << first.err;
  const auto a = nlohmann::json::parse(first.out);
  EXPECT_GT(a["added"].get<int>(), 0);
  const auto second = Run({"--model", "ZQT-400", "store", "import", (dir_ / "d.bin").string(), "--json"});
  const auto b = nlohmann::json::parse(second.out);
  EXPECT_EQ(b["added"], 0);
  EXPECT_EQ(b["records"], a["records"]);
  // The history's span is shown in local time, inside the generated sessions' dates.
  const auto info = nlohmann::json::parse(Run({"store", "info", "--json"}).out);
  EXPECT_EQ(info["counters"][0]["history_records"], a["records"]);
  EXPECT_TRUE(info["counters"][0]["history_first"].get<std::string>().starts_with("2026-05-02T08:00:00+02:00"))
      << info.dump();
  EXPECT_EQ(Run({"store", "import", (dir_ / "d.bin").string()}).code, 2);  // no --model
  // Nothing was measured live: the stats say so and give the downloads' own range.
  const auto stats = Run({"store", "stats"});
  ASSERT_EQ(stats.code, 0) << stats.err;
  EXPECT_EQ(stats.out.find("1970"), std::string::npos) << stats.out;
  EXPECT_NE(stats.out.find("measured     none"), std::string::npos) << stats.out;
  EXPECT_NE(stats.out.find("downloaded   " + a["records"].dump() + " records from " +
                           info["counters"][0]["history_first"].get<std::string>()),
            std::string::npos)
      << stats.out;
}

// A counter stuck at one count is failed within minutes; a working one with too few seconds is
// not judged, and neither is called ok (nor is a day not judged a failure).
TEST_P(StoreCommandsTest, QualityOfFewSecondsIsNotCalledOk) {
  const int64_t t0 = 1'775'000'040;
  {
    const auto s = Open();
    std::vector<Second> stuck;
    for (int64_t t = t0; t < t0 + 180; ++t) stuck.push_back({t, 5});
    s->AppendSeconds(s->RegisterCounter({"ZQT-400 V4.2", "1", "ZQT-400", "", ""}, t0), stuck);
  }
  const auto stuck = Run({"store", "check", "--quality"});
  EXPECT_EQ(stuck.code, 1);
  EXPECT_NE(stuck.out.find("the count 5 repeats 180 seconds in a row"), std::string::npos) << stuck.out;

  NewStore();
  Fill(t0, t0 + 300, [](int64_t) { return false; });
  const auto few = Run({"store", "check", "--quality"});
  EXPECT_EQ(few.code, 0);
  EXPECT_NE(few.out.find(": not judged (300 s measured, 600 needed)"), std::string::npos) << few.out;
  EXPECT_EQ(few.out.find(": ok"), std::string::npos) << few.out;
  EXPECT_FALSE(nlohmann::json::parse(Run({"store", "check", "--quality", "--json"}).out)["ok"].get<bool>());
}

// The tidy export as tools read it: Python's csv and json modules take every measured second and
// every downloaded record, each with a time that carries its offset, and both files agree.
TEST_P(StoreCommandsTest, TidyExportReadsBackWithPythonsCsvAndJson) {
  sim::HistoryOptions options;
  options.image_size = 0x4000;
  options.start = StampTime{26, 5, 2, 8, 0, 0};
  const auto image = sim::GenerateHistory(options);
  testing::WriteAll(dir_ / "d.bin", std::string(image.begin(), image.end()));
  ASSERT_EQ(Run({"--model", "ZQT-400", "store", "import", (dir_ / "d.bin").string()}).code, 0);
  uint64_t live_counts = 0, record_counts = 0;
  size_t live = 0, records = 0;
  {
    const auto s = Open();
    const int64_t t0 = 1'778'000'000;  // 2026-05-05, after the downloaded days
    std::vector<Second> seconds;
    for (int64_t t = t0; t < t0 + 1000; ++t)
      if (t % 60 != 7) seconds.push_back({t, static_cast<uint32_t>(t % 4)}), live_counts += t % 4;
    s->AppendSeconds(1, seconds);
    live = seconds.size();
    for (const store::HistoryRecord& r : s->History(1, 0, INT64_MAX)) {
      ++records;
      record_counts += store::RecordSeconds(r.save_type) == 3600 ? r.value * 60ull : r.value;
    }
  }
  ASSERT_GT(records, 100u);
  const auto csv = Run({"store", "export", "--format", "tidy", (dir_ / "t.csv").string()});
  ASSERT_EQ(csv.code, 0) << csv.err;
  ASSERT_EQ(Run({"store", "export", (dir_ / "t.jsonl").string()}).code, 0);

  testing::WriteAll(dir_ / "read.py", R"(import csv, json, sys
from datetime import datetime
rows = list(csv.DictReader(open(sys.argv[1], newline='', encoding='utf-8')))
lines = [json.loads(line) for line in open(sys.argv[2], encoding='utf-8')]
out = {'live': 0, 'live_counts': 0, 'records': 0, 'record_counts': 0, 'notes': 0, 'offsets': True, 'same': True}
for row, line in zip(rows, lines):
    out['offsets'] &= datetime.fromisoformat(row['time']).utcoffset() is not None
    kind = 'live' if row['type'] == 'live' else 'records'
    out[kind] += 1
    out['live_counts' if kind == 'live' else 'record_counts'] += int(row['count'])
    out['notes'] += row['note'] != ''
    out['same'] &= (line['time'], line['type'], line['count'], line['seconds'], line.get('note', '')) == \
                   (row['time'], row['type'], int(row['count']), int(row['seconds']), row['note'])
    float(row['usv_h'])
out['same'] &= len(rows) == len(lines)
print(json.dumps(out))
)");
  const std::string command = "/usr/bin/python3 " + (dir_ / "read.py").string() + " " + (dir_ / "t.csv").string() +
                              " " + (dir_ / "t.jsonl").string() + " > " + (dir_ / "read.json").string();
  ASSERT_EQ(std::system(command.c_str()), 0);
  const auto read = nlohmann::json::parse(ReadAll(dir_ / "read.json"));
  EXPECT_EQ(read["live"], live);
  EXPECT_EQ(read["live_counts"], live_counts);
  EXPECT_EQ(read["records"], records);
  EXPECT_EQ(read["record_counts"], record_counts);
  EXPECT_GT(read["notes"].get<int>(), 0);
  EXPECT_TRUE(read["offsets"].get<bool>());
  EXPECT_TRUE(read["same"].get<bool>());
}

INSTANTIATE_TEST_SUITE_P(Stores, StoreCommandsTest, ::testing::Values(store::Backend::kSqlite, store::Backend::kPostgres),
                         store::BackendName);

}  // namespace
}  // namespace norvane
