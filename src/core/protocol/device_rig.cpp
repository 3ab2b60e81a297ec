#include "core/protocol/device_rig.h"

namespace norvane {

DeviceRig::DeviceRig(PortCatalogue catalogue, UserNotifier& user, HistoryDump* dump, SettingsStore* settings)
    : ports(std::move(catalogue)), notifier(user), link(ports, notifier), reader(link, buffer, notifier),
      session({link, buffer, reader, notifier, state, dump, settings}) {}

DeviceRig::~DeviceRig() {
  reader.Stop();
  link.Close();
  link.SetTrace(nullptr);
}

}  // namespace norvane
