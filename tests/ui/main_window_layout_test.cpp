// The main window's layout: everything in reach on a small screen, the room of a big one given to
// the chart and the status log.
#include "tests/ui/main_window_fixture.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMenuBar>
#include <QPlainTextEdit>

#include "ui/graph_canvas.h"

namespace norvane {
namespace {

// Every visible control of the window, each with its rectangle in window coordinates.
std::vector<std::pair<QWidget*, QRect>> Controls(CMainViewerDlg& w) {
  std::vector<std::pair<QWidget*, QRect>> out;
  for (QWidget* c : w.client()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    if (c->isVisible()) out.emplace_back(c, QRect(c->mapTo(&w, QPoint(0, 0)), c->size()));
  }
  return out;
}

TEST_F(MainWindowTest, EveryControlFitsASmallScreenAndABigOneGrowsTheChartAndTheLog) {
  auto w = Open();
  // Opened on a 1024×600 screen, it leaves room for the title bar (about 30 px) a window manager
  // puts above it.
  EXPECT_LE(w->StartSize(QSize(1024, 600)).height(), 600 - 30);
  // 1024×600 less a panel and a title bar, and the whole of it.
  for (const QSize size : {QSize(1024, 540), QSize(1024, 600)}) {
    w->resize(size);
    QApplication::processEvents();
    ASSERT_EQ(w->size(), size);
    const auto controls = Controls(*w);
    ASSERT_GT(controls.size(), 25u);
    const QRect menu(w->findChild<QMenuBar*>()->mapTo(w.get(), QPoint(0, 0)), w->findChild<QMenuBar*>()->size());
    for (size_t i = 0; i < controls.size(); ++i) {
      const auto& [control, area] = controls[i];
      const std::string name = control->metaObject()->className() + std::string(" ") + control->objectName().toStdString();
      EXPECT_TRUE(w->rect().contains(area)) << name;
      EXPECT_FALSE(area.intersects(menu)) << name;
      for (size_t j = i + 1; j < controls.size(); ++j)
        EXPECT_FALSE(area.intersects(controls[j].second)) << name << " / " << controls[j].first->metaObject()->className();
    }
  }

  const QSize chart_before = w->canvas().size();
  const QSize log_before = w->Control(1150)->size();
  w->resize(1900, 1000);
  QApplication::processEvents();
  EXPECT_GT(w->canvas().width(), chart_before.width());
  EXPECT_GT(w->canvas().height(), chart_before.height());
  EXPECT_GT(w->Control(1150)->width(), log_before.width());
  EXPECT_GT(w->Control(1150)->height(), log_before.height());
  // The controls in a row keep the size they always had.
  EXPECT_EQ(w->Control(1302)->size(), QSize(100, 26));
}

}  // namespace
}  // namespace norvane
