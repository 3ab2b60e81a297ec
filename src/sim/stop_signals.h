// Waiting for Ctrl+C or a termination request, so a long-running command can clean up.
#pragma once

#include <signal.h>

namespace norvane::sim {

// Blocks SIGINT and SIGTERM in the calling thread; threads started afterwards inherit that, so
// the signal is only ever taken by Wait. The destructor restores the previous mask.
class StopSignals {
 public:
  StopSignals();
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  // Returns the signal that arrived.
  int Wait();

 private:
  sigset_t set_{};
  sigset_t previous_{};
};

}  // namespace norvane::sim
