#include "ui/graph_canvas.h"

#include <gtest/gtest.h>

namespace norvane {
namespace {

constexpr QRgb kQtBlue = 0x0000FF;  // the chart's 0xFF0000 once in Qt's order
constexpr QRgb kQtMagenta = 0xFF00FF;
constexpr QRgb kQtGrey = 0xDEDEDE;
constexpr QRgb kQtWhite = 0xFFFFFF;

QRgb At(const GraphCanvas& canvas, int x, int y) { return canvas.picture().pixel(x, y) & 0xFFFFFF; }

ChartDrawing Chart(HistoryWindow window, ChartInputs inputs = {}) { return BuildChart(window, inputs); }

TEST(GraphCanvas, StartsAsAWhitePictureOfTheChartSize) {
  GraphCanvas canvas;
  EXPECT_EQ(canvas.sizeHint(), QSize(612, 182));  // the whole picture, "60" at its right end included
  EXPECT_EQ(canvas.picture().size(), QSize(612, 182));
  for (const QPoint p : {QPoint(0, 0), QPoint(300, 163), QPoint(611, 181)}) EXPECT_EQ(At(canvas, p.x(), p.y()), kQtWhite);
}

TEST(GraphCanvas, PaintsGridSamplesAndLegendInTheirColours) {
  GraphCanvas canvas;
  canvas.Draw(Chart({}));
  EXPECT_EQ(At(canvas, 300, 163), kQtBlue);  // the flat line of an empty window
  EXPECT_EQ(At(canvas, 305, 163), kQtBlue);
  EXPECT_EQ(At(canvas, 300, 100), kQtGrey);  // vertical grid
  EXPECT_EQ(At(canvas, 305, 86), kQtGrey);   // horizontal grid, 9 * 10 - 4
  EXPECT_EQ(At(canvas, 0, 100), kQtGrey);    // frame
  EXPECT_EQ(At(canvas, 305, 0), kQtWhite);   // no top edge
  EXPECT_EQ(At(canvas, 611, 1), kQtGrey);
  EXPECT_EQ(At(canvas, 611, 0), kQtWhite);   // a line leaves out its end point
  EXPECT_EQ(At(canvas, 20, 164), kQtGrey);
  EXPECT_EQ(At(canvas, 25, 175), kQtWhite);  // below the axis, between two labels

  // Legend boxes cover 490..499 by 5..14.
  EXPECT_EQ(At(canvas, 495, 10), kQtBlue);
  EXPECT_EQ(At(canvas, 490, 5), kQtBlue);
  EXPECT_EQ(At(canvas, 499, 13), kQtBlue);
  EXPECT_EQ(At(canvas, 495, 15), kQtWhite);
  EXPECT_EQ(At(canvas, 500, 10), kQtGrey);  // the grid line beside it survives
  EXPECT_EQ(At(canvas, 555, 10), kQtMagenta);

  // At its natural size the widget shows the picture itself.
  canvas.resize(canvas.sizeHint());
  const QImage shown = canvas.grab().toImage();
  EXPECT_EQ(shown.pixel(300, 163) & 0xFFFFFF, kQtBlue);
  EXPECT_EQ(shown.pixel(495, 10) & 0xFFFFFF, kQtBlue);
}

TEST(GraphCanvas, EveryDrawStartsFromAWhitePicture) {
  GraphCanvas canvas;
  HistoryWindow raised;
  raised.values.fill(51);
  canvas.Draw(Chart(raised, {0.1f, ChartMode::kLine, false}));
  EXPECT_EQ(At(canvas, 305, 112), kQtBlue);
  canvas.Draw(Chart({}));
  EXPECT_EQ(At(canvas, 305, 112), kQtWhite);
  EXPECT_EQ(At(canvas, 305, 163), kQtBlue);
}

TEST(GraphCanvas, ValueLabelsRunUpwardsOnAWhiteBackground) {
  GraphCanvas canvas;
  HistoryWindow window;
  window.values.fill(3);
  canvas.Draw(Chart(window, {100.0f, ChartMode::kValue, false}));
  // Sample 30's label starts at (300, 120) and climbs; its background hides the grid line that
  // runs along the cell's top edge, while the line below the label is untouched.
  EXPECT_EQ(At(canvas, 300, 118), kQtWhite);
  EXPECT_EQ(At(canvas, 300, 126), kQtGrey);
  EXPECT_EQ(At(canvas, 305, 163), kQtWhite);  // no sample line in value mode
}

}  // namespace
}  // namespace norvane
