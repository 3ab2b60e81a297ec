#include "core/controls/scroll_bar_model.h"

#include <algorithm>
#include <cmath>

namespace norvane {

namespace {

constexpr int kFirstTimer = TIMERID_SCROLLBAR;
constexpr int kLastTimer = TIMERID_RIGHTBTNHOVER;

bool KnownTimer(int timer_id) { return timer_id >= kFirstTimer && timer_id <= kLastTimer; }

}  // namespace

int ScrollTimerPeriodMs(int timer_id) {
  switch (timer_id) {
    case TIMERID_SCROLLBAR:
    case TIMERID_LEFTBTNHOVER:
    case TIMERID_RIGHTBTNHOVER:
      return 30;
    case TIMERID_LEFTBTN:
    case TIMERID_RIGHTBTN:
      return 100;
    default:
      return 0;
  }
}

ScrollBarLayout ComputeScrollBarLayout(const ScrollRect& client, double minimum, double maximum,
                                       double position) {
  const ScrollRect base{client.left + 1, client.top - 1, client.right - 1, client.bottom - 1};
  const int side = base.Height();

  ScrollBarLayout layout;
  layout.left_button = base;
  layout.left_button.right = base.left + side;
  layout.right_button = base;
  layout.right_button.left = base.right - side;

  layout.track = base;
  layout.track.left = layout.left_button.right;
  layout.track.right = std::max(layout.track.left, layout.right_button.left);

  const int track_width = layout.track.Width();
  const int thumb_width = static_cast<int>(track_width * 5 / 100.0 + 0.5);
  // A range of zero width, or a position outside it, must not put the thumb off the track.
  double fraction = 0.0;
  const double range = maximum - minimum;
  if (range > 0.0 && std::isfinite(range)) {
    fraction = std::clamp((position - minimum) / range, 0.0, 1.0);
  }
  layout.thumb = layout.track;
  layout.thumb.left = layout.track.left + static_cast<int>((track_width - thumb_width) * fraction);
  layout.thumb.right = layout.thumb.left + thumb_width;
  return layout;
}

void ScrollBarModel::SetRange(double minimum, double maximum) {
  if (!std::isfinite(minimum) || !std::isfinite(maximum)) return;
  minimum_ = minimum;
  maximum_ = maximum;
}

void ScrollBarModel::SetPosition(double value) {
  if (!std::isfinite(value)) return;
  position_ = value;
}

double ScrollBarModel::Range() const { return std::max(0.0, maximum_ - minimum_); }

double ScrollBarModel::PressStep() const {
  if (first_step_ > 0) return 2.0 * first_step_;
  return std::min(1.0, 10.0 * Range());
}

double ScrollBarModel::RepeatStep() const { return std::min(1.0, Range() / 100.0); }

ScrollBarLayout ScrollBarModel::Layout() const {
  return ComputeScrollBarLayout(client_, minimum_, maximum_, position_);
}

double ScrollBarModel::Clamped(double value) const {
  // Written out rather than std::clamp, which is undefined for a reversed range.
  if (value > maximum_) value = maximum_;
  if (value < minimum_) value = minimum_;
  return value;
}

bool ScrollBarModel::TimerActive(int timer_id) const {
  return KnownTimer(timer_id) && (active_timers_ & (1u << (timer_id - kFirstTimer))) != 0;
}

void ScrollBarModel::Start(ScrollBarReaction& reaction, int timer_id) {
  active_timers_ |= 1u << (timer_id - kFirstTimer);
  reaction.start_timers.push_back(timer_id);
}

void ScrollBarModel::Kill(ScrollBarReaction& reaction, int timer_id) {
  active_timers_ &= ~(1u << (timer_id - kFirstTimer));
  reaction.kill_timers.push_back(timer_id);
}

ScrollBarReaction ScrollBarModel::Press(ScrollPoint p) {
  ScrollBarReaction reaction;
  const ScrollBarLayout layout = Layout();
  const double c = PressStep();
  if (layout.left_button.Contains(p)) {
    left_pressed_ = true;
    position_ = Clamped(position_ - 30.0 * c);
    Start(reaction, TIMERID_LEFTBTN);
  } else if (layout.right_button.Contains(p)) {
    right_pressed_ = true;
    position_ = Clamped(position_ + c);
    Start(reaction, TIMERID_RIGHTBTN);
  } else if (layout.thumb.Contains(p)) {
    dragging_ = true;
    last_mouse_ = p;
  } else if (layout.track.Contains(p)) {
    track_pressed_ = true;
    if (p.x >= layout.thumb.right) {
      position_ += 2.0 * c;
    } else if (p.x < layout.thumb.left) {
      position_ -= 2.0 * c;
    }
    position_ = Clamped(position_);
    Start(reaction, TIMERID_SCROLLBAR);
    reaction.notify = true;
  }
  reaction.repaint = true;
  return reaction;
}

ScrollBarReaction ScrollBarModel::MouseMove(ScrollPoint p) {
  ScrollBarReaction reaction;
  if (!dragging_) return reaction;
  const int track_width = Layout().track.Width();
  // A control squeezed to no track has nothing to drag along.
  if (track_width > 0) {
    position_ = Clamped(position_ + static_cast<double>(p.x - last_mouse_.x) / track_width * Range());
  }
  reaction.notify = true;
  last_mouse_ = p;
  reaction.repaint = true;
  return reaction;
}

ScrollBarReaction ScrollBarModel::Release() {
  ScrollBarReaction reaction;
  if (dragging_) {
    // Every drag step has already been reported.
    dragging_ = false;
    return reaction;
  }
  reaction.repaint = true;
  for (int id = kFirstTimer; id <= kLastTimer; ++id) Kill(reaction, id);
  track_pressed_ = false;
  left_hover_ = false;
  right_hover_ = false;
  left_pressed_ = false;
  right_pressed_ = false;
  reaction.notify = true;
  return reaction;
}

ScrollBarReaction ScrollBarModel::TimerTick(int timer_id, ScrollPoint cursor) {
  ScrollBarReaction reaction;
  if (!TimerActive(timer_id)) return reaction;
  const ScrollBarLayout layout = Layout();
  switch (timer_id) {
    case TIMERID_SCROLLBAR:
      if (layout.thumb.Contains(cursor)) {
        // The thumb has caught up with the cursor.
        track_pressed_ = false;
        Kill(reaction, TIMERID_SCROLLBAR);
      } else if (layout.track.Contains(cursor)) {
        const double k = RepeatStep();
        if (cursor.x >= layout.thumb.right) {
          position_ += 2.0 * k;
        } else if (cursor.x < layout.thumb.left) {
          position_ -= 2.0 * k;
        }
        position_ = Clamped(position_);
        reaction.repaint = true;
        reaction.notify = true;
      }
      break;
    case TIMERID_LEFTBTN:
      if (layout.left_button.Contains(cursor)) {
        left_hover_ = true;
        Kill(reaction, TIMERID_LEFTBTN);
        Start(reaction, TIMERID_LEFTBTNHOVER);
        reaction.repaint = true;
      }
      break;
    case TIMERID_RIGHTBTN:
      if (layout.right_button.Contains(cursor)) {
        right_hover_ = true;
        Kill(reaction, TIMERID_RIGHTBTN);
        Start(reaction, TIMERID_RIGHTBTNHOVER);
        reaction.repaint = true;
      }
      break;
    case TIMERID_LEFTBTNHOVER:
      if (layout.left_button.Contains(cursor)) {
        left_hover_ = true;
        left_pressed_ = true;
        position_ = Clamped(position_ - (first_step_ > 0 ? 2.0 * first_step_ : RepeatStep()));
        reaction.repaint = true;
      } else if (left_hover_) {
        // Off the button: the repeat pauses and the button comes up until the cursor returns.
        left_hover_ = false;
        left_pressed_ = false;
        reaction.repaint = true;
      }
      reaction.notify = true;
      break;
    case TIMERID_RIGHTBTNHOVER:
      if (layout.right_button.Contains(cursor)) {
        right_hover_ = true;
        right_pressed_ = true;
        position_ = Clamped(position_ + RepeatStep());
        reaction.repaint = true;
        reaction.notify = true;
      } else if (right_hover_) {
        right_hover_ = false;
        right_pressed_ = false;
        reaction.repaint = true;
      }
      break;
    default:
      break;
  }
  return reaction;
}

ScrollBarReaction ScrollBarModel::Key(ScrollKey key) {
  ScrollBarReaction reaction;
  switch (key) {
    case ScrollKey::kLeft: position_ = Clamped(position_ - RepeatStep()); break;
    case ScrollKey::kRight: position_ = Clamped(position_ + RepeatStep()); break;
    case ScrollKey::kPageUp: position_ = Clamped(position_ - kPageArrowSteps * RepeatStep()); break;
    case ScrollKey::kPageDown: position_ = Clamped(position_ + kPageArrowSteps * RepeatStep()); break;
    case ScrollKey::kHome: position_ = minimum_; break;
    case ScrollKey::kEnd: position_ = maximum_; break;
    case ScrollKey::kOther: break;
  }
  reaction.notify = true;
  reaction.repaint = true;
  return reaction;
}

}  // namespace norvane
