#include "ui/scroll_bar_ex.h"

#include <QCursor>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>
#include <QTimerEvent>
#include <qdrawutil.h>

namespace norvane {

namespace {

ScrollPoint ToScroll(const QPoint& p) { return ScrollPoint{p.x(), p.y()}; }

QRect ToQRect(const ScrollRect& r) { return QRect(r.left, r.top, r.Width(), r.Height()); }

// One 2 x 2 tile: white on the diagonal, so each row's dots start one pixel right of the last.
QBrush CheckerBrush() {
  QImage tile(2, 2, QImage::Format_RGB32);
  tile.setPixel(0, 0, qRgb(255, 255, 255));
  tile.setPixel(1, 0, qRgb(0, 0, 0));
  tile.setPixel(0, 1, qRgb(0, 0, 0));
  tile.setPixel(1, 1, qRgb(255, 255, 255));
  return QBrush(tile);
}

}  // namespace

ScrollBarExWnd::ScrollBarExWnd(QWidget* parent) : QWidget(parent) {
  // Every pixel comes from the off-screen picture, so there is nothing to erase first.
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFocusPolicy(Qt::StrongFocus);
  setCursor(Qt::ArrowCursor);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  model_.SetClientRect({0, 0, width(), height()});
  cursor_source_ = [this] { return mapFromGlobal(QCursor::pos()); };
}

void ScrollBarExWnd::SetRange(double minimum, double maximum) {
  model_.SetRange(minimum, maximum);
  update();
}

void ScrollBarExWnd::SetPosition(double value) {
  model_.SetPosition(value);
  update();
}

void ScrollBarExWnd::SetCursorSource(CursorSource source) {
  if (source) cursor_source_ = std::move(source);
}

bool ScrollBarExWnd::TimerRunning(int timer_id) const {
  const int index = timer_id - TIMERID_SCROLLBAR;
  if (index < 0 || index >= static_cast<int>(timers_.size())) return false;
  return timers_[index].isActive();
}

QSize ScrollBarExWnd::sizeHint() const {
  return QSize(200, style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this));
}

QPoint ScrollBarExWnd::CursorPoint() const { return cursor_source_(); }

void ScrollBarExWnd::Apply(const ScrollBarReaction& reaction) {
  for (int id : reaction.kill_timers) timers_[id - TIMERID_SCROLLBAR].stop();
  for (int id : reaction.start_timers) {
    timers_[id - TIMERID_SCROLLBAR].start(ScrollTimerPeriodMs(id), Qt::PreciseTimer, this);
  }
  if (reaction.repaint) update();
  if (reaction.notify) emit notified();
}

bool ScrollBarExWnd::event(QEvent* event) {
  // The arrows belong to the bar even where a window shortcut or a dialog would take them.
  if (event->type() == QEvent::ShortcutOverride) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Left || key == Qt::Key_Right || key == Qt::Key_PageUp || key == Qt::Key_PageDown ||
        key == Qt::Key_Home || key == Qt::Key_End) {
      event->accept();
      return true;
    }
  }
  return QWidget::event(event);
}

void ScrollBarExWnd::resizeEvent(QResizeEvent* event) {
  model_.SetClientRect({0, 0, width(), height()});
  QWidget::resizeEvent(event);
}

void ScrollBarExWnd::HandlePress(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    event->ignore();
    return;
  }
  if (!hasFocus()) setFocus(Qt::MouseFocusReason);
  // Qt keeps sending this widget the mouse until the button comes up.
  Apply(model_.Press(ToScroll(event->position().toPoint())));
}

void ScrollBarExWnd::mousePressEvent(QMouseEvent* event) { HandlePress(event); }

void ScrollBarExWnd::mouseDoubleClickEvent(QMouseEvent* event) { HandlePress(event); }

void ScrollBarExWnd::mouseMoveEvent(QMouseEvent* event) {
  Apply(model_.MouseMove(ToScroll(event->position().toPoint())));
}

void ScrollBarExWnd::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    event->ignore();
    return;
  }
  Apply(model_.Release());
}

void ScrollBarExWnd::keyPressEvent(QKeyEvent* event) {
  ScrollKey key = ScrollKey::kOther;
  switch (event->key()) {
    case Qt::Key_Left: key = ScrollKey::kLeft; break;
    case Qt::Key_Right: key = ScrollKey::kRight; break;
    case Qt::Key_PageUp: key = ScrollKey::kPageUp; break;
    case Qt::Key_PageDown: key = ScrollKey::kPageDown; break;
    case Qt::Key_Home: key = ScrollKey::kHome; break;
    case Qt::Key_End: key = ScrollKey::kEnd; break;
    default: break;
  }
  Apply(model_.Key(key));
  // Other keys are reported too, but still reach the window (Escape, shortcuts).
  if (key == ScrollKey::kOther) {
    event->ignore();
  } else {
    event->accept();
  }
}

void ScrollBarExWnd::timerEvent(QTimerEvent* event) {
  for (size_t i = 0; i < timers_.size(); ++i) {
    if (timers_[i].timerId() == event->timerId()) {
      const int id = TIMERID_SCROLLBAR + static_cast<int>(i);
      Apply(model_.TimerTick(id, ToScroll(CursorPoint())));
      return;
    }
  }
  QWidget::timerEvent(event);
}

void ScrollBarExWnd::DrawArrowButton(QPainter& painter, const QRect& rect, bool pressed, bool left) const {
  const QPalette& pal = palette();
  if (pressed) {
    // Held down: flat, with the arrow nudged the way a pushed button's face moves.
    painter.fillRect(rect, pal.button());
    qDrawPlainRect(&painter, rect, pal.color(QPalette::Dark), 1);
  } else {
    qDrawWinButton(&painter, rect, pal, false, &pal.button());
  }
  QStyleOption option;
  option.initFrom(this);
  option.state &= ~QStyle::State_HasFocus;
  option.rect = rect.adjusted(3, 3, -3, -3);
  if (pressed) option.rect.translate(1, 1);
  style()->drawPrimitive(left ? QStyle::PE_IndicatorArrowLeft : QStyle::PE_IndicatorArrowRight, &option,
                         &painter, this);
}

void ScrollBarExWnd::paintEvent(QPaintEvent*) {
  if (width() <= 0 || height() <= 0) return;
  model_.SetClientRect({0, 0, width(), height()});
  const ScrollBarLayout layout = model_.Layout();

  QImage picture(size(), QImage::Format_RGB32);
  // The one-pixel rim around the parts shows the window colour.
  picture.fill(palette().color(QPalette::Window));
  {
    QPainter painter(&picture);
    painter.setClipRect(rect());

    DrawArrowButton(painter, ToQRect(layout.left_button), model_.left_pressed(), true);
    DrawArrowButton(painter, ToQRect(layout.right_button), model_.right_pressed(), false);

    const QRect track = ToQRect(layout.track);
    if (!track.isEmpty()) {
      painter.setBrushOrigin(track.topLeft());
      painter.fillRect(track, CheckerBrush());
    }
    const QRect thumb = ToQRect(layout.thumb);
    if (!thumb.isEmpty()) {
      qDrawWinButton(&painter, thumb, palette(), false, &palette().button());
    }
  }
  QPainter screen(this);
  screen.drawImage(0, 0, picture);
}

}  // namespace norvane
