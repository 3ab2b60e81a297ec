#include "core/files/realtime_exports.h"

#include <gtest/gtest.h>

#include "core/files/local_time.h"
#include "core/files/realtime_binary.h"
#include "core/common/text_format.h"
#include "tests/common/recording_notifier.h"
#include "tests/common/temp_dir.h"

namespace norvane {
namespace {

using testing::ReadAll;
using testing::RecordingNotifier;
using testing::TempDir;

constexpr LocalTime kStart{2024, 1, 31, 23, 59, 30};

// A series as monitoring leaves it: stamped at the start, 59 padding zeros, then `values`.
RealtimeSeries Recording(const FixedClock& clock, const std::vector<uint32_t>& values) {
  RealtimeSeries series(clock.Now() - 3600);
  series.StartSession(clock.Now(), StampFromLocal(clock.ToLocal(clock.Now())));
  for (uint32_t v : values) series.Append(v);
  return series;
}

size_t Count(const std::string& text, std::string_view part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

TEST(RealtimeCsvTest, MeasuredSecondsOnlyAndTheLastPartMinuteAsAShorterRow) {
  const FixedClock clock(kStart);
  std::vector<uint32_t> values(60, 1);
  values.insert(values.end(), {2, 0, 3});  // 63 measured seconds
  const RealtimeSeries series = Recording(clock, values);
  const std::string csv = BuildRealtimeCsv(series, clock.ToLocal(series.start_time()), WriterOptions{});
  std::string first = "2024-01-31 23:59,0.3900,60,";
  for (int i = 0; i < 60; ++i) first += "1,";
  first += "\r\n";
  // The padding never shows, and the part-minute's CPM is the sum of its seconds.
  const std::string last = "2024-02-01 00:00,0.0325,5,2,0,3,\r\n";
  EXPECT_TRUE(csv.starts_with("Norvane Electronics LLC, ZQT Data Viewer,Version 2.75\r\nDate Time,uSv/h,CPM,1s,2s,"));
  EXPECT_TRUE(csv.ends_with("60s,\r\n" + first + last)) << csv.substr(csv.size() - 200);

  // Shorter than a minute: one short row; nothing measured: the header lines only.
  EXPECT_TRUE(BuildRealtimeCsv(Recording(clock, {4, 5}), kStart, WriterOptions{}).ends_with("60s,\r\n2024-01-31 23:59,0.0585,9,4,5,\r\n"));
  EXPECT_EQ(Count(BuildRealtimeCsv(Recording(clock, {}), kStart, WriterOptions{}), "\r\n"), 2u);
}

TEST(RealtimeCsvTest, LanguageWordsAndSemicolon) {
  const FixedClock clock(kStart);
  const RealtimeSeries series = Recording(clock, {});
  WriterOptions options;
  options.separator = ';';
  options.second_suffix = false;
  options.date_word = "Datum";
  options.time_word = "Zeit";
  options.second_word = "Sekunde";
  const std::string csv = BuildRealtimeCsv(series, kStart, options);
  EXPECT_NE(csv.find("\r\nDatum Zeit;uSv/h;CPM;1sekunde;2sekunde;"), std::string::npos);
  EXPECT_TRUE(csv.ends_with("60sekunde;\r\n"));
  const std::string html = BuildRealtimeHtml(series, kStart, options);
  EXPECT_NE(html.find("<TD>Datum Zeit</TD><TD>CPM</TD><td>1sekunde</td>"), std::string::npos);
}

TEST(RealtimeCsvTest, SecondTitlesAreTheLanguagesWordOnlyWhereItHasOne) {
  const TempDir dir;
  const FixedClock clock(kStart);
  const RealtimeSeries series = Recording(clock, {});
  // A German file that stops before the word for seconds, and one that has it.
  std::string lines;
  for (int i = 0; i < kSecondTextEntry; ++i) lines += Format("%04d=\"Wort%d\",\r\n", i, i);
  const std::string header = "LanguageName=Deutsch\r\nLanguageIndex=2\r\n";
  testing::WriteAll(dir / "short.dic.txt", header + lines);
  testing::WriteAll(dir / "full.dic.txt", header + lines + Format("%04d=\"Sekunde\",\r\n", kSecondTextEntry));
  RecordingNotifier notifier;
  for (const auto& [file, title] : {std::pair{"short.dic.txt", "1s,2s,"}, std::pair{"full.dic.txt", "1sekunde,2sekunde,"}}) {
    LanguageDictionary dictionary;
    dictionary.LoadLanguageFile((dir / file).string(), notifier);
    ASSERT_EQ(dictionary.LanguageIndex(), 2);
    const WriterOptions options = MakeWriterOptions(Settings{}, kDefaultConversionTable, dictionary);
    const std::string csv = BuildRealtimeCsv(series, kStart, options);
    EXPECT_NE(csv.find(std::string("CPM,") + title), std::string::npos) << file << ": " << csv.substr(0, 120);
  }
}

TEST(RealtimeHtmlTest, PageLayout) {
  const FixedClock clock(kStart);
  RealtimeSeries series = Recording(clock, {});
  std::string html = BuildRealtimeHtml(series, kStart, WriterOptions{});
  EXPECT_TRUE(html.starts_with("<html><font size=5, color=green>Norvane Electronics LLC, ZQT-100 Data Viewer,"
                               "Version 2.75\r\n<font size=3, color=black><table border=\"1\" width=70%>"
                               "<TR  align=\"center\"><TD>Date Time</TD><TD>CPM</TD><td>1s</td><td>2s</td>"));
  EXPECT_TRUE(html.ends_with("<td>60s</td></TR></TABLE></html>"));  // count 59: the header row only

  series = Recording(clock, std::vector<uint32_t>(61, 1));
  html = BuildRealtimeHtml(series, kStart, WriterOptions{});
  std::string ones;
  for (int i = 0; i < 60; ++i) ones += "<TD>1</TD>";
  EXPECT_NE(html.find("</TR><TR><TD>2024-01-31 23:59</TD><TD>60</TD>" + ones + "</TR>"), std::string::npos);
  EXPECT_TRUE(html.ends_with("<TR><TD>2024-02-01 00:00</TD><TD>1</TD><TD>1</TD></TR></TABLE></html>"));
  EXPECT_EQ(Count(html, "<TR>"), 2u);
}

TEST(MinuteLogTest, WholeMinutesOnlyWithRunningTotalsDayFieldAndFirstLineMark) {
  const FixedClock clock(kStart);
  std::vector<uint32_t> values(61 + 60 + 30, 2);
  const RealtimeSeries series = Recording(clock, values);  // two whole minutes and 31 seconds
  const int64_t days = static_cast<int64_t>(series.start_time()) / 86400;
  EXPECT_EQ(BuildMinuteLog(series, kStart),
            std::to_string(days * 1000) + ",120,2024-01-31 23:59:00,300,f,672303\r\n" +
                std::to_string((days + 1) * 1000) + ",240,2024-02-01 00:00:00,300,n,672303\r\n");
  EXPECT_EQ(BuildMinuteLog(Recording(clock, std::vector<uint32_t>(59, 2)), kStart), "");
}

TEST(RealtimeBinaryTest, StampThenOneBytePerSecond) {
  const FixedClock clock(kStart);
  const RealtimeSeries series = Recording(clock, {7, 0, 254});
  const std::string bytes = BuildRealtimeBinary(series, clock);
  // The stamp of the first measured second, then those seconds only: no padding.
  ASSERT_EQ(bytes.size(), 12u + 3u);
  EXPECT_EQ(bytes.substr(0, 12), std::string("\x55\xAA\x00\x18\x01\x1F\x17\x3B\x1E\x55\xAA\x01", 12));
  EXPECT_EQ(bytes.substr(12), std::string("\x07\x00\xFE", 3));
}

TEST(RealtimeBinaryTest, LargeCountsAndMarkerLookalikesBecomeValueRecordsAndReadBack) {
  const FixedClock clock(kStart);
  const std::vector<uint32_t> values = {255, 300, 0x55AA, 70000, 85, 170, 0, 85, 3};
  const RealtimeSeries series = Recording(clock, values);
  const std::string bytes = BuildRealtimeBinary(series, clock);
  EXPECT_EQ(bytes.substr(12), std::string("\x55\xAA\x01\x00\xFF"
                                          "\x55\xAA\x01\x01\x2C"
                                          "\x55\xAA\x04\x00\x00\x55\xAA"
                                          "\x55\xAA\x04\x00\x01\x11\x70"
                                          "\x55\xAA\x01\x00\x55"
                                          "\xAA\x00\x55\x03",
                                          33));

  std::string error;
  const auto parsed = ParseRealtimeBinary({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()}, &error);
  ASSERT_TRUE(parsed) << error;
  EXPECT_EQ(parsed->start, StampFromLocal(kStart));
  EXPECT_EQ(parsed->counts, values);

  // The history decoder reads the same file: one stamp, then every second as one sample.
  struct Collector {
    int stamps = 0;
    std::vector<uint32_t> samples;
    void OnStamp(size_t, const StampTime&, uint8_t) { ++stamps; }
    void OnNote(size_t, std::string_view) {}
    void OnSample(size_t, uint32_t v) { samples.push_back(v); }
  } walk;
  HistoryWalk(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), walk);
  EXPECT_EQ(walk.stamps, 1);
  ASSERT_EQ(walk.samples.size(), values.size() - 1);  // a value of 255 is "no data" to it
  EXPECT_EQ(walk.samples[0], 300u);
  EXPECT_EQ(walk.samples[3], 85u);
  EXPECT_EQ(walk.samples[4], 170u);
}

TEST(RealtimeBinaryTest, AFileTheWriterWroteReadsBackAsTheSameSecondsAndTheSameHistoryBytes) {
  const TempDir dir;
  const FixedClock clock(kStart);
  std::vector<uint32_t> values;
  for (uint32_t i = 0; i < 3000; ++i) values.push_back(i % 7 == 0 ? 300 + i : i % 256);  // 255 and 85, 170 too
  const RealtimeSeries series = Recording(clock, values);
  const std::filesystem::path file = dir / "day.rbn";
  ASSERT_TRUE(WriteRealtimeBinary(file.string(), series, clock));

  std::string error;
  const auto read = ReadRealtimeBinary(file, &error);
  ASSERT_TRUE(read) << error;
  EXPECT_EQ(read->start, StampFromLocal(kStart));
  EXPECT_EQ(read->counts, values);
  // What the window plays is byte for byte what the writer wrote.
  EXPECT_EQ(RecordingImage(*read), ReadAll(file));
}

TEST(RealtimeBinaryTest, ParserRefusesWhatIsNoRecording) {
  std::string error;
  const std::vector<uint8_t> no_stamp = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13};
  EXPECT_FALSE(ParseRealtimeBinary(no_stamp, &error));
  EXPECT_NE(error.find("does not start with a time stamp"), std::string::npos);

  const std::vector<uint8_t> stamp = {0x55, 0xAA, 0, 24, 1, 31, 12, 5, 0, 0x55, 0xAA, 1};
  auto with = [&](std::vector<uint8_t> tail) {
    std::vector<uint8_t> bytes = stamp;
    bytes.insert(bytes.end(), tail.begin(), tail.end());
    return bytes;
  };
  EXPECT_FALSE(ParseRealtimeBinary(with({1, 0x55, 0xAA, 0x01, 0x00}), &error));
  EXPECT_NE(error.find("ends inside a value record"), std::string::npos);
  EXPECT_FALSE(ParseRealtimeBinary(with({0x55, 0xAA, 0x02, 1, 0x41}), &error));
  EXPECT_FALSE(ParseRealtimeBinary(with(std::vector<uint8_t>(RealtimeSeries::kCapacity + 1, 1)), &error));
  EXPECT_TRUE(ParseRealtimeBinary(with(std::vector<uint8_t>(RealtimeSeries::kCapacity, 1)), &error));
}

TEST(RealtimeWritersTest, FilesAreWrittenWholeAndFailuresLeaveNothing) {
  const FixedClock clock(kStart);
  const RealtimeSeries series = Recording(clock, std::vector<uint32_t>(61, 1));
  TempDir dir;
  std::string error;
  ASSERT_TRUE(WriteRealtimeCsv((dir / "a.csv").string(), series, clock, WriterOptions{}, &error)) << error;
  EXPECT_EQ(ReadAll(dir / "a.csv"), BuildRealtimeCsv(series, kStart, WriterOptions{}));
  ASSERT_TRUE(WriteMinuteLog((dir / "a").string(), series, clock, &error)) << error;
  EXPECT_TRUE(std::filesystem::exists(dir / "a.R@H"));
  ASSERT_TRUE(WriteMinuteLog((dir / "b.r@h").string(), series, clock, &error)) << error;
  EXPECT_TRUE(std::filesystem::exists(dir / "b.r@h"));

  const std::string missing = (dir / "no-such-folder" / "x").string();
  EXPECT_FALSE(WriteRealtimeCsv(missing + ".csv", series, clock, WriterOptions{}, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(WriteRealtimeHtml(missing + ".html", series, clock, WriterOptions{}, &error));
  EXPECT_FALSE(WriteMinuteLog(missing, series, clock, &error));
  EXPECT_FALSE(WriteRealtimeBinary(missing + ".rbn", series, clock, &error));
  EXPECT_EQ(testing::EntryCount(dir.path()), 3u);
}

}  // namespace
}  // namespace norvane
