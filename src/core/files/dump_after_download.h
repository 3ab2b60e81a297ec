// After a download: the counter's configuration block read, then the dump (and CSV) written.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/common/user_notifier.h"
#include "core/files/file_saver.h"
#include "core/history/data_set.h"
#include "core/protocol/device_state.h"
#include "core/device/device_line.h"

namespace norvane {

// The read sends its command again after a silence, this many times in all.
inline constexpr int kConfigReadCommands = 21;

struct ConfigReadTiming {
  std::chrono::milliseconds heartbeat_pause{200};
  std::chrono::milliseconds settle{400};
  // How long an empty read waits for the rest of a reply before the command goes again.
  std::chrono::milliseconds silence{10};
};

struct ConfigRead {
  std::vector<uint8_t> block;  // the family's size (512 or 256), 0xFF where nothing arrived
  int received = 0;            // bytes of the fullest reply
  int commands = 0;            // frames sent
  bool complete() const { return received == static_cast<int>(block.size()); }
};

// "<GETCFG>>" above family 4, "<REEPROM>>" otherwise, sent without pauses between its bytes.
// Collects until the family's size has arrived; after a silence it sends the command again, up
// to 21 commands, and keeps the fullest reply.
ConfigRead ReadConfigAfterDownload(DeviceLine& link, int family, const ConfigReadTiming& timing = {});

struct DumpAfterDownload {
  ConfigRead config;
  DumpSaveResult save;
};

// SaveDumpAfterDownload: heartbeat off, the configuration read, the block (blanked by family)
// after the image, the dump file for the download dialog's type and path, "Data saved into: %s",
// the CSV beside it for "both"; then the chart window, its texts and the time index are filled
// from the start. Blocks for 0.6 s and more (up to about 9 s with a silent counter): the window
// runs it off its own thread and keeps its views still meanwhile.
DumpAfterDownload SaveDumpAfterDownload(DeviceLine& link, const DeviceState& state, FileSaver& saver, DataSet& data,
                                        std::string_view type_text, std::string_view path,
                                        const ConfigReadTiming& timing = {});

// The file a download is kept in when it did not reach the chosen one, in `folder`: NAME is the
// chosen file's name without ".bin" ("history" when none was chosen), followed by ".partial-N"
// for a download that ended part-way after N bytes or ".unsaved" for a whole one whose save
// failed, then ".bin". A number goes before ".bin" rather than replacing a file already there.
std::string KeptDownloadName(std::string_view path, std::optional<uint32_t> partial_bytes, const std::string& folder);

// A download that ended part-way: its first `bytes` image bytes alone (a dump that loads with the
// rest erased), beside the chosen file, or in `fallback_folder` when that fails. Nothing is
// written for none arrived or no file chosen (empty or "noname": the image stays in memory).
SaveResult KeepPartialDownload(const HistoryDump& dump, uint32_t bytes, std::string_view path,
                               const std::string& fallback_folder);

// A whole download whose dump could not be written: the image and the configuration block that
// SaveDumpAfterDownload stored after it, into `fallback_folder`.
SaveResult KeepUnsavedDownload(const HistoryDump& dump, std::string_view path, const std::string& fallback_folder);

// The window's message after a download whose data did not reach the chosen file: `bytes` of
// `image_size` arrived, `failed` is the dump save that failed (none for a download that ended
// part-way), `kept` where the data went instead. It says how to save the data elsewhere.
std::string KeptDownloadText(uint32_t bytes, uint32_t image_size, const SaveResult* failed, const SaveResult& kept);

}  // namespace norvane
