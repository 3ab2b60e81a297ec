#include "cli/image_loading.h"

#include "core/platform/file_read.h"
#include "core/settings/settings_store.h"

namespace norvane::cli {
namespace {

std::optional<std::string_view> ChooseModel(const CommandContext& context, uint64_t file_size,
                                            const Settings& settings) {
  if (context.model) {
    const int index = ModelListIndex(*context.model);
    if (index < 0) return std::nullopt;
    return kModelList[static_cast<size_t>(index)];
  }
  for (std::string_view entry : kModelList) {
    const uint64_t size = ModelForName(entry).image_size;
    if (file_size == size || file_size == size + 256 || file_size == size + 512) return entry;
  }
  return ModelListEntry(settings.last_geiger_counter_selected);
}

}  // namespace

int LoadImage(const CommandContext& context, const std::string& path, DataSet& data) {
  std::string error;
  // The largest image is 2 MiB; the file size decides the model before the bytes are taken.
  const auto file = ReadFilePrefix(path, 0x200000 + HistoryDump::kConfigRoom, &error);
  if (!file) return context.Fail("cannot read " + path + ": " + error);
  const Settings settings = SettingsStore(context.settings_path).Load();
  const auto model = ChooseModel(context, file->file_size, settings);
  if (!model) return context.Fail("unknown model '" + *context.model + "' (see the model list in the README)");
  data.dump.SelectModel(*model);
  data.dump.LoadImage(file->bytes);
  data.conversion = settings.calibration;
  return kExitOk;
}

}  // namespace norvane::cli
