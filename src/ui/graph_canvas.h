// The chart's off-screen picture: painted from a ChartDrawing, copied to the screen whole.
#pragma once

#include <QImage>
#include <QWidget>
#include <functional>
#include <string>

#include "core/graph/chart_drawing.h"

class QPainter;

namespace norvane {

// Repaints only copy the picture, so the window never shows a half-drawn chart and playback can
// redraw it every 15 ms without flicker.
class GraphCanvas : public QWidget {
  Q_OBJECT
 public:
  explicit GraphCanvas(QWidget* parent = nullptr);

  // The chart's English words as the window's language has them.
  using Translate = std::function<QString(const std::string&)>;

  // Paints every primitive into the picture, in order, then schedules a repaint.
  void Draw(const ChartDrawing& drawing, const Translate& translate = {});
  const QImage& picture() const { return picture_; }
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QImage picture_;
};

}  // namespace norvane
