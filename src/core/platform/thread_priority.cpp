#include "core/platform/thread_priority.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace norvane {

void LowerCurrentThreadPriority() {
  // On Linux a thread id names just this thread, so the rest of the program keeps its priority.
  const auto tid = static_cast<id_t>(syscall(SYS_gettid));
  (void)setpriority(PRIO_PROCESS, tid, 19);
}

}  // namespace norvane
