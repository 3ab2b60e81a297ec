#include "core/protocol/device_rig.h"

#include "core/common/text_format.h"
#include "core/protocol/model_table.h"

namespace norvane {

DeviceRig::DeviceRig(PortCatalogue catalogue, UserNotifier& user, HistoryDump* dump, SettingsStore* settings)
    : serial_(std::make_unique<live::SerialLiveLink>(std::vector<std::string>{})),
      system_clock_(std::make_unique<live::SystemLiveClock>()), ports(std::move(catalogue)), notifier(user),
      line(*serial_, *system_clock_, ports, notifier), session({line, notifier, state, dump, settings}) {}

DeviceRig::DeviceRig(PortCatalogue catalogue, live::LiveLink& link, live::LiveClock& clock, UserNotifier& user,
                     HistoryDump* dump, SettingsStore* settings)
    : ports(std::move(catalogue)), notifier(user), line(link, clock, ports, notifier),
      session({line, notifier, state, dump, settings}) {}

DeviceRig::~DeviceRig() {
  line.Close();
  SetTrace(nullptr);
}

void DeviceRig::SetTrace(LinkTrace* trace) {
  if (serial_) serial_->SetTrace(trace);
}

store::CounterInfo IdentifiedCounter(const DeviceState& state, const PortCatalogue& ports, int port) {
  store::CounterInfo info;
  info.version = state.model_text;
  info.family = Format("%d", state.family.load());
  info.model = std::string(ModelListEntry(static_cast<uint32_t>(state.selected_model)));
  info.port = ports.PathOf(port).value_or(Format("COM%d", port));
  return info;
}

}  // namespace norvane
