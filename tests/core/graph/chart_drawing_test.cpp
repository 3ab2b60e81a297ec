#include "core/graph/chart_drawing.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace norvane {
namespace {

std::vector<ChartLine> LinesIn(const ChartDrawing& d, uint32_t colour) {
  std::vector<ChartLine> out;
  for (const auto& p : d.primitives)
    if (const auto* line = std::get_if<ChartLine>(&p); line && line->colour == colour) out.push_back(*line);
  return out;
}

std::vector<ChartText> TextsIn(const ChartDrawing& d, uint32_t colour) {
  std::vector<ChartText> out;
  for (const auto& p : d.primitives)
    if (const auto* text = std::get_if<ChartText>(&p); text && text->colour == colour) out.push_back(*text);
  return out;
}

const ChartText* FindText(const ChartDrawing& d, const std::string& text) {
  for (const auto& p : d.primitives)
    if (const auto* t = std::get_if<ChartText>(&p); t && t->text == text) return t;
  return nullptr;
}

size_t IndexOf(const ChartDrawing& d, const std::string& text) {
  for (size_t i = 0; i < d.primitives.size(); ++i)
    if (const auto* t = std::get_if<ChartText>(&d.primitives[i]); t && t->text == text) return i;
  return d.primitives.size();
}

HistoryWindow Filled(uint32_t value) {
  HistoryWindow w;
  w.values.fill(value);
  return w;
}

ChartInputs Zoom(float zoom) { return ChartInputs{zoom, ChartMode::kLine, false}; }

TEST(ChartFrame, StartsWhiteThenGridAxisAndLegendInOrder) {
  HistoryWindow w;
  const ChartDrawing d = BuildChart(w, {});
  ASSERT_FALSE(d.primitives.empty());
  EXPECT_EQ(std::get<ChartRect>(d.primitives.front()), (ChartRect{0, 0, 612, 182, kChartWhite}));

  const auto grid = LinesIn(d, kChartGrid);
  ASSERT_EQ(grid.size(), 60u + 20u + 3u);
  for (int i = 1; i <= 60; ++i) EXPECT_EQ(grid[i - 1], (ChartLine{10 * i, 0, 10 * i, 164, kChartGrid}));
  for (int j = 0; j < 20; ++j) EXPECT_EQ(grid[60 + j], (ChartLine{10, 9 * j - 4, 611, 9 * j - 4, kChartGrid}));
  // Left, bottom, right; nothing along the top.
  EXPECT_EQ(grid[80], (ChartLine{0, 0, 0, 164, kChartGrid}));
  EXPECT_EQ(grid[81], (ChartLine{0, 164, 611, 164, kChartGrid}));
  EXPECT_EQ(grid[82], (ChartLine{611, 164, 611, 0, kChartGrid}));

  const auto axis = TextsIn(d, kChartRed);
  ASSERT_EQ(axis.size(), 14u);
  const int xs[13] = {0, 41, 92, 143, 194, 245, 296, 347, 398, 449, 500, 551, 597};
  for (int k = 0; k <= 12; ++k) {
    EXPECT_EQ(axis[k].text, std::to_string(5 * k));
    EXPECT_EQ(axis[k].x, xs[k]) << k;
    EXPECT_EQ(axis[k].y, 164);
    EXPECT_EQ(axis[k].height, 15);
    EXPECT_FALSE(axis[k].bold);
  }
  EXPECT_EQ(axis[12].x + axis[12].max_width, kChartWidth);  // "60" ends inside the picture
  EXPECT_EQ(axis[13], (ChartText{566, 164, "(Time)", 14, kChartRed, 0, false, 30}));

  const size_t activity = IndexOf(d, "Activity");
  ASSERT_LT(activity, d.primitives.size());
  EXPECT_EQ(std::get<ChartRect>(d.primitives[activity - 1]), (ChartRect{490, 5, 500, 15, kChartBlue}));
  EXPECT_EQ(std::get<ChartText>(d.primitives[activity]), (ChartText{505, 3, "Activity", 14, kChartBlue, 0, false, 44}));
  EXPECT_EQ(std::get<ChartRect>(d.primitives[activity + 1]), (ChartRect{550, 5, 560, 15, kChartMagenta}));
  EXPECT_EQ(std::get<ChartText>(d.primitives[activity + 2]), (ChartText{565, 3, "Type", 14, kChartMagenta, 0, false, 47}));
  // The statistics and samples come after the legend, so nothing paints over them.
  EXPECT_GT(IndexOf(d, "Maximum:0"), activity);
}

TEST(ChartScale, AnEmptyWindowIsAFlatLineWithZeroLabels) {
  HistoryWindow w;
  const ChartDrawing d = BuildChart(w, {});
  ASSERT_EQ(d.polyline.size(), 60u);
  for (size_t n = 0; n < 60; ++n) EXPECT_EQ(d.polyline[n], (ChartPoint{10 * static_cast<int>(n) + 10, 163}));
  EXPECT_DOUBLE_EQ(d.scale, 91.0 / 2);  // a maximum of 0 scales as 2
  ASSERT_NE(FindText(d, "Maximum:0"), nullptr);
  EXPECT_EQ(*FindText(d, "Maximum:0"), (ChartText{30, 3, "Maximum:0", 16, kChartMagenta, 0, false}));
  ASSERT_NE(FindText(d, "Minimum: 0"), nullptr);
  EXPECT_EQ(FindText(d, "Minimum: 0")->y, 20);

  const auto samples = LinesIn(d, kChartBlue);
  ASSERT_EQ(samples.size(), 59u);
  EXPECT_EQ(samples.front(), (ChartLine{10, 163, 20, 163, kChartBlue}));
  EXPECT_EQ(samples.back(), (ChartLine{590, 163, 600, 163, kChartBlue}));
}

TEST(ChartScale, AutomaticZoomPutsTheLargestValueHalfwayUpWhateverItIs) {
  for (uint32_t top : {2u, 3u, 7u, 77u, 155u, 1000u, 4093u, 65534u, 65535u, 1000003u}) {
    HistoryWindow w;
    w.values[17] = top;
    w.values[18] = top / 2;
    const ChartDrawing d = BuildChart(w, {});
    EXPECT_EQ(d.polyline[17].y, 72) << top;
    EXPECT_EQ(d.polyline[18].y, 163 - static_cast<int>(uint64_t{top / 2} * 91 / top)) << top;
    EXPECT_EQ(d.maximum, top);
  }
  // A maximum of 1 still scales as 2 but is labelled as it is.
  HistoryWindow one;
  one.values[0] = 1;
  const ChartDrawing d = BuildChart(one, {});
  EXPECT_EQ(d.polyline[0].y, 163 - 45);
  EXPECT_NE(FindText(d, "Maximum:1"), nullptr);
}

TEST(ChartScale, FixedZoomIsTenPixelsPerCountTimesTheFactor) {
  HistoryWindow w;
  w.values[0] = 182;
  w.values[1] = 2;
  w.values[2] = 3;
  w.values[3] = 1;
  const ChartDrawing tenth = BuildChart(w, Zoom(0.1f));
  EXPECT_EQ(tenth.polyline[0].y, -19);  // 1 pixel per count: just off the top
  EXPECT_EQ(tenth.polyline[3].y, 162);
  EXPECT_EQ(BuildChart(w, Zoom(0.5f)).polyline[2].y, 163 - 15);
  EXPECT_EQ(BuildChart(w, Zoom(1.0f)).polyline[0].y, 163 - 1820);
  const ChartDrawing ten = BuildChart(w, Zoom(10.0f));
  EXPECT_EQ(ten.polyline[3].y, 63);
  EXPECT_LT(ten.polyline[1].y, 0);  // 2 counts already leave the picture
  EXPECT_DOUBLE_EQ(ten.scale, 100.0);
}

TEST(ChartValues, ErasedFlashCountsAsZeroAndIsZeroedInTheWindow) {
  HistoryWindow w;
  w.values.fill(255);
  w.values[5] = 40;
  const ChartDrawing d = BuildChart(w, {});
  EXPECT_EQ(d.maximum, 40u);
  EXPECT_EQ(d.minimum, 0u);
  EXPECT_EQ(d.polyline[0].y, 163);
  EXPECT_EQ(d.polyline[5].y, 72);
  EXPECT_EQ(w.values[0], 0u);
  EXPECT_EQ(w.values[5], 40u);
}

TEST(ChartValues, AnEmptyWideSampleStaysAndDominates) {
  HistoryWindow w = Filled(100);
  w.values[9] = kNoDataWide;
  const ChartDrawing d = BuildChart(w, {});
  EXPECT_EQ(w.values[9], kNoDataWide);
  EXPECT_EQ(d.maximum, 0xFFFFu);
  EXPECT_NE(FindText(d, "Maximum:65535"), nullptr);
  EXPECT_NE(FindText(d, "Minimum: 100"), nullptr);
  EXPECT_EQ(d.polyline[9].y, 72);
  EXPECT_EQ(d.polyline[0].y, 163);  // 100 * 91 / 65535 truncates to nothing
}

TEST(ChartValues, LongCountsKeepTheirOwnMinimumAndStayDefinedFarOffTheTop) {
  HistoryWindow w = Filled(70000);
  w.values[1] = 0xFFFFFFFFu;
  const ChartDrawing automatic = BuildChart(w, {});
  EXPECT_NE(FindText(automatic, "Minimum: 70000"), nullptr);
  EXPECT_NE(FindText(automatic, "Maximum:4294967295"), nullptr);
  EXPECT_EQ(automatic.polyline[1].y, 72);

  const ChartDrawing zoomed = BuildChart(w, Zoom(10.0f));
  EXPECT_LT(zoomed.polyline[1].y, -100000);
  EXPECT_LE(zoomed.polyline[1].y, zoomed.polyline[0].y);
}

TEST(ChartValueMode, LabelsEverySampleAndDrawsNoLine) {
  HistoryWindow w;
  for (size_t n = 0; n < 60; ++n) {
    w.values[n] = static_cast<uint32_t>(n * 3);
    w.types[n] = static_cast<uint8_t>(n % 7);
  }
  const ChartDrawing d = BuildChart(w, ChartInputs{100.0f, ChartMode::kValue, false});
  EXPECT_TRUE(d.polyline.empty());
  EXPECT_TRUE(LinesIn(d, kChartBlue).empty());

  std::vector<ChartText> values, letters;
  for (const auto& t : TextsIn(d, kChartBlue))
    if (t.escapement == 900) values.push_back(t);
  for (const auto& t : TextsIn(d, kChartMagenta))
    if (t.escapement == 900) letters.push_back(t);
  ASSERT_EQ(values.size(), 60u);
  ASSERT_EQ(letters.size(), 60u);
  const std::string expected_letters = "SMH---";  // types 1..6 of the pattern above
  for (size_t i = 0; i < 60; ++i) {
    const int n = static_cast<int>(i);
    EXPECT_EQ(values[i], (ChartText{10 * n, 120, std::to_string(3 * n), 10, kChartBlue, 900, true}));
    EXPECT_EQ(letters[i].x, 10 * n);
    EXPECT_EQ(letters[i].y, 80);
    EXPECT_TRUE(letters[i].bold);
    EXPECT_EQ(letters[i].height, 10);
    EXPECT_EQ(letters[i].text, n % 7 == 0 ? "-" : std::string(1, expected_letters[n % 7 - 1]));
  }
  // Value and letter of one sample are painted together.
  EXPECT_EQ(IndexOf(d, "3") + 1, IndexOf(d, "S"));
}

TEST(ChartValueMode, RealtimeLabelsEverySampleS) {
  HistoryWindow w;
  w.types.fill(kEveryHour);
  w.types[4] = 0;
  const ChartDrawing d = BuildChart(w, ChartInputs{100.0f, ChartMode::kValue, true});
  const auto letters = TextsIn(d, kChartMagenta);
  EXPECT_EQ(std::count_if(letters.begin(), letters.end(), [](const ChartText& t) { return t.text == "S"; }), 60);
  EXPECT_EQ(SaveTypeLetter(kEveryHour, false), 'H');
  EXPECT_EQ(SaveTypeLetter(kThresholdSecond, false), '-');
  EXPECT_EQ(SaveTypeLetter(kUnknownSaveType, false), '-');
}

}  // namespace
}  // namespace norvane
