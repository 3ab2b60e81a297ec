#include <gtest/gtest.h>

#include "core/chart/view_history.h"

namespace norvane::chart {
namespace {

TEST(ViewHistoryTest, BackAndForwardRetraceTheViewsAndANewViewDropsWhatLayAhead) {
  ViewHistory history;
  const ViewRange a{0, 100}, b{10, 20}, c{12, 14}, d{50, 60};
  EXPECT_FALSE(history.Back(a));
  history.Leave(a);
  history.Leave(b);
  EXPECT_EQ(history.Back(c), b);
  EXPECT_EQ(history.Back(b), a);
  EXPECT_FALSE(history.CanGoBack());
  EXPECT_EQ(history.Forward(a), b);
  EXPECT_EQ(history.Forward(b), c);
  EXPECT_FALSE(history.Forward(c));
  // Going back to a, then somewhere new: c can no longer be reached forward.
  history.Back(c);
  history.Leave(b);
  EXPECT_FALSE(history.CanGoForward());
  EXPECT_EQ(history.Back(d), b);
}

TEST(ViewHistoryTest, KeepsItsCapacityAndIgnoresRepeats) {
  ViewHistory history(3);
  for (int64_t i = 0; i < 5; ++i) {
    history.Leave({i, i + 1});
    history.Leave({i, i + 1});
  }
  ViewRange now{9, 10};
  int steps = 0;
  while (auto back = history.Back(now)) now = *back, ++steps;
  EXPECT_EQ(steps, 3);
  EXPECT_EQ(now, (ViewRange{2, 3}));
}

TEST(ViewMovesTest, ZoomKeepsTheAnchorInPlaceAndStopsAtSeconds) {
  const ViewRange day{0, 86400};
  const ViewRange in = ZoomAbout(day, 21600, 0.5);  // a quarter into the view
  EXPECT_EQ(in.to - in.from, 43200);
  EXPECT_EQ(in.from, 21600 - 43200 / 4);
  const ViewRange out = ZoomAbout(in, 21600, 2.0);
  EXPECT_EQ(out, day);
  ViewRange tiny = day;
  for (int i = 0; i < 40; ++i) tiny = ZoomAbout(tiny, 500, 0.5);
  EXPECT_EQ(tiny.to - tiny.from, kMinimumSpan);
  EXPECT_LE(tiny.from, 500);
  EXPECT_GE(tiny.to, 500);
  EXPECT_EQ(Pan(day, -0.25), (ViewRange{-21600, 64800}));
}

}  // namespace
}  // namespace norvane::chart
