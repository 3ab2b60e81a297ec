// The main window's readouts offscreen: texts that fit, rates and doses that belong together
// after each load, the playback clock, and scrolling back through loaded data.
#include <QAbstractButton>
#include <QApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QRegularExpression>
#include <QTest>
#include <fstream>

#include "core/common/text_format.h"
#include "core/common/dose_conversion.h"
#include "tests/core/history/image_builder.h"
#include "tests/ui/main_window_fixture.h"
#include "ui/scroll_bar_ex.h"

namespace norvane {
namespace {

using testing::Hex;
using testing::operator+;
using testing::Repeat;
using testing::Stamp;

std::filesystem::path WriteBytes(const TempDir& dir, const std::string& name, const std::vector<uint8_t>& bytes) {
  const std::filesystem::path file = dir / name;
  std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<std::streamsize>(bytes.size()));
  return file;
}

// An ISO 8601 "20YY-MM-DD hh:mm:ss" as a number that grows with the time; -1 for any other text.
long long Chronological(QString text) {
  if (!QRegularExpression("^20\\d\\d-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$").match(text).hasMatch()) return -1;
  return text.remove(QRegularExpression("[- :]")).toLongLong();
}

class MainWindowReadoutsTest : public MainWindowTest {
 protected:
  std::unique_ptr<CMainViewerDlg> OpenWithFile(const std::filesystem::path* chosen) {
    auto w = Open({"\"nLastGeigerCounterSelected\"=dword:00000004"});  // ZQT-100, 64 KiB
    w->SetFileChooser([chosen](const FileRequest&) { return FileAnswer{chosen->string(), "binary files (*.bin)"}; });
    return w;
  }
  // The dose the window should show beside a rate text, by the window's own calibration.
  static QString DoseOf(const CMainViewerDlg& w, const QString& rate) {
    const qsizetype colon = rate.indexOf(':');
    bool number = false;
    const uint32_t cpm = rate.mid(colon + 1).toUInt(&number);
    if (!number) return "-";
    auto& ctx = const_cast<CMainViewerDlg&>(w).context();
    return QString::fromStdString(FormatFixed(DoseRateFromCpm(ctx.data.conversion, cpm), 3) + " uSv/h");
  }
};

TEST_F(MainWindowReadoutsTest, TheLongestReadingsFitTheirLabelsAndKeepApart) {
  auto w = Open();
  const std::vector<std::pair<int, QStringList>> longest = {
      {1042, {"2088-12-28 23:58:58", "888 Day 23:58:58", "No data loaded."}},
      {1043, {"ACPM:88888", "CPM:888888"}},
      {1041, {"19998.880 uSv/h", "174.440 uSv/h"}},
  };
  for (const auto& [id, texts] : longest) {
    auto* label = qobject_cast<QLabel*>(w->Control(id));
    ASSERT_NE(label, nullptr) << id;
    for (const QString& text : texts) {
      label->setText(text);
      EXPECT_LE(label->fontMetrics().horizontalAdvance(text), label->contentsRect().width())
          << text.toStdString() << " in " << label->font().family().toStdString() << " "
          << label->font().pixelSize() << " px";
    }
    EXPECT_GE(label->font().pixelSize(), 14) << "still a reading, not small print: " << id;
  }
  // One row, left to right, with room between the texts so they never run together.
  const QRect time = w->Control(1042)->geometry();
  const QRect rate = w->Control(1043)->geometry();
  const QRect dose = w->Control(1041)->geometry();
  EXPECT_GE(rate.left() - time.right(), 6);
  EXPECT_GE(dose.left() - rate.right(), 6);
  EXPECT_LE(dose.right(), w->client()->width() - 1);
}

TEST_F(MainWindowReadoutsTest, EachLoadShowsItsOwnRateDoseAndDate) {
  std::filesystem::path chosen;
  auto w = OpenWithFile(&chosen);
  // Per-minute counts of 24 in one minute log: the average, not the sum of 60 minutes.
  chosen = WriteBytes(dir_, "minutes.bin", Stamp(24, 6, 1, 0, 29, 0, kEveryMinute) + Repeat(24, 600));
  w->LoadData();
  EXPECT_EQ(Text(*w, 1043), "ACPM:24");
  EXPECT_EQ(Text(*w, 1041), DoseOf(*w, "ACPM:24"));
  EXPECT_EQ(Text(*w, 1042), "2024-06-01 00:29:00");
  EXPECT_EQ(w->StatusLog().count("Data loaded!"), 1) << w->StatusLog().toStdString();
  EXPECT_EQ(w->StatusLog().count("minutes.bin"), 1);

  // A file of high per-second counts, then an empty one: every dose is that of its rate.
  chosen = WriteBytes(dir_, "seconds.bin", Stamp(24, 6, 2, 8, 0, 0, kEverySecond) + Repeat(200, 600));
  w->LoadData();
  EXPECT_EQ(Text(*w, 1043), "CPM:12000");
  EXPECT_EQ(Text(*w, 1041), DoseOf(*w, "CPM:12000"));
  chosen = WriteBytes(dir_, "empty.bin", {});
  w->LoadData();
  EXPECT_EQ(Text(*w, 1041), DoseOf(*w, Text(*w, 1043))) << Text(*w, 1043).toStdString();
  EXPECT_NE(Text(*w, 1041), DoseOf(*w, "CPM:12000"));
  EXPECT_FALSE(Text(*w, 1042).contains("2024")) << "the date of the file before";
}

TEST_F(MainWindowReadoutsTest, PlaybackRunsItsClockForwardAndLeavesMonitoringAlone) {
  std::filesystem::path chosen;
  auto w = OpenWithFile(&chosen);
  chosen = WriteBytes(dir_, "played.bin",
                      Stamp(24, 6, 1, 0, 29, 0, kEveryMinute) + Hex("55 AA 02 04 54 72 65 65") + Repeat(24, 2000));
  w->LoadData();
  for (int i = 0; i < 6; ++i) w->NextSpeed();  // x64
  w->Play();
  QStringList shown{Text(*w, 1042)};
  ASSERT_TRUE(WaitFor([&] {
    if (Text(*w, 1042) != shown.back()) shown << Text(*w, 1042);
    return w->scroll_bar().Position() > 120;
  }, 20000));
  w->StopPlayback();
  for (int i = 1; i < shown.size(); ++i)
    EXPECT_GT(Chronological(shown[i]), Chronological(shown[i - 1])) << shown.join(" | ").toStdString();
  EXPECT_GE(Chronological(shown.back()), Chronological("2024-06-01 01:30:00")) << shown.back().toStdString();
  EXPECT_EQ(w->context().data.realtime.elapsed(), 0u) << "playback is not measuring";
  EXPECT_EQ(Text(*w, 1040), "Tree");

  // Live monitoring replaces the history on screen, note included; the demonstration asks no
  // counter for its version.
  w->ToggleDemo();
  EXPECT_EQ(Text(*w, 1040), "");
  ASSERT_TRUE(WaitFor([&] { return w->polling(); }, 8000));
  EXPECT_TRUE(w->StatusLog().contains("DEMO Mode!!!"));
  EXPECT_FALSE(w->StatusLog().contains(" connected.")) << w->StatusLog().toStdString();
  w->SetCloseQuestion([](const QString&) { return CloseAnswer::kNo; });
}

TEST_F(MainWindowReadoutsTest, TheArrowKeysScrollBackPastAStamp) {
  std::filesystem::path chosen;
  auto w = OpenWithFile(&chosen);
  // Stamp A at 0, samples of 5 at 12..111, stamp B at 112..123, samples of 7 from 124.
  chosen = WriteBytes(dir_, "two.bin", Stamp(24, 6, 1, 8, 0, 0, kEverySecond) + Repeat(5, 100) +
                                           Stamp(24, 6, 1, 9, 0, 0, kEverySecond) + Repeat(7, 400));
  w->LoadData();
  ScrollBarExWnd& bar = w->scroll_bar();
  EXPECT_EQ(QApplication::focusWidget(), &bar) << "the keys scroll the data just loaded";
  const QString start = Text(*w, 1042);
  ASSERT_EQ(start, "2024-06-01 08:00:00");
  QTest::keyClick(&bar, Qt::Key_Right);
  EXPECT_GT(bar.Position(), 0.0);
  EXPECT_EQ(Text(*w, 1042), start) << "the start keeps its time";

  bar.SetPosition(124);
  w->Refill();
  ASSERT_EQ(w->context().data.window.values[0], 7u);
  const int thumb = bar.Model().Layout().thumb.left;
  for (int i = 0; i < 3 && w->context().data.window.values[0] != 5u; ++i) QTest::keyClick(&bar, Qt::Key_Left);
  EXPECT_EQ(w->context().data.window.values[0], 5u) << "at " << bar.Position();
  EXPECT_LT(bar.Position(), 112.0);
  EXPECT_EQ(Text(*w, 1042), start);
  EXPECT_LE(bar.Model().Layout().thumb.left, thumb);
}

}  // namespace
}  // namespace norvane
