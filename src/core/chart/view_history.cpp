#include "core/chart/view_history.h"

#include <algorithm>
#include <cmath>

namespace norvane::chart {

void ViewHistory::Leave(const ViewRange& left) {
  if (!back_.empty() && back_.back() == left) return;
  back_.push_back(left);
  if (back_.size() > capacity_) back_.pop_front();
  forward_.clear();
}

std::optional<ViewRange> ViewHistory::Back(const ViewRange& current) {
  if (back_.empty()) return std::nullopt;
  const ViewRange previous = back_.back();
  back_.pop_back();
  forward_.push_back(current);
  return previous;
}

std::optional<ViewRange> ViewHistory::Forward(const ViewRange& current) {
  if (forward_.empty()) return std::nullopt;
  const ViewRange next = forward_.back();
  forward_.pop_back();
  back_.push_back(current);
  return next;
}

}  // namespace norvane::chart

namespace norvane::chart {

ViewRange ZoomAbout(const ViewRange& view, int64_t anchor, double factor) {
  const double span = double(view.to - view.from);
  const double new_span = std::max(double(kMinimumSpan), span * factor);
  const double left = span > 0 ? double(anchor - view.from) / span : 0.5;
  const auto from = static_cast<int64_t>(std::llround(double(anchor) - left * new_span));
  return {from, from + static_cast<int64_t>(std::llround(new_span))};
}

ViewRange Pan(const ViewRange& view, double fraction) {
  const auto shift = static_cast<int64_t>(std::llround(double(view.to - view.from) * fraction));
  return {view.from + shift, view.to + shift};
}

}  // namespace norvane::chart
