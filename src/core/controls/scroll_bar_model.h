// The extended scroll bar without a window: range, step sizes, layout and how it reacts to input.
#pragma once

#include <cstdint>
#include <vector>

namespace norvane {

// The scroll bar's own timers. The widget starts and kills them as the model says and feeds
// their ticks back in.
inline constexpr int TIMERID_SCROLLBAR = 100;      // track held
inline constexpr int TIMERID_LEFTBTN = 101;        // delay before the left arrow repeats
inline constexpr int TIMERID_RIGHTBTN = 102;       // delay before the right arrow repeats
inline constexpr int TIMERID_LEFTBTNHOVER = 103;   // left arrow repeating
inline constexpr int TIMERID_RIGHTBTNHOVER = 104;  // right arrow repeating

// Period in ms of one of the timers above; 0 for any other id.
int ScrollTimerPeriodMs(int timer_id);

struct ScrollPoint {
  int x = 0;
  int y = 0;
  bool operator==(const ScrollPoint&) const = default;
};

// Left and top edges are inside, right and bottom edges just outside, as window rectangles are.
struct ScrollRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;

  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  bool Contains(ScrollPoint p) const { return p.x >= left && p.x < right && p.y >= top && p.y < bottom; }
  bool operator==(const ScrollRect&) const = default;
};

struct ScrollBarLayout {
  ScrollRect left_button;
  ScrollRect right_button;
  ScrollRect track;
  ScrollRect thumb;
};

// Where the arrows, the track and the thumb lie in a client rectangle for a position in a range.
// A control too narrow for both arrows gets an empty track rather than one of negative width.
ScrollBarLayout ComputeScrollBarLayout(const ScrollRect& client, double minimum, double maximum,
                                       double position);

// Page Up and Page Down move a chart's width, sixty arrow steps; Home and End go to the ends.
enum class ScrollKey { kLeft, kRight, kPageUp, kPageDown, kHome, kEnd, kOther };
inline constexpr int kPageArrowSteps = 60;

// What the widget has to do after one event.
struct ScrollBarReaction {
  std::vector<int> start_timers;  // start (or restart) at ScrollTimerPeriodMs
  std::vector<int> kill_timers;
  bool repaint = false;
  bool notify = false;  // tell the parent the position moved (synchronously)
};

class ScrollBarModel {
 public:
  // The position is left alone, even when it now lies outside.
  void SetRange(double minimum, double maximum);
  // Stored as given; the next step brings it back within the range.
  void SetPosition(double value);
  // The chart's refill produces this; the arrows jump by twice it.
  void SetFirstStep(uint32_t first_step) { first_step_ = first_step; }
  void SetClientRect(const ScrollRect& client) { client_ = client; }

  double position() const { return position_; }
  double minimum() const { return minimum_; }
  double maximum() const { return maximum_; }
  uint32_t first_step() const { return first_step_; }
  const ScrollRect& client_rect() const { return client_; }

  // The width of the range, never negative.
  double Range() const;
  // c: how far an arrow press moves (the left arrow thirty times as far).
  double PressStep() const;
  // k: how far an arrow key or a repeat tick moves.
  double RepeatStep() const;

  ScrollBarLayout Layout() const;

  // A left-button press or double click at `p` in client coordinates.
  ScrollBarReaction Press(ScrollPoint p);
  ScrollBarReaction MouseMove(ScrollPoint p);
  ScrollBarReaction Release();
  // One tick of timer `timer_id` with the cursor at `cursor`; ticks of timers the model has not
  // started (or has killed since) are ignored, so a late tick cannot move the position.
  ScrollBarReaction TimerTick(int timer_id, ScrollPoint cursor);
  ScrollBarReaction Key(ScrollKey key);

  bool TimerActive(int timer_id) const;

  bool left_pressed() const { return left_pressed_; }
  bool right_pressed() const { return right_pressed_; }
  bool left_hover() const { return left_hover_; }
  bool right_hover() const { return right_hover_; }
  bool track_pressed() const { return track_pressed_; }
  bool dragging() const { return dragging_; }
  ScrollPoint last_mouse_point() const { return last_mouse_; }

 private:
  double Clamped(double value) const;
  void Start(ScrollBarReaction& reaction, int timer_id);
  void Kill(ScrollBarReaction& reaction, int timer_id);

  double minimum_ = 0.0;
  double maximum_ = 0.0;
  double position_ = 0.0;
  uint32_t first_step_ = 0;
  ScrollRect client_;

  bool left_pressed_ = false;
  bool right_pressed_ = false;
  bool left_hover_ = false;
  bool right_hover_ = false;
  bool track_pressed_ = false;
  bool dragging_ = false;
  ScrollPoint last_mouse_;
  uint32_t active_timers_ = 0;  // bit (id - 100) per running timer
};

}  // namespace norvane
