#include "core/files/dump_file.h"

#include <algorithm>

#include "core/files/file_naming.h"
#include "core/files/realtime_binary.h"
#include "core/i18n/language_dictionary.h"
#include "core/i18n/window_texts.h"
#include "core/platform/atomic_file.h"
#include "core/platform/file_read.h"

namespace norvane {

size_t ConfigBlockSize(int family) { return family > 4 ? 512 : 256; }

std::vector<uint8_t> PrepareConfigBlock(int family, std::span<const uint8_t> received) {
  std::vector<uint8_t> block(ConfigBlockSize(family), 0xFF);
  std::copy_n(received.begin(), std::min(received.size(), block.size()), block.begin());
  size_t first = 0, last = 0;  // inclusive range; none when last is 0
  if (family >= 8) {
    first = 69;
    last = 324;
  } else if (family == 5) {
    first = 69;
    last = 161;
  }
  if (last) std::fill(block.begin() + static_cast<std::ptrdiff_t>(first), block.begin() + static_cast<std::ptrdiff_t>(last + 1), 0xFF);
  return block;
}

std::optional<std::string> DumpFileName(std::string_view type_text, std::string_view path) {
  // "both" used to append ".bin" unconditionally, giving data.bin.bin for a chosen data.bin.
  if (type_text.find("*.bin") != std::string_view::npos || type_text.find("both") != std::string_view::npos)
    return EnsureExtension(path, ".bin");
  return std::nullopt;
}

bool WriteDumpFile(const std::string& path, std::span<const uint8_t> image, std::span<const uint8_t> block,
                   std::string* error) {
  std::string bytes;
  bytes.reserve(image.size() + block.size());
  bytes.append(reinterpret_cast<const char*>(image.data()), image.size());
  bytes.append(reinterpret_cast<const char*>(block.data()), block.size());
  return AtomicWriteFile(path, bytes, error);
}

bool LooksLikeText(std::span<const uint8_t> bytes) {
  return !bytes.empty() && std::ranges::none_of(bytes, [](uint8_t b) {
    return (b < 0x20 && b != '\t' && b != '\r' && b != '\n') || b == 0x7F || b == 0xFF;
  });
}

std::optional<size_t> LoadDumpFile(const std::string& path, HistoryDump& dump, UserNotifier& notifier) {
  std::string error;
  const auto file = ReadFilePrefix(path, dump.image_size(), &error);
  if (!file) {
    notifier.Message(EnglishText(kTextMsgCannotOpenFile, {path, error}), EnglishText(kTextCaptionLoadData));
    return std::nullopt;
  }
  // A file the program wrote itself (CSV, HTML) would load as an empty chart said to be "loaded".
  if (LooksLikeText(file->bytes)) {
    notifier.Message(EnglishText(kTextLineLoadRefused, {path}), "Load Data");
    return std::nullopt;
  }
  const size_t taken = dump.LoadImage(file->bytes);
  notifier.Status(path);
  notifier.Status("Data loaded!");
  return taken;
}

std::optional<RecordingLoad> LoadRecordingFile(const std::string& path, HistoryDump& dump, UserNotifier& notifier) {
  std::string error;
  const std::optional<RealtimeRecording> recording = ReadRealtimeBinary(path, &error);
  if (!recording) {
    notifier.Message(EnglishText(kTextMsgCannotOpenFile, {path, error}), EnglishText(kTextCaptionLoadData));
    return std::nullopt;
  }
  const std::string image = RecordingImage(*recording);
  RecordingLoad load;
  load.bytes = dump.LoadImage({reinterpret_cast<const uint8_t*>(image.data()), image.size()});
  load.cut = load.bytes < image.size();
  notifier.Status(path);
  notifier.Status("Data loaded!");
  return load;
}

}  // namespace norvane
