// Lowering the calling thread's scheduling priority, for background work such as map submissions.
#pragma once

namespace norvane {

// Best effort: the work still runs, only later, when the system refuses.
void LowerCurrentThreadPriority();

}  // namespace norvane
