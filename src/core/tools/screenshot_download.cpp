#include "core/tools/screenshot_download.h"

#include "core/platform/atomic_file.h"
#include "core/protocol/command_catalogue.h"
#include "core/protocol/exchange.h"
#include "core/tools/screenshot_image.h"

namespace norvane {
namespace {

using namespace std::chrono_literals;

// A capture stamped before 2019 is the counter's way of saying the slot is empty.
constexpr uint8_t kFirstCaptureYear = 19;

}  // namespace

ScreenshotResult ScreenshotDownload::Download(int screen, const ChoosePath& choose_path) {
  ScreenshotResult result;
  if (screen < 1 || screen > 4) return result;
  const char digit = static_cast<char>('0' + screen);
  const uint8_t argument = static_cast<uint8_t>(digit);
  UserNotifier& notifier = session_.notifier();
  DeviceLine& link = session_.link();
  const int family = session_.state().family.load();

  link.Pause(100ms);

  std::array<uint8_t, 7> info{};
  const std::vector<uint8_t> info_frame = BuildFrame(commands::kGetScreenshotInfo, std::span(&argument, 1));
  bool have_info = false;
  for (int attempt = 0; attempt < options_.tries && !have_info; ++attempt) {
    Exchange(link, commands::kGetScreenshotInfo, info_frame, family, info, options_.info_reply_wait);
    have_info = info[6] == kAck;
  }
  if (!have_info) {
    result.outcome = ScreenshotOutcome::kNoInformation;
    notifier.Message("Failed to download. Please try again.");
    return result;
  }
  if (info[0] < kFirstCaptureYear || info[0] == 0xFF) {
    result.outcome = ScreenshotOutcome::kEmptySlot;
    notifier.Message("No screenshot found on device.");
    return result;
  }

  result.default_name = ScreenshotDefaultName(digit, std::span(info).first<6>());
  const std::optional<std::string> chosen = choose_path ? choose_path(result.default_name) : std::nullopt;
  if (!chosen || chosen->empty()) {
    result.outcome = ScreenshotOutcome::kCancelled;
    return result;
  }
  result.path = ScreenshotPath(*chosen);

  std::array<uint8_t, kScreenBytes + 1> data{};
  const std::vector<uint8_t> data_frame = BuildFrame(commands::kGetScreenshot, std::span(&argument, 1));
  bool have_data = false;
  for (int attempt = 0; attempt < options_.tries && !have_data; ++attempt) {
    Exchange(link, commands::kGetScreenshot, data_frame, family, data, options_.data_reply_wait);
    have_data = data[kScreenBytes] == kAck;
  }
  if (!have_data) {
    result.outcome = ScreenshotOutcome::kDataFailed;
    notifier.Message("Download Failed.");
    return result;
  }

  const std::string file = ScreenshotBitmap(std::span(data).first<kScreenBytes>());
  if (!AtomicWriteFile(result.path, file, &result.error)) {
    result.outcome = ScreenshotOutcome::kNotWritten;
    notifier.Message("Couldn't create the file!");
    if (!result.error.empty()) notifier.Status(result.error);
    return result;
  }
  result.outcome = ScreenshotOutcome::kSaved;
  notifier.Message("Screenshot Saved.");
  return result;
}

}  // namespace norvane
