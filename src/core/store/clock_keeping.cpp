#include "core/store/clock_keeping.h"

#include "core/store/counter_store.h"

namespace norvane::store {

void KeepClockReading(const std::string& location, const CounterInfo& counter, const ClockReading& reading,
                      UserNotifier& notifier) {
  try {
    const std::unique_ptr<CounterStore> db = OpenStore(location);
    db->AddClockReading(db->RegisterCounter(counter, reading.time), reading);
  } catch (const StoreError& e) {
    notifier.Status(std::string("The long-term store did not keep this clock reading: ") + e.what());
  }
}

}  // namespace norvane::store
