#include "cli/device_rig.h"

#include "core/common/clock.h"
#include "core/common/text_format.h"
#include "core/protocol/model_table.h"
#include "core/settings/settings_store.h"
#include "core/store/clock_keeping.h"

namespace norvane::cli {

std::optional<std::string> OpenTrace(const CommandContext& context, TraceFile& file) {
  if (!context.trace) return std::nullopt;
  file.stream.open(*context.trace, std::ios::out | std::ios::trunc);
  if (!file.stream) return "cannot write the trace file " + context.trace->string();
  const LocalTime t = SystemClock().LocalNow();
  file.trace = std::make_unique<LinkTrace>(
      file.stream, Format("%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute, t.second));
  return std::nullopt;
}

std::vector<std::string> ExtraPaths(const CommandContext& context) {
  if (context.port && context.port->find('/') != std::string::npos) return {*context.port};
  return {};
}

std::optional<int> ChosenModel(const CommandContext& context) {
  if (context.model) {
    const int index = ModelListIndex(*context.model);
    if (index < 0) return std::nullopt;
    return index;
  }
  const Settings settings = SettingsStore(context.settings_path).Load();
  const uint32_t index = settings.last_geiger_counter_selected;
  return index < kModelList.size() ? static_cast<int>(index) : 0;
}

ClockReadingSink KeepClockReadings(const CommandContext& context, const DeviceRig& rig, UserNotifier& notifier) {
  if (context.store_path.empty()) return {};
  return [location = context.store_path.string(), &rig, &notifier](const store::ClockReading& reading) {
    const store::CounterInfo counter = IdentifiedCounter(rig.state, rig.ports, rig.state.current_port);
    store::KeepClockReading(location, counter, reading, notifier);
  };
}

}  // namespace norvane::cli
