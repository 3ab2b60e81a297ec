#include "core/protocol/device_rig.h"

#include "core/common/text_format.h"
#include "core/protocol/model_table.h"

namespace norvane {

DeviceRig::DeviceRig(PortCatalogue catalogue, UserNotifier& user, HistoryDump* dump, SettingsStore* settings)
    : ports(std::move(catalogue)), notifier(user), link(ports, notifier), reader(link, buffer, notifier),
      session({link, buffer, reader, notifier, state, dump, settings}) {}

DeviceRig::~DeviceRig() {
  reader.Stop();
  link.Close();
  link.SetTrace(nullptr);
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
