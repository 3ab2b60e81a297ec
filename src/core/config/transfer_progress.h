// Where a configuration transfer reports how far it has come: a progress bar and its text.
#pragma once

#include <string_view>

namespace norvane {

class TransferProgress {
 public:
  virtual ~TransferProgress() = default;
  // Shows the bar (if hidden) at `position` of 0..`range`, with `text` beside it.
  virtual void Progress(int position, int range, std::string_view text) = 0;
  // The transfer is over: bar and text disappear.
  virtual void Hide() = 0;
  // The factory-reset button's caption while a reset runs, and after.
  virtual void ResetCaption(std::string_view caption) { (void)caption; }
};

// For callers that show nothing.
class NoProgress final : public TransferProgress {
 public:
  void Progress(int, int, std::string_view) override {}
  void Hide() override {}
};

}  // namespace norvane
