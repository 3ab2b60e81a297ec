// The history dump file: the downloaded image with the counter's configuration block after it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/common/user_notifier.h"
#include "core/history/history_dump.h"

namespace norvane {

// 512 bytes for families above 4 (read with GETCFG), 256 for the others (REEPROM).
size_t ConfigBlockSize(int family);

// The block as a dump stores it: what the counter sent, cut or padded with 0xFF to the family's
// size, with the range a dump never carries overwritten by 0xFF (69-324 from family 8 on, 69-161
// for family 5).
std::vector<uint8_t> PrepareConfigBlock(int family, std::span<const uint8_t> received);

// The file a download's dialog type text (lower case) asks for: ".bin" ensured for the binary
// type and for "both"; empty for any other type.
std::optional<std::string> DumpFileName(std::string_view type_text, std::string_view path);

// Writes the image followed by the block, whole or not at all.
bool WriteDumpFile(const std::string& path, std::span<const uint8_t> image, std::span<const uint8_t> block,
                   std::string* error = nullptr);

// True when `bytes` hold no control character but tabs and line ends, as the program's CSV, HTML
// and JSON files (UTF-8 or Latin-1) do. A history never does: its time stamps hold the record code
// 0 and small month and day numbers, and its erased flash is 0xFF.
bool LooksLikeText(std::span<const uint8_t> bytes);

// Reads up to the image size from a dump file; the rest of the image becomes erased flash, so no
// tail of an earlier, longer file survives. Logs the path and "Data loaded!". Empty (the user has
// been told why) when the file cannot be read or is text, which leaves the image as it was.
std::optional<size_t> LoadDumpFile(const std::string& path, HistoryDump& dump, UserNotifier& notifier);

struct RecordingLoad {
  size_t bytes = 0;  // of the image the recording fills
  bool cut = false;  // the recording is longer than the image: only its start is in it
};

// Reads a realtime recording (.rbn) into the image as history, so it plays back like a dump. Logs
// the path and "Data loaded!". Empty (the user has been told why) when the file is no recording.
std::optional<RecordingLoad> LoadRecordingFile(const std::string& path, HistoryDump& dump, UserNotifier& notifier);

}  // namespace norvane
