#include "ui/app_context.h"

namespace norvane {
namespace {

ReaderOptions ReaderOptionsFor(DeviceState& state, std::function<void()> port_error) {
  ReaderOptions options;
  options.realtime_active = &state.realtime_active;
  options.port_error_reaction = std::move(port_error);
  return options;
}

}  // namespace

AppContext::AppContext(UserNotifier& user, const std::filesystem::path& settings_path,
                       const std::vector<std::string>& extra_ports, AppHooks hooks)
    : notifier(user),
      store(settings_path),
      ports(PortCatalogue::DiscoverMachine(extra_ports)),
      link(ports, notifier),
      reader(link, buffer, notifier, ReaderOptionsFor(state, std::move(hooks.port_error))),
      session({link, buffer, reader, notifier, state, &data.dump, &store}),
      data(clock.Now()),
      saver(data, dictionary, clock, hooks.save_notifier ? *hooks.save_notifier : notifier),
      recorder(data, saver, clock, notifier),
      monitor({session, buffer, recorder, data, settings, dictionary, notifier, &store,
               std::move(hooks.periodic_clock_sync), &sync_retry}),
      clock_sync(session, buffer, clock, sync_retry, &monitor),
      download({link, reader, state, data.dump, notifier, &store, hooks.download_progress}),
      scan(session, [this] { monitor.Stop(); }),
      submitter(clock, notifier),
      tick(settings, data, clock, std::move(hooks.housekeeping)) {}

AppContext::~AppContext() {
  download.RequestStop();
  download.Wait();
  reader.Stop();
  link.Close();
}

}  // namespace norvane
