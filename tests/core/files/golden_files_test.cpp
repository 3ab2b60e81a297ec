// Exports of checked-in inputs against their checked-in, hand-verified outputs (tests/data/files).
#include <gtest/gtest.h>

#include "core/files/history_csv.h"
#include "core/files/local_time.h"
#include "core/files/realtime_binary.h"
#include "core/files/realtime_exports.h"
#include "tests/common/temp_dir.h"

namespace norvane {
namespace {

std::string Data(std::string_view name) {
  return testing::ReadAll(std::filesystem::path(NORVANE_TEST_DATA) / "files" / name);
}

TEST(GoldenFilesTest, HistoryCsvWithBothSeparators) {
  const std::string image = Data("history_mixed.bin");
  ASSERT_FALSE(image.empty());
  const ImageView view(reinterpret_cast<const uint8_t*>(image.data()), image.size());
  WriterOptions options;
  EXPECT_EQ(BuildHistoryCsv(view, options), Data("history_mixed.csv"));
  options.separator = ';';
  EXPECT_EQ(BuildHistoryCsv(view, options), Data("history_mixed_semicolon.csv"));
}

TEST(GoldenFilesTest, RealtimeRecordingInEveryFormat) {
  const std::string file = Data("realtime_recording.rbn");
  std::string error;
  const auto recording =
      ParseRealtimeBinary({reinterpret_cast<const uint8_t*>(file.data()), file.size()}, &error);
  ASSERT_TRUE(recording) << error;
  // The expected files were made in UTC, which is the fixed clock's zone.
  const FixedClock clock(LocalFromStamp(recording->start));
  RealtimeSeries series(0);
  series.Restore(clock.Now(), recording->start, recording->counts);
  const LocalTime start = clock.ToLocal(series.start_time());

  EXPECT_EQ(BuildRealtimeCsv(series, start, WriterOptions{}), Data("realtime_recording.csv"));
  EXPECT_EQ(BuildRealtimeHtml(series, start, WriterOptions{}), Data("realtime_recording.html"));
  EXPECT_EQ(BuildMinuteLog(series, start), Data("realtime_recording.R@H"));
  EXPECT_EQ(BuildRealtimeBinary(series, clock), file);
}

}  // namespace
}  // namespace norvane
