// The extended scroll bar's steps, layout and press/drag/timer/key behaviour.
#include "core/controls/scroll_bar_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace norvane {
namespace {

// 400 x 17 client: arrows 17 wide at x 1..17 and 382..398, track 18..381 (364 wide).
constexpr ScrollRect kClient{0, 0, 400, 17};
constexpr ScrollPoint kOnLeft{5, 8};
constexpr ScrollPoint kOnRight{390, 8};
constexpr ScrollPoint kOffButtons{200, 40};

ScrollBarModel MakeModel(double minimum, double maximum, double position, uint32_t first_step = 0) {
  ScrollBarModel model;
  model.SetClientRect(kClient);
  model.SetRange(minimum, maximum);
  model.SetPosition(position);
  model.SetFirstStep(first_step);
  return model;
}

bool Has(const std::vector<int>& ids, int id) { return std::find(ids.begin(), ids.end(), id) != ids.end(); }

TEST(ScrollBarLayout, FollowsTheClientRectangle) {
  const ScrollBarLayout at_start = ComputeScrollBarLayout(kClient, 0, 65535, 0);
  EXPECT_EQ(at_start.left_button, (ScrollRect{1, -1, 18, 16}));
  EXPECT_EQ(at_start.right_button, (ScrollRect{382, -1, 399, 16}));
  EXPECT_EQ(at_start.track, (ScrollRect{18, -1, 382, 16}));
  // trunc(364 * 5 / 100 + 0.5) = 18
  EXPECT_EQ(at_start.thumb, (ScrollRect{18, -1, 36, 16}));

  // Half way: 18 + trunc(346 / 2).
  EXPECT_EQ(ComputeScrollBarLayout(kClient, 0, 1000, 500).thumb, (ScrollRect{191, -1, 209, 16}));
  EXPECT_EQ(ComputeScrollBarLayout(kClient, 0, 1000, 1000).thumb, (ScrollRect{364, -1, 382, 16}));
  // An offset client rectangle moves everything with it.
  EXPECT_EQ(ComputeScrollBarLayout({10, 20, 410, 37}, 0, 1000, 0).track, (ScrollRect{28, 19, 392, 36}));
}

TEST(ScrollBarLayout, DegenerateRangesAndSizesKeepTheThumbOnTheTrack) {
  // Zero-width range: no division, thumb at the left end.
  EXPECT_EQ(ComputeScrollBarLayout(kClient, 7, 7, 7).thumb.left, 18);
  // Positions outside the range (the chart's refill can push it past the end) stay on the track.
  EXPECT_EQ(ComputeScrollBarLayout(kClient, 0, 100, 250).thumb.right, 382);
  EXPECT_EQ(ComputeScrollBarLayout(kClient, 0, 100, -50).thumb.left, 18);
  // Too narrow for both arrows: an empty track, not a negative one.
  const ScrollBarLayout narrow = ComputeScrollBarLayout({0, 0, 30, 17}, 0, 100, 50);
  EXPECT_EQ(narrow.track.Width(), 0);
  EXPECT_EQ(narrow.thumb.Width(), 0);
}

TEST(ScrollBarSteps, DependOnRangeAndFirstStep) {
  ScrollBarModel model = MakeModel(0, 65535, 0);
  EXPECT_DOUBLE_EQ(model.PressStep(), 1.0);
  EXPECT_DOUBLE_EQ(model.RepeatStep(), 1.0);
  model.SetFirstStep(4);
  EXPECT_DOUBLE_EQ(model.PressStep(), 8.0);
  EXPECT_DOUBLE_EQ(model.RepeatStep(), 1.0);

  model.SetFirstStep(0);
  model.SetRange(0, 50);
  EXPECT_DOUBLE_EQ(model.RepeatStep(), 0.5);
  EXPECT_DOUBLE_EQ(model.PressStep(), 1.0);
  model.SetRange(0, 0.05);
  EXPECT_DOUBLE_EQ(model.PressStep(), 0.5);
  // A reversed range steps by nothing rather than backwards.
  model.SetRange(10, 0);
  EXPECT_DOUBLE_EQ(model.PressStep(), 0.0);
  EXPECT_DOUBLE_EQ(model.RepeatStep(), 0.0);
}

TEST(ScrollBarPress, ArrowsMoveByTheirStepsAndReportOnRelease) {
  ScrollBarModel model = MakeModel(0, 65535, 1000);
  ScrollBarReaction r = model.Press(kOnRight);
  EXPECT_DOUBLE_EQ(model.position(), 1001);
  EXPECT_TRUE(model.right_pressed());
  EXPECT_EQ(r.start_timers, std::vector<int>{TIMERID_RIGHTBTN});
  EXPECT_FALSE(r.notify);
  EXPECT_TRUE(r.repaint);
  r = model.Release();
  EXPECT_TRUE(r.notify);
  EXPECT_FALSE(model.right_pressed());
  EXPECT_FALSE(model.TimerActive(TIMERID_RIGHTBTN));

  model.Press(kOnLeft);
  EXPECT_DOUBLE_EQ(model.position(), 971);
  EXPECT_TRUE(model.TimerActive(TIMERID_LEFTBTN));
  model.Release();

  model.SetFirstStep(4);
  model.Press(kOnRight);
  EXPECT_DOUBLE_EQ(model.position(), 979);
  model.Release();
  model.Press(kOnLeft);
  EXPECT_DOUBLE_EQ(model.position(), 739);
  model.Release();
  // Thumb near the left end: a press at the far right of the track is right of it.
  r = model.Press({370, 8});
  EXPECT_DOUBLE_EQ(model.position(), 755);
  EXPECT_TRUE(model.track_pressed());
  EXPECT_TRUE(r.notify);
  EXPECT_TRUE(Has(r.start_timers, TIMERID_SCROLLBAR));
}

TEST(ScrollBarPress, NeverLeavesTheRange) {
  // Range 0..100 at 5 puts the thumb at 35..53, leaving track to its left.
  ScrollBarModel model = MakeModel(0, 100, 5, 4);
  ASSERT_EQ(model.Layout().thumb.left, 35);
  model.Press({20, 8});
  EXPECT_DOUBLE_EQ(model.position(), 0);
  model.Release();
  model.Press(kOnLeft);
  EXPECT_DOUBLE_EQ(model.position(), 0);
  model.Release();
  model.SetPosition(99);
  model.Press(kOnRight);
  EXPECT_DOUBLE_EQ(model.position(), 100);
}

TEST(ScrollBarPress, OutsideEveryPartOnlyRepaints) {
  ScrollBarModel model = MakeModel(0, 65535, 1000);
  // Row 16 lies below the base rectangle.
  const ScrollBarReaction r = model.Press({200, 16});
  EXPECT_DOUBLE_EQ(model.position(), 1000);
  EXPECT_FALSE(r.notify);
  EXPECT_TRUE(r.start_timers.empty());
  EXPECT_FALSE(model.track_pressed());
}

TEST(ScrollBarRepeat, HoldingTheLeftArrowRepeatsOnlyOnTheButton) {
  ScrollBarModel model = MakeModel(0, 65535, 1000);
  model.Press(kOnLeft);
  EXPECT_DOUBLE_EQ(model.position(), 970);
  // Nothing moves before the delay timer; the repeat timer is not yet running.
  EXPECT_FALSE(model.TimerActive(TIMERID_LEFTBTNHOVER));
  EXPECT_FALSE(model.TimerTick(TIMERID_LEFTBTNHOVER, kOnLeft).notify);
  EXPECT_DOUBLE_EQ(model.position(), 970);

  // The delay timer off the button waits for the cursor to come back.
  ScrollBarReaction r = model.TimerTick(TIMERID_LEFTBTN, kOffButtons);
  EXPECT_FALSE(r.repaint);
  EXPECT_TRUE(model.TimerActive(TIMERID_LEFTBTN));

  r = model.TimerTick(TIMERID_LEFTBTN, kOnLeft);
  EXPECT_DOUBLE_EQ(model.position(), 970);
  EXPECT_TRUE(model.left_hover());
  EXPECT_EQ(r.kill_timers, std::vector<int>{TIMERID_LEFTBTN});
  EXPECT_EQ(r.start_timers, std::vector<int>{TIMERID_LEFTBTNHOVER});
  EXPECT_EQ(ScrollTimerPeriodMs(TIMERID_LEFTBTN), 100);
  EXPECT_EQ(ScrollTimerPeriodMs(TIMERID_LEFTBTNHOVER), 30);

  for (int tick = 1; tick <= 3; ++tick) {
    r = model.TimerTick(TIMERID_LEFTBTNHOVER, kOnLeft);
    EXPECT_DOUBLE_EQ(model.position(), 970 - tick);
    EXPECT_TRUE(r.notify);
  }
  // Off the button: paused, drawn raised, still reported.
  r = model.TimerTick(TIMERID_LEFTBTNHOVER, kOffButtons);
  EXPECT_DOUBLE_EQ(model.position(), 967);
  EXPECT_FALSE(model.left_pressed());
  EXPECT_FALSE(model.left_hover());
  EXPECT_TRUE(r.repaint);
  EXPECT_TRUE(r.notify);
  r = model.TimerTick(TIMERID_LEFTBTNHOVER, kOffButtons);
  EXPECT_FALSE(r.repaint);
  EXPECT_TRUE(r.notify);
  // Back on it: resumes, pressed again.
  model.TimerTick(TIMERID_LEFTBTNHOVER, kOnLeft);
  EXPECT_DOUBLE_EQ(model.position(), 966);
  EXPECT_TRUE(model.left_pressed());

  r = model.Release();
  EXPECT_TRUE(Has(r.kill_timers, TIMERID_LEFTBTNHOVER));
  EXPECT_TRUE(r.notify);
  // A tick already queued when the button came up must not move anything.
  r = model.TimerTick(TIMERID_LEFTBTNHOVER, kOnLeft);
  EXPECT_DOUBLE_EQ(model.position(), 966);
  EXPECT_FALSE(r.notify);
}

TEST(ScrollBarRepeat, LeftRepeatUsesTheFirstStepRightRepeatDoesNot) {
  ScrollBarModel model = MakeModel(0, 65535, 1000, 4);
  model.Press(kOnLeft);  // -240
  model.TimerTick(TIMERID_LEFTBTN, kOnLeft);
  model.TimerTick(TIMERID_LEFTBTNHOVER, kOnLeft);
  EXPECT_DOUBLE_EQ(model.position(), 752);
  model.Release();

  model.Press(kOnRight);  // +8
  model.TimerTick(TIMERID_RIGHTBTN, kOnRight);
  ScrollBarReaction r = model.TimerTick(TIMERID_RIGHTBTNHOVER, kOnRight);
  EXPECT_DOUBLE_EQ(model.position(), 761);
  EXPECT_TRUE(r.notify);
  EXPECT_TRUE(model.right_pressed());
  // Off the right button nothing is reported.
  r = model.TimerTick(TIMERID_RIGHTBTNHOVER, kOffButtons);
  EXPECT_FALSE(r.notify);
  EXPECT_TRUE(r.repaint);
  EXPECT_FALSE(model.right_pressed());
  EXPECT_FALSE(model.right_hover());
}

TEST(ScrollBarRepeat, HeldTrackWalksTowardsTheCursorUntilTheThumbReachesIt) {
  ScrollBarModel model = MakeModel(0, 50, 0);
  model.Press({300, 8});
  EXPECT_DOUBLE_EQ(model.position(), 2);  // 2c with c = 1
  ScrollBarReaction r = model.TimerTick(TIMERID_SCROLLBAR, {300, 8});
  EXPECT_DOUBLE_EQ(model.position(), 3);  // 2k with k = 0.5
  EXPECT_TRUE(r.notify);
  // Outside the track nothing happens and the timer keeps running.
  r = model.TimerTick(TIMERID_SCROLLBAR, kOffButtons);
  EXPECT_FALSE(r.notify);
  EXPECT_TRUE(model.TimerActive(TIMERID_SCROLLBAR));

  const ScrollRect thumb = model.Layout().thumb;
  r = model.TimerTick(TIMERID_SCROLLBAR, {thumb.left, 8});
  EXPECT_FALSE(model.track_pressed());
  EXPECT_FALSE(model.TimerActive(TIMERID_SCROLLBAR));
  EXPECT_EQ(r.kill_timers, std::vector<int>{TIMERID_SCROLLBAR});
  EXPECT_DOUBLE_EQ(model.position(), 3);
}

TEST(ScrollBarDrag, FullTrackWidthMovesTheWholeRangeAndReleaseIsSilent) {
  ScrollBarModel model = MakeModel(0, 1000, 0);
  ScrollBarReaction r = model.Press({20, 8});
  EXPECT_TRUE(model.dragging());
  EXPECT_FALSE(r.notify);

  r = model.MouseMove({20 + 182, 3});
  EXPECT_DOUBLE_EQ(model.position(), 500);
  EXPECT_TRUE(r.notify);
  EXPECT_EQ(model.last_mouse_point(), (ScrollPoint{202, 3}));
  model.MouseMove({20, 8});
  EXPECT_DOUBLE_EQ(model.position(), 0);
  model.MouseMove({20 + 364, 8});
  EXPECT_DOUBLE_EQ(model.position(), 1000);
  // Beyond the end it stays at the maximum.
  model.MouseMove({20 + 500, 8});
  EXPECT_DOUBLE_EQ(model.position(), 1000);

  r = model.Release();
  EXPECT_FALSE(r.notify);
  EXPECT_FALSE(model.dragging());
  // Without a drag, moves change nothing.
  r = model.MouseMove({30, 8});
  EXPECT_FALSE(r.notify);
  EXPECT_DOUBLE_EQ(model.position(), 1000);
}

TEST(ScrollBarDrag, ShrinkingToNoTrackMidDragDoesNotDivideByZero) {
  ScrollBarModel model = MakeModel(0, 1000, 0);
  model.Press({20, 8});
  model.SetClientRect({0, 0, 30, 17});
  model.MouseMove({100, 8});
  EXPECT_DOUBLE_EQ(model.position(), 0);
}

TEST(ScrollBarKeys, ArrowsStepAndEveryKeyReports) {
  ScrollBarModel model = MakeModel(0, 50, 10);
  EXPECT_TRUE(model.Key(ScrollKey::kRight).notify);
  EXPECT_DOUBLE_EQ(model.position(), 10.5);
  model.Key(ScrollKey::kLeft);
  model.Key(ScrollKey::kLeft);
  EXPECT_DOUBLE_EQ(model.position(), 9.5);
  const ScrollBarReaction r = model.Key(ScrollKey::kOther);
  EXPECT_TRUE(r.notify);
  EXPECT_TRUE(r.repaint);
  EXPECT_DOUBLE_EQ(model.position(), 9.5);
}

TEST(ScrollBarRange, SetRangeKeepsThePositionAndBadValuesAreIgnored) {
  ScrollBarModel model = MakeModel(0, 65535, 100);
  // While a download grows the range the position stays where it was, even beyond the end.
  model.SetRange(0, 50);
  EXPECT_DOUBLE_EQ(model.position(), 100);
  model.Key(ScrollKey::kRight);
  EXPECT_DOUBLE_EQ(model.position(), 50);

  model.SetPosition(std::nan(""));
  model.SetRange(0, INFINITY);
  EXPECT_DOUBLE_EQ(model.position(), 50);
  EXPECT_DOUBLE_EQ(model.maximum(), 50);
}

}  // namespace
}  // namespace norvane
