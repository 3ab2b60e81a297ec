#include "core/files/file_saver.h"

#include <gtest/gtest.h>

#include <fstream>

#include "core/files/dump_file.h"
#include "core/files/file_naming.h"
#include "core/files/history_csv.h"
#include "core/files/local_time.h"
#include "core/files/realtime_binary.h"
#include "tests/common/temp_dir.h"
#include "tests/core/history/image_builder.h"

namespace norvane {
namespace {

using testing::operator+;
using testing::ReadAll;
using testing::TempDir;

class RecordingNotifier : public UserNotifier {
 public:
  void Message(std::string_view text, std::string_view) override { messages.emplace_back(text); }
  void Status(std::string_view line) override { status.emplace_back(line); }
  bool Ask(std::string_view question, std::string_view) override {
    questions.emplace_back(question);
    return answer;
  }
  std::vector<std::string> messages, status, questions;
  bool answer = false;
};

// A folder no one can create files in: a read-only folder, or /proc when running as root (root
// writes into read-only folders).
std::filesystem::path ReadOnlyFolder(const TempDir& dir) {
  const auto folder = dir / "locked";
  std::filesystem::create_directory(folder);
  std::filesystem::permissions(folder, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  std::ofstream probe(folder / "probe");
  if (!probe) return folder;
  probe.close();
  std::filesystem::remove(folder / "probe");
  return "/proc";
}

class FileSaverTest : public ::testing::Test {
 protected:
  FileSaverTest() : clock_(LocalTime{2024, 3, 7, 9, 5, 4}), data_(clock_.Now()), saver_(data_, dictionary_, clock_, notifier_) {
    data_.realtime.StartSession(clock_.Now(), StampFromLocal(clock_.LocalNow()));
    for (int i = 0; i < 61; ++i) data_.realtime.Append(1);
  }
  ~FileSaverTest() override {
    std::error_code ec;
    std::filesystem::permissions(dir_ / "locked", std::filesystem::perms::owner_all, ec);
  }
  std::string At(std::string_view name) const { return (dir_ / name).string(); }

  TempDir dir_;
  FixedClock clock_;
  DataSet data_;
  LanguageDictionary dictionary_;
  RecordingNotifier notifier_;
  FileSaver saver_;
};

TEST_F(FileSaverTest, PatternsChooseWriterAndExtension) {
  struct Case {
    std::string_view pattern, name, file;
  } cases[] = {
      {"*.bin", "a", "a.bin"},       {"*.rbn", "b.rbn", "b.rbn"}, {"*.R@H", "c", "c.R@H"},
      {"*.R@H", "d.r@h", "d.r@h"},   {"*.csv", "e.txt", "e.txt.csv"}, {"*.html", "f.html", "f.html"},
      {"*.htm", "g", "g.htm"},       {"*.bin", "h.bin.txt", "h.bin.txt.bin"},
  };
  for (const Case& c : cases) {
    const SaveResult result = saver_.SaveByType(c.pattern, At(c.name));
    ASSERT_TRUE(result.saved()) << c.pattern << " " << result.error;
    EXPECT_EQ(result.path, At(c.file));
    EXPECT_TRUE(std::filesystem::exists(result.path)) << result.path;
  }
  EXPECT_EQ(ReadAll(At("a.bin")), ReadAll(At("b.rbn")));
  EXPECT_EQ(ReadAll(At("a.bin")), BuildRealtimeBinary(data_.realtime, clock_));
  EXPECT_TRUE(ReadAll(At("f.html")).starts_with("<html>"));
  // 61 measured seconds: one whole minute in the log, its start the time monitoring began.
  EXPECT_EQ(ReadAll(At("c.R@H")).substr(ReadAll(At("c.R@H")).find(',')), ",60,2024-03-07 09:05:00,300,f,672303\r\n");
  EXPECT_TRUE(ReadAll(At("e.txt.csv")).starts_with("Norvane Electronics LLC,"));
}

TEST_F(FileSaverTest, StatusEntrySaysSavedOrFileErrorAndEmptyArgumentsMeanTheLastOnes) {
  saver_.SaveByType("*.csv", At("day"));
  ASSERT_EQ(notifier_.status.size(), 1u);
  EXPECT_EQ(notifier_.status[0], "2024-03-07 09:05:04:\r\nSaved:" + At("day.csv") + "\r\n");

  clock_.Advance(1);
  const SaveResult again = saver_.SaveByType("", "");
  EXPECT_TRUE(again.saved());
  EXPECT_EQ(notifier_.status[1], "2024-03-07 09:05:05:\r\nSaved:" + At("day.csv") + "\r\n");

  const SaveResult missing = saver_.SaveByType("*.htm", At("gone/day"));
  EXPECT_EQ(missing.outcome, SaveOutcome::kFileError);
  EXPECT_FALSE(missing.error.empty());
  EXPECT_EQ(notifier_.status[2], "2024-03-07 09:05:05:\r\nFile error:" + At("gone/day.htm") + "\r\n");
  EXPECT_TRUE(notifier_.messages.empty());

  // A type without a writer writes nothing and does not claim it saved.
  const SaveResult unknown = saver_.SaveByType("*.*", At("x"));
  EXPECT_EQ(unknown.outcome, SaveOutcome::kNothingWritten);
  EXPECT_TRUE(notifier_.status[3].find("File error:") != std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(At("x")));
}

TEST_F(FileSaverTest, PicturesGoToTheWindowWithTheirExtensionAndAFailureIsLoggedTwice) {
  std::vector<std::string> taken;
  bool succeed = true;
  saver_.set_picture_writer([&](std::string_view pattern, const std::string& path, std::string* error) {
    taken.push_back(std::string(pattern) + " " + path);
    if (!succeed) *error = "no screen";
    return succeed;
  });
  EXPECT_TRUE(saver_.SaveByType("*.bmp", At("w")).saved());
  EXPECT_TRUE(saver_.SaveByType("*.jpeg", At("w")).saved());
  EXPECT_TRUE(saver_.SaveByType("*.jpg", At("w.jpg")).saved());
  EXPECT_EQ(taken, (std::vector<std::string>{"*.bmp " + At("w.bmp"), "*.jpeg " + At("w.jpeg"), "*.jpg " + At("w.jpg")}));

  notifier_.status.clear();
  succeed = false;
  const SaveResult failed = saver_.SaveByType("*.bmp", At("v"));
  EXPECT_EQ(failed.outcome, SaveOutcome::kFileError);
  ASSERT_EQ(notifier_.status.size(), 2u);
  EXPECT_EQ(notifier_.status[0], "File error:" + At("v.bmp"));
  EXPECT_EQ(notifier_.status[1], "2024-03-07 09:05:04:\r\nFile error:" + At("v.bmp") + "\r\n");
}

TEST_F(FileSaverTest, EveryWriterFailsCleanlyInAReadOnlyFolder) {
  const auto locked = ReadOnlyFolder(dir_);
  for (std::string_view pattern : {"*.bin", "*.rbn", "*.R@H", "*.csv", "*.html", "*.htm"}) {
    const SaveResult result = saver_.SaveByType(pattern, (locked / "day").string());
    EXPECT_EQ(result.outcome, SaveOutcome::kFileError) << pattern;
  }
  EXPECT_EQ(saver_.ExportHistoryCsv("*.csv", (locked / "h").string()).outcome, SaveOutcome::kFileError);
  EXPECT_FALSE(saver_.SaveDump("binary files (*.bin)", (locked / "d").string(), {}).dump.saved());
  if (locked != "/proc") {
    EXPECT_EQ(testing::EntryCount(locked), 0u);
  }
}

TEST_F(FileSaverTest, AFailedReplaceLeavesTheTargetAndNoTemporaryFile) {
  // A folder in the target's place makes the final rename fail after the data was written.
  std::filesystem::create_directory(At("keep.csv"));
  testing::WriteAll(dir_ / "keep.csv" / "inside", "old");
  EXPECT_EQ(saver_.SaveByType("*.csv", At("keep")).outcome, SaveOutcome::kFileError);
  EXPECT_EQ(testing::EntryCount(dir_.path()), 1u);
  EXPECT_EQ(ReadAll(dir_ / "keep.csv" / "inside"), "old");
}

TEST_F(FileSaverTest, TheHtmlHeaderNamesTheModelTheDataCameFromThroughAChangeOfSettings) {
  saver_.set_model("ZQT-400");
  WriterOptions semicolons;
  semicolons.separator = ';';
  saver_.set_options(semicolons);
  ASSERT_TRUE(saver_.SaveByType("*.html", At("rt")).saved());
  const std::string html = ReadAll(At("rt.html"));
  EXPECT_NE(html.find("Norvane Electronics LLC, ZQT-400 Data Viewer,"), std::string::npos) << html.substr(0, 100);
  EXPECT_EQ(html.find("ZQT-100"), std::string::npos);
}

TEST_F(FileSaverTest, RealtimeSaveAsByTypeText) {
  EXPECT_EQ(RealtimePatternsFor("both files (rbn and csv)"), (std::vector<std::string_view>{"*.rbn", "*.csv"}));
  EXPECT_EQ(RealtimePatternsFor("html (*.html)"), std::vector<std::string_view>{"*.html"});
  EXPECT_EQ(RealtimePatternsFor("htm (*.htm)"), std::vector<std::string_view>{"*.htm"});
  EXPECT_EQ(RealtimePatternsFor("Radioactive@Home (*.R@H)"), std::vector<std::string_view>{"*.R@H"});
  EXPECT_EQ(RealtimePatternsFor("realtime binary files (*.rbn)"), std::vector<std::string_view>{"*.rbn"});
  EXPECT_EQ(RealtimePatternsFor("binary files (*.bin)"), std::vector<std::string_view>{"*.bin"});
  EXPECT_EQ(RealtimePatternsFor("csv (comma delimited) (*.csv)"), std::vector<std::string_view>{"*.csv"});
  EXPECT_TRUE(RealtimePatternsFor("all files (*.*)").empty());

  notifier_.answer = true;
  const auto results = saver_.SaveRealtimeAs("both files (rbn and csv)", At("rt.rbn"));
  ASSERT_EQ(results.size(), 2u);
  EXPECT_EQ(results[0].path, At("rt.rbn"));
  EXPECT_EQ(results[1].path, At("rt.csv"));
  EXPECT_EQ(testing::EntryCount(dir_.path()), 2u);
  EXPECT_EQ(notifier_.questions, std::vector<std::string>{"Reset and Restart?"});
  EXPECT_EQ(data_.realtime.count(), RealtimeSeries::kFirstSlot);  // reset on yes

  // Nothing saved: no question, so the recording cannot be thrown away unsaved.
  data_.realtime.Append(5);
  saver_.SaveRealtimeAs("all files (*.*)", At("none"));
  saver_.SaveRealtimeAs("csv (*.csv)", At("gone/rt"));
  EXPECT_EQ(notifier_.questions.size(), 1u);
  EXPECT_EQ(notifier_.messages.size(), 1u);
  EXPECT_EQ(data_.realtime.count(), RealtimeSeries::kFirstSlot + 1);
}

TEST_F(FileSaverTest, HistoryExportWritesCsvOrRealtimeHtml) {
  const auto image = testing::Stamp(24, 1, 31, 12, 5, 0, 2) + testing::Hex("3C");
  data_.dump.LoadImage(image);
  const SaveResult csv = saver_.ExportHistoryCsv("*.csv", At("hist"));
  ASSERT_TRUE(csv.saved()) << csv.error;
  EXPECT_EQ(ReadAll(At("hist.csv")), BuildHistoryCsv(data_.dump.image(), saver_.options()));
  EXPECT_TRUE(ReadAll(At("hist.csv")).ends_with("\r\n2024-01-31 12:05,Every Minute,0.390,60,"));
  EXPECT_TRUE(saver_.ExportHistoryCsv("*.html", At("page")).saved());
  EXPECT_TRUE(ReadAll(At("page.html")).starts_with("<html>"));
  EXPECT_EQ(saver_.ExportHistoryCsv("*.txt", At("t")).outcome, SaveOutcome::kNothingWritten);
  EXPECT_NE(notifier_.status.back().find("File error:"), std::string::npos);
}

TEST_F(FileSaverTest, DumpAfterDownload) {
  data_.dump.SelectModel("ZQT-3020");  // family 8 or above: 512-byte block with 69-324 blanked
  const int family = data_.dump.model().family;
  ASSERT_GE(family, 8);
  const size_t size = data_.dump.image_size();
  data_.dump.LoadImage(testing::Stamp(24, 1, 31, 12, 5, 0, 2) + testing::Hex("3C"));
  const std::vector<uint8_t> block(600, 0x11);

  const DumpSaveResult both = saver_.SaveDump("Both Files (BIN and CSV)", At("data"), block);
  ASSERT_TRUE(both.dump.saved()) << both.dump.error;
  ASSERT_TRUE(both.csv && both.csv->saved());
  const std::string bytes = ReadAll(At("data.bin"));
  ASSERT_EQ(bytes.size(), size + 512);
  EXPECT_EQ(bytes[size + 68], '\x11');
  EXPECT_EQ(bytes.substr(size + 69, 256), std::string(256, '\xFF'));
  EXPECT_EQ(bytes[size + 325], '\x11');
  EXPECT_TRUE(ReadAll(At("data.csv")).ends_with("Every Minute,0.390,60,"));
  EXPECT_EQ(notifier_.status.front(), "Data saved into: " + At("data.bin"));

  // The binary type keeps a chosen .bin; other types and no name write nothing.
  EXPECT_EQ(saver_.SaveDump("binary files (*.bin)", At("x.bin"), {}).dump.path, At("x.bin"));
  EXPECT_FALSE(std::filesystem::exists(At("x.bin.bin")));
  EXPECT_EQ(saver_.SaveDump("all files (*.*)", At("y"), {}).dump.outcome, SaveOutcome::kFileError);
  EXPECT_EQ(notifier_.messages, std::vector<std::string>{"Couldn't create the file!"});
  EXPECT_EQ(saver_.SaveDump("binary files (*.bin)", "noname", {}).dump.outcome, SaveOutcome::kNothingWritten);
  EXPECT_EQ(saver_.SaveDump("binary files (*.bin)", At("gone/z"), {}).dump.outcome, SaveOutcome::kFileError);
  EXPECT_EQ(notifier_.messages.size(), 2u);
}

TEST(ConfigBlockTest, SizeAndBlankedRangeByFamily) {
  const std::vector<uint8_t> sent(512, 0x22);
  EXPECT_EQ(PrepareConfigBlock(4, sent), std::vector<uint8_t>(256, 0x22));
  const auto family5 = PrepareConfigBlock(5, sent);
  ASSERT_EQ(family5.size(), 512u);
  EXPECT_EQ(family5[68], 0x22);
  EXPECT_EQ(family5[69], 0xFF);
  EXPECT_EQ(family5[161], 0xFF);
  EXPECT_EQ(family5[162], 0x22);
  EXPECT_EQ(PrepareConfigBlock(7, sent), std::vector<uint8_t>(512, 0x22));
  // What never arrived stays erased.
  const auto short_read = PrepareConfigBlock(1, std::vector<uint8_t>(10, 0x22));
  EXPECT_EQ(short_read[9], 0x22);
  EXPECT_EQ(short_read[10], 0xFF);
}

TEST(LoadDumpTest, ReadsTheImageOnlyAndErasesWhatAShorterFileDoesNotReach) {
  TempDir dir;
  RecordingNotifier notifier;
  HistoryDump dump;
  const size_t size = dump.image_size();
  testing::WriteAll(dir / "long.bin", std::string(size + 512, '\x01'));
  testing::WriteAll(dir / "short.bin", std::string(100, '\x02'));
  EXPECT_EQ(LoadDumpFile((dir / "long.bin").string(), dump, notifier), size);
  EXPECT_EQ(dump.buffer()[size], 0xFF);  // the configuration block is not read
  EXPECT_EQ(LoadDumpFile((dir / "short.bin").string(), dump, notifier), 100u);
  EXPECT_EQ(dump.buffer()[99], 0x02);
  EXPECT_EQ(dump.buffer()[100], 0xFF);
  EXPECT_EQ(dump.buffer()[size - 1], 0xFF);
  EXPECT_EQ(notifier.status.back(), "Data loaded!");

  EXPECT_FALSE(LoadDumpFile((dir / "missing.bin").string(), dump, notifier));
  ASSERT_EQ(notifier.messages.size(), 1u);
  EXPECT_NE(notifier.messages[0].find("missing.bin"), std::string::npos);
  // A CSV the program wrote is refused with what Load takes, not "loaded" as an empty chart.
  testing::WriteAll(dir / "day.csv", "Date,Time,CPM\r\n2026-12-08,10:00:00,18\r\n");
  EXPECT_FALSE(LoadDumpFile((dir / "day.csv").string(), dump, notifier));
  ASSERT_EQ(notifier.messages.size(), 2u);
  EXPECT_NE(notifier.messages[1].find("day.csv"), std::string::npos);
  EXPECT_NE(notifier.messages[1].find(".bin"), std::string::npos);
  EXPECT_EQ(dump.buffer()[99], 0x02);  // a failed load changes nothing
}

TEST(FileNamingTest, ExtensionsAndDefaultName) {
  EXPECT_EQ(EnsureExtension("data", ".bin"), "data.bin");
  EXPECT_EQ(EnsureExtension("data.bin", ".bin"), "data.bin");
  EXPECT_EQ(EnsureExtension("data.BIN", ".bin"), "data.BIN.bin");
  EXPECT_EQ(EnsureExtension("page.html", ".html"), "page.html");
  EXPECT_EQ(EnsureExtension("page.html", ".htm"), "page.html.htm");
  EXPECT_EQ(EnsureExtension("", ".csv"), ".csv");
  EXPECT_EQ(EnsureMinuteLogExtension("log.r@h"), "log.r@h");
  EXPECT_EQ(EnsureMinuteLogExtension("log.R@"), "log.R@.R@H");
  EXPECT_EQ(DefaultFileName("/home/me/", LocalTime{2024, 1, 31, 12, 5, 9}), "/home/me/20240131_12_05_09");
  EXPECT_EQ(SaveStatusEntry(LocalTime{2024, 1, 31, 12, 5, 9}, "Saved", "p"), "2024-01-31 12:05:09:\r\nSaved:p\r\n");
}

}  // namespace
}  // namespace norvane
