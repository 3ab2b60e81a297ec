// Keeping each reading of a counter's clock in the long-term store, where its quality rules judge it.
#pragma once

#include <string>

#include "core/common/user_notifier.h"
#include "core/store/store_types.h"

namespace norvane::store {

// Files `reading` under `counter` in the store at `location` (a file or a server). The clock's
// work on the counter is done by then, so a store that cannot take the reading is told as a
// status line, never as a failure.
void KeepClockReading(const std::string& location, const CounterInfo& counter, const ClockReading& reading,
                      UserNotifier& notifier);

}  // namespace norvane::store
