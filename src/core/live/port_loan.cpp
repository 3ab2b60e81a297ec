#include "core/live/port_loan.h"

#include "core/protocol/model_identification.h"

namespace norvane::live {

void PortLoan::StopMonitoring() {
  if (!engine_ || lent_) return;
  lent_ = true;
  // An engine that does not let go in time is still asked to: the tool's own open then says who
  // holds the port.
  engine_->Borrow(kBorrowLimit);
  if (const std::optional<CounterIdentity> counter = engine_->counter()) {
    DeviceState& state = session_.state();
    state.current_port = ports_.NumberOf(counter->path);
    state.family.store(counter->family);
    state.firmware_version.store(FirmwareVersionNumber(counter->version));
    state.model_text = counter->version;
  }
}

void PortLoan::StartMonitoring() {
  if (!engine_ || !lent_) return;
  session_.link().Close();
  session_.state().port_open = false;
  lent_ = false;
  engine_->GiveBack();
}

}  // namespace norvane::live
