// The scroll bar widget: mouse, keys and real timers drive the position and its notifications.
#include "ui/scroll_bar_ex.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>

namespace norvane {
namespace {

// 400 x 17: arrows at x 1..17 and 382..398, track 18..381 with an 18-pixel thumb.
class ScrollBarExWndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    bar.resize(400, 17);
    bar.SetRange(0, 65535);
    bar.SetPosition(1000);
    bar.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&bar));
  }

  QImage Picture() { return bar.grab().toImage().convertToFormat(QImage::Format_RGB32); }

  ScrollBarExWnd bar;
  QSignalSpy spy{&bar, &ScrollBarExWnd::notified};
};

TEST_F(ScrollBarExWndTest, ClicksMoveByTheStepsAndNotifyAtTheStatedMoments) {
  bar.SetFirstStep(4);
  QTest::mousePress(&bar, Qt::LeftButton, {}, QPoint(390, 8));
  EXPECT_DOUBLE_EQ(bar.Position(), 1008);
  EXPECT_EQ(spy.count(), 0);  // an arrow press reports only when the button comes up
  EXPECT_TRUE(bar.TimerRunning(TIMERID_RIGHTBTN));
  QTest::mouseRelease(&bar, Qt::LeftButton, {}, QPoint(390, 8));
  EXPECT_EQ(spy.count(), 1);
  EXPECT_FALSE(bar.TimerRunning(TIMERID_RIGHTBTN));
  EXPECT_TRUE(bar.hasFocus());

  QTest::mouseClick(&bar, Qt::LeftButton, {}, QPoint(5, 8));
  EXPECT_DOUBLE_EQ(bar.Position(), 768);
  EXPECT_EQ(spy.count(), 2);

  // The track reports at the press and again at the release.
  QTest::mouseClick(&bar, Qt::LeftButton, {}, QPoint(370, 8));
  EXPECT_DOUBLE_EQ(bar.Position(), 784);
  EXPECT_EQ(spy.count(), 4);

  // Other mouse buttons do nothing.
  QTest::mouseClick(&bar, Qt::RightButton, {}, QPoint(390, 8));
  EXPECT_DOUBLE_EQ(bar.Position(), 784);
  EXPECT_EQ(spy.count(), 4);
}

TEST_F(ScrollBarExWndTest, NotificationIsSynchronousAndSetPositionIsSilent) {
  // The chart's refill answers each notification by moving the bar on by the first step.
  bar.SetFirstStep(4);
  std::vector<double> seen;
  QObject::connect(&bar, &ScrollBarExWnd::notified, [&] {
    seen.push_back(bar.Position());
    bar.SetPosition(bar.Position() + 4);
  });
  QTest::mouseClick(&bar, Qt::LeftButton, {}, QPoint(370, 8));
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_DOUBLE_EQ(seen[0], 1016);
  EXPECT_DOUBLE_EQ(seen[1], 1020);
  EXPECT_DOUBLE_EQ(bar.Position(), 1024);
}

TEST_F(ScrollBarExWndTest, DraggingTheThumbAcrossTheTrackCoversTheRange) {
  bar.SetRange(0, 1000);
  bar.SetPosition(0);
  QTest::mousePress(&bar, Qt::LeftButton, {}, QPoint(20, 8));
  QMouseEvent move(QEvent::MouseMove, QPointF(384, 8), bar.mapToGlobal(QPointF(384, 8)), Qt::NoButton,
                   Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&bar, &move);
  EXPECT_DOUBLE_EQ(bar.Position(), 1000);
  EXPECT_EQ(spy.count(), 1);
  QTest::mouseRelease(&bar, Qt::LeftButton, {}, QPoint(384, 8));
  EXPECT_EQ(spy.count(), 1);
}

TEST_F(ScrollBarExWndTest, HoldingTheRightArrowRepeatsOnRealTimers) {
  bar.SetCursorSource([] { return QPoint(390, 8); });
  QTest::mousePress(&bar, Qt::LeftButton, {}, QPoint(390, 8));
  QTest::qWait(400);
  // 1 at the press, then 1 per 30 ms tick after the 100 ms delay; a busy machine gets fewer.
  EXPECT_GE(bar.Position(), 1004);
  EXPECT_GE(spy.count(), 3);
  EXPECT_TRUE(bar.Model().right_hover());
  EXPECT_TRUE(bar.TimerRunning(TIMERID_RIGHTBTNHOVER));

  QTest::mouseRelease(&bar, Qt::LeftButton, {}, QPoint(390, 8));
  const double released_at = bar.Position();
  QTest::qWait(100);
  EXPECT_DOUBLE_EQ(bar.Position(), released_at);
  EXPECT_FALSE(bar.TimerRunning(TIMERID_RIGHTBTNHOVER));
}

TEST_F(ScrollBarExWndTest, KeysStepAndNotifyEvenPastAWindowShortcut) {
  QWidget window;
  auto* own_bar = new ScrollBarExWnd(&window);
  own_bar->resize(400, 17);
  own_bar->SetRange(0, 50);
  own_bar->SetPosition(10);
  QAction shortcut(&window);
  shortcut.setShortcut(Qt::Key_Right);
  window.addAction(&shortcut);
  int shortcut_fired = 0;
  QObject::connect(&shortcut, &QAction::triggered, [&] { ++shortcut_fired; });
  QSignalSpy own_spy(own_bar, &ScrollBarExWnd::notified);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  own_bar->setFocus();

  QTest::keyClick(own_bar, Qt::Key_Right);
  EXPECT_DOUBLE_EQ(own_bar->Position(), 10.5);
  EXPECT_EQ(shortcut_fired, 0);
  QTest::keyClick(own_bar, Qt::Key_Left);
  EXPECT_DOUBLE_EQ(own_bar->Position(), 10);
  QTest::keyClick(own_bar, Qt::Key_A);
  EXPECT_DOUBLE_EQ(own_bar->Position(), 10);
  EXPECT_EQ(own_spy.count(), 3);
  // A chart's width (sixty arrow steps) a page, and the ends.
  const std::pair<Qt::Key, double> pages[] = {
      {Qt::Key_PageDown, 40}, {Qt::Key_End, 50}, {Qt::Key_PageUp, 20}, {Qt::Key_Home, 0}};
  for (const auto& [key, position] : pages) {
    QTest::keyClick(own_bar, key);
    EXPECT_DOUBLE_EQ(own_bar->Position(), position) << key;
  }
  EXPECT_EQ(own_spy.count(), 7);
}

TEST_F(ScrollBarExWndTest, TrackIsCheckeredThumbIsSolidAndAHeldArrowLooksDifferent) {
  bar.SetPosition(0);  // thumb at 18..35
  QImage picture = Picture();
  const QRgb black = qRgb(0, 0, 0);
  const QRgb white = qRgb(255, 255, 255);
  for (int y : {4, 5}) {
    const QRgb a = picture.pixel(200, y);
    const QRgb b = picture.pixel(201, y);
    EXPECT_NE(a, b);
    EXPECT_TRUE(a == black || a == white);
    EXPECT_TRUE(b == black || b == white);
  }
  EXPECT_NE(picture.pixel(200, 4), picture.pixel(200, 5));
  const QRgb face = bar.palette().color(QPalette::Button).rgb();
  EXPECT_EQ(picture.pixel(26, 8), face);
  EXPECT_EQ(picture.pixel(27, 8), face);

  // SetPosition repaints: the thumb is now at the right end and the left end is track again.
  bar.SetPosition(65535);
  picture = Picture();
  EXPECT_EQ(picture.pixel(372, 8), face);
  EXPECT_NE(picture.pixel(26, 8), picture.pixel(27, 8));

  const QImage raised = Picture();
  QTest::mousePress(&bar, Qt::LeftButton, {}, QPoint(5, 8));
  const QImage held = Picture();
  EXPECT_NE(raised.copy(1, 0, 17, 16), held.copy(1, 0, 17, 16));
  QTest::mouseRelease(&bar, Qt::LeftButton, {}, QPoint(5, 8));
}

}  // namespace
}  // namespace norvane
