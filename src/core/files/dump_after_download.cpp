#include "core/files/dump_after_download.h"

#include <algorithm>
#include <filesystem>

#include "core/common/text_format.h"
#include "core/files/dump_file.h"
#include "core/platform/atomic_file.h"
#include "core/protocol/command_catalogue.h"

namespace norvane {

ConfigRead ReadConfigAfterDownload(DeviceLine& link, int family, const ConfigReadTiming& timing) {
  ConfigRead result;
  result.block.assign(ConfigBlockSize(family), 0xFF);
  const CommandSpec& command = family > 4 ? commands::kGetCfg : commands::kReadEeprom;
  const std::vector<uint8_t> frame = BuildFrame(command);
  const size_t expected = result.block.size();
  std::vector<uint8_t> reply(expected);

  while (result.commands < kConfigReadCommands && link.IsOpen()) {
    // Whatever is still on the line belongs to an earlier request, and would shift this reply.
    link.ClearLine();
    link.SendData(frame, 0, family);
    ++result.commands;
    link.Pause(timing.settle);
    size_t have = 0;
    while (have < expected) {
      const int got = link.ReadAvailable(std::span(reply).subspan(have));
      if (got > 0) {
        have += static_cast<size_t>(got);
        continue;
      }
      // A reply still trickling in is not a silence: asking again mid-reply would mix the
      // tail of this one into the next.
      if (!link.WaitForInput(timing.silence)) break;
    }
    // A later, shorter reply must not replace a fuller one.
    if (static_cast<int>(have) > result.received) {
      std::fill(result.block.begin(), result.block.end(), uint8_t{0xFF});
      std::copy_n(reply.begin(), have, result.block.begin());
      result.received = static_cast<int>(have);
    }
    if (have == expected) break;
  }
  return result;
}

DumpAfterDownload SaveDumpAfterDownload(DeviceLine& link, const DeviceState& state, FileSaver& saver, DataSet& data,
                                        std::string_view type_text, std::string_view path,
                                        const ConfigReadTiming& timing) {
  const int family = state.family.load();
  const std::vector<uint8_t> heartbeat_off =
      family < 1 ? BuildFamily0HeartbeatFrame() : BuildFrame(commands::kHeartbeat0);
  link.ClearLine();
  link.SendData(heartbeat_off, commands::kHeartbeat0.delay_ms, family);
  link.Pause(timing.heartbeat_pause);

  DumpAfterDownload result;
  result.config = ReadConfigAfterDownload(link, family, timing);
  result.save = saver.SaveDump(type_text, path, result.config.block);
  // Shown whether or not a file was written: the download is in memory either way.
  data.RefillFromStart();
  return result;
}

std::string KeptDownloadName(std::string_view path, std::optional<uint32_t> partial_bytes, const std::string& folder) {
  std::string name = std::filesystem::path(path).filename().string();
  if (name.ends_with(".bin")) name.resize(name.size() - 4);
  if (name.empty() || name == "noname") name = "history";
  name += partial_bytes ? Format(".partial-%u", static_cast<unsigned>(*partial_bytes)) : std::string(".unsaved");
  const std::filesystem::path dir = folder.empty() ? "." : folder;
  std::filesystem::path kept = dir / (name + ".bin");
  std::error_code ec;
  for (int n = 2; std::filesystem::exists(kept, ec); ++n) kept = dir / Format("%s-%d.bin", name.c_str(), n);
  return kept.string();
}

namespace {

SaveResult Keep(const std::string& file, std::span<const uint8_t> bytes) {
  SaveResult result;
  result.path = file;
  const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  result.outcome = AtomicWriteFile(file, text, &result.error) ? SaveOutcome::kSaved : SaveOutcome::kFileError;
  return result;
}

}  // namespace

SaveResult KeepPartialDownload(const HistoryDump& dump, uint32_t bytes, std::string_view path,
                               const std::string& fallback_folder) {
  if (bytes == 0 || path.empty() || path == "noname") return {};
  const std::span<const uint8_t> arrived = dump.buffer().first(std::min(bytes, dump.image_size()));
  const std::string beside = std::filesystem::path(path).parent_path().string();
  const SaveResult kept = Keep(KeptDownloadName(path, bytes, beside), arrived);
  if (kept.saved()) return kept;
  SaveResult fallback = Keep(KeptDownloadName(path, bytes, fallback_folder), arrived);
  if (!fallback.saved()) fallback.error = kept.error + "; " + fallback.error;
  return fallback;
}

SaveResult KeepUnsavedDownload(const HistoryDump& dump, std::string_view path, const std::string& fallback_folder) {
  const size_t size = dump.image_size() + ConfigBlockSize(dump.model().family);
  return Keep(KeptDownloadName(path, std::nullopt, fallback_folder), dump.buffer().first(size));
}

std::string KeptDownloadText(uint32_t bytes, uint32_t image_size, const SaveResult* failed, const SaveResult& kept) {
  std::string text =
      failed ? "The history data could not be saved into " + failed->path +
                   (failed->error.empty() ? "" : " (" + failed->error + ")") + ". It is still shown"
             : Format("The download ended part-way: %u of %u bytes arrived. They are shown",
                      static_cast<unsigned>(bytes), static_cast<unsigned>(image_size));
  if (kept.saved())
    text += ", and kept in " + kept.path;
  else if (!kept.error.empty())
    text += ", but could not be kept in a file either (" + kept.error + ")";
  return text + ". Use \"Save History Data As...\" to save the data elsewhere.";
}

}  // namespace norvane
