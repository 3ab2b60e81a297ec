#include "core/files/dump_after_download.h"

#include <algorithm>
#include <thread>

#include "core/files/dump_file.h"
#include "core/protocol/command_catalogue.h"

namespace norvane {

ConfigRead ReadConfigAfterDownload(CSerialLink& link, int family, const ConfigReadTiming& timing) {
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
    std::this_thread::sleep_for(timing.settle);
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

DumpAfterDownload SaveDumpAfterDownload(CSerialLink& link, const DeviceState& state, FileSaver& saver, DataSet& data,
                                        std::string_view type_text, std::string_view path,
                                        const ConfigReadTiming& timing) {
  const int family = state.family.load();
  const std::vector<uint8_t> heartbeat_off =
      family < 1 ? BuildFamily0HeartbeatFrame() : BuildFrame(commands::kHeartbeat0);
  link.ClearLine();
  link.SendData(heartbeat_off, commands::kHeartbeat0.delay_ms, family);
  std::this_thread::sleep_for(timing.heartbeat_pause);

  DumpAfterDownload result;
  result.config = ReadConfigAfterDownload(link, family, timing);
  result.save = saver.SaveDump(type_text, path, result.config.block);
  // Shown whether or not a file was written: the download is in memory either way.
  data.RefillFromStart();
  return result;
}

}  // namespace norvane
