// The horizontal scroll bar under the history chart, with its own step sizes and auto-repeat.
#pragma once

#include <QBasicTimer>
#include <QPoint>
#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>

#include "core/controls/scroll_bar_model.h"

namespace norvane {

// Draws and forwards; ScrollBarModel decides. Every change the user makes is reported through
// notified(), emitted synchronously so the chart refills before the bar goes on.
class ScrollBarExWnd : public QWidget {
  Q_OBJECT
 public:
  // Where the cursor is, in this widget's coordinates, when a timer ticks.
  using CursorSource = std::function<QPoint()>;

  explicit ScrollBarExWnd(QWidget* parent = nullptr);

  // Leaves the position alone.
  void SetRange(double minimum, double maximum);
  // Repaints; does not emit notified().
  void SetPosition(double value);
  double Position() const { return model_.position(); }
  void SetFirstStep(uint32_t first_step) { model_.SetFirstStep(first_step); }

  const ScrollBarModel& Model() const { return model_; }
  // Tests put the cursor where they want it; by default it is read from QCursor.
  void SetCursorSource(CursorSource source);
  bool TimerRunning(int timer_id) const;

  QSize sizeHint() const override;

 signals:
  void notified();

 protected:
  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void timerEvent(QTimerEvent* event) override;

 private:
  void HandlePress(QMouseEvent* event);
  void Apply(const ScrollBarReaction& reaction);
  QPoint CursorPoint() const;
  void DrawArrowButton(QPainter& painter, const QRect& rect, bool pressed, bool left) const;

  ScrollBarModel model_;
  // One per timer id, TIMERID_SCROLLBAR first.
  std::array<QBasicTimer, 5> timers_;
  CursorSource cursor_source_;
};

}  // namespace norvane
