// The chart's previous and next views, as a browser keeps its back and forward pages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

namespace norvane::chart {

struct ViewRange {
  int64_t from = 0;  // UTC seconds, [from, to)
  int64_t to = 0;
  bool operator==(const ViewRange&) const = default;
};

class ViewHistory {
 public:
  explicit ViewHistory(size_t capacity = 100) : capacity_(capacity) {}

  // The view `left` gives way to a new one: it becomes the one Back returns, and what lay ahead
  // is forgotten. Small moves (a pan step, a wheel notch) are recorded by the caller only once
  // the movement has settled, so Back does not crawl.
  void Leave(const ViewRange& left);
  // The view to go back to from `current` (which Forward then returns), if any.
  std::optional<ViewRange> Back(const ViewRange& current);
  std::optional<ViewRange> Forward(const ViewRange& current);
  bool CanGoBack() const { return !back_.empty(); }
  bool CanGoForward() const { return !forward_.empty(); }

 private:
  size_t capacity_;
  std::deque<ViewRange> back_;
  std::vector<ViewRange> forward_;
};

}  // namespace norvane::chart

namespace norvane::chart {

// The shortest view the chart zooms to: a few seconds still show as seconds.
inline constexpr int64_t kMinimumSpan = 10;

// `view` scaled by `factor` (below 1 zooms in) about the time `anchor`, which stays where it is
// on the screen.
ViewRange ZoomAbout(const ViewRange& view, int64_t anchor, double factor);
// `view` moved by `fraction` of its length (negative: back in time).
ViewRange Pan(const ViewRange& view, double fraction);

}  // namespace norvane::chart
