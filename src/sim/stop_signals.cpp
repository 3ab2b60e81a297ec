#include "sim/stop_signals.h"

#include <pthread.h>

namespace norvane::sim {

StopSignals::StopSignals() {
  sigemptyset(&set_);
  sigaddset(&set_, SIGINT);
  sigaddset(&set_, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &set_, &previous_);
}

StopSignals::~StopSignals() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }

int StopSignals::Wait() {
  int signal = 0;
  while (sigwait(&set_, &signal) != 0) {
  }
  return signal;
}

}  // namespace norvane::sim
