#include "ui/graph_canvas.h"

#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <algorithm>
#include <cstdlib>
#include <type_traits>
#include <variant>

#include "ui/colour_ref.h"

namespace norvane {
namespace {

QPen ChartPen(uint32_t colour) {
  QPen pen(FromColourRef(colour));
  pen.setWidth(0);  // cosmetic: exactly one pixel
  return pen;
}

// The chart's lines leave out their last pixel. Straight lines are filled pixel for pixel, which
// is exact whatever the paint engine does with a line's ends; a sloped line stops one step short.
void Paint(QPainter& painter, const ChartLine& line) {
  const int dx = line.x2 - line.x1;
  const int dy = line.y2 - line.y1;
  const int steps = std::max(std::abs(dx), std::abs(dy));
  if (steps == 0) return;
  const QColor colour = FromColourRef(line.colour);
  if (dx == 0 || dy == 0) {
    // From the start up to, not including, the end point.
    const int x = dx < 0 ? line.x2 + 1 : line.x1;
    const int y = dy < 0 ? line.y2 + 1 : line.y1;
    painter.fillRect(QRect(x, y, dx == 0 ? 1 : std::abs(dx), dy == 0 ? 1 : std::abs(dy)), colour);
    return;
  }
  const double kept = static_cast<double>(steps - 1) / steps;
  const QPoint end(line.x1 + qRound(dx * kept), line.y1 + qRound(dy * kept));
  painter.setPen(ChartPen(line.colour));
  if (steps == 1)
    painter.drawPoint(end);
  else
    painter.drawLine(QPoint(line.x1, line.y1), end);
}

void Paint(QPainter& painter, const ChartRect& rect) {
  // Right and bottom are exclusive, so the width is simply right - left.
  painter.fillRect(QRect(rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top),
                   FromColourRef(rect.colour));
}

// The largest pixel size whose cell (ascent + descent) fits the requested height.
QFont CellFont(int height, bool bold) {
  QFont font(QStringLiteral("Arial"));
  font.setWeight(bold ? QFont::Bold : QFont::Normal);
  int size = std::max(height, 1);
  font.setPixelSize(size);
  while (size > 1 && QFontMetrics(font).height() > height) font.setPixelSize(--size);
  return font;
}

void Paint(QPainter& painter, const ChartText& text, const GraphCanvas::Translate& translate) {
  painter.save();
  const QString string = translate ? translate(text.text) : QString::fromStdString(text.text);
  QFont font = CellFont(text.height, text.bold);
  // A text wider than its room is drawn smaller rather than cut or painted over its neighbour.
  for (int size = font.pixelSize(); text.max_width > 0 && size > 6 &&
                                    QFontMetrics(font).horizontalAdvance(string) > text.max_width;)
    font.setPixelSize(--size);
  const QFontMetrics metrics(font);
  painter.translate(text.x, text.y);
  // Escapement turns anticlockwise about the top-left corner; Qt's angles run clockwise.
  painter.rotate(-text.escapement / 10.0);
  painter.fillRect(QRect(0, 0, metrics.horizontalAdvance(string), metrics.height()), Qt::white);
  painter.setFont(font);
  painter.setPen(FromColourRef(text.colour));
  painter.drawText(0, metrics.ascent(), string);
  painter.restore();
}

}  // namespace

GraphCanvas::GraphCanvas(QWidget* parent)
    : QWidget(parent), picture_(kChartWidth, kChartHeight, QImage::Format_RGB32) {
  picture_.fill(Qt::white);
  // The window may give the chart more room or, on a small screen, less: the picture keeps its
  // own size (pictures and tests read it) and is shown scaled to the room, never distorted.
  setMinimumSize(kChartWidth / 2, kChartHeight / 2);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

QSize GraphCanvas::sizeHint() const { return {kChartWidth, kChartHeight}; }

void GraphCanvas::Draw(const ChartDrawing& drawing, const Translate& translate) {
  {
    QPainter painter(&picture_);
    painter.setRenderHint(QPainter::Antialiasing, false);
    for (const ChartPrimitive& primitive : drawing.primitives) {
      if (const auto* text = std::get_if<ChartText>(&primitive))
        Paint(painter, *text, translate);
      else
        std::visit([&painter](const auto& p) {
          if constexpr (!std::is_same_v<std::decay_t<decltype(p)>, ChartText>) Paint(painter, p);
        }, primitive);
    }
  }
  update();
}

void GraphCanvas::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  // The whole picture: its last columns hold the end of the time axis, "60".
  const QRect source(0, 0, kChartWidth, kChartHeight);
  const QSize shown = source.size().scaled(size(), Qt::KeepAspectRatio);
  const QRect target(QPoint((width() - shown.width()) / 2, (height() - shown.height()) / 2), shown);
  painter.fillRect(rect(), palette().window());
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.drawImage(target, picture_, source);
}

}  // namespace norvane
