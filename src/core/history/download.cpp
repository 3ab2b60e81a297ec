#include "core/history/download.h"

#include <algorithm>
#include <filesystem>

#include "core/common/text_format.h"
#include "core/history/download_new.h"
#include "core/i18n/language_dictionary.h"
#include "core/i18n/window_texts.h"
#include "core/platform/folder_check.h"
#include "core/protocol/command_catalogue.h"
#include "core/serial/port_settings.h"

namespace norvane {
namespace {


constexpr int kDefaultSpeed = 50;
constexpr int kMaxSpeed = 100;
constexpr size_t kDrainChunk = 4;

}  // namespace

DownloadOptions DownloadOptionsFromSettings(const Settings& settings) {
  DownloadOptions options;
  options.end_mode = settings.fast_download == 1 ? 1 : 0;
  options.speed = settings.download_speed > static_cast<uint32_t>(kMaxSpeed) ? kDefaultSpeed
                                                                            : static_cast<int>(settings.download_speed);
  return options;
}

int SpeedWaitMs(int speed) { return 808 - 8 * std::clamp(speed, 0, kMaxSpeed); }

std::array<uint8_t, 12> BuildSpirFrame(uint32_t address, uint32_t length) {
  const std::array<uint8_t, 5> arguments = {static_cast<uint8_t>(address >> 16), static_cast<uint8_t>(address >> 8),
                                            static_cast<uint8_t>(address), static_cast<uint8_t>(length >> 8),
                                            static_cast<uint8_t>(length)};
  const std::vector<uint8_t> built = BuildFrame(commands::kSpir, arguments);
  std::array<uint8_t, 12> frame{};
  std::copy_n(built.begin(), frame.size(), frame.begin());
  return frame;
}

uint32_t SpirRequestLength(uint32_t address, uint32_t image_size) {
  return address >= image_size ? 0 : std::min(kDownloadRequestSize, image_size - address);
}

std::string DownloadSummaryLine(const DownloadReport& report) {
  const double seconds = static_cast<double>(report.elapsed.count()) / 1000.0;
  const uint32_t read = report.bytes > report.start ? report.bytes - report.start : 0;
  std::string text = Format("Read %u bytes in %u requests", static_cast<unsigned>(read),
                            static_cast<unsigned>(report.requests));
  if (report.failures) text += Format(" (%u repeated)", static_cast<unsigned>(report.failures));
  text += " in " + FormatFixed(seconds, 1) + " s";
  if (seconds > 0) text += ", " + FormatFixed(read / seconds / 1000.0, 1) + " KB/s";
  return text + ".";
}

bool IsEndOfData(std::span<const uint8_t> image, uint32_t address) {
  if (address <= kEndOfDataFloor || address > image.size()) return false;
  const auto end = image.begin() + address;
  return std::all_of(end - kDownloadRequestSize, end, [](uint8_t b) { return b == 0xFF; });
}

bool LooksUnsynched(std::span<const uint8_t> image) {
  if (image.size() < 19) return false;
  for (size_t k = 0; k < 4; ++k)
    if (image[k] == '?' && image[k + 5] == '?' && image[k + 10] == '?' && image[k + 15] == '?') return true;
  return false;
}

std::string DownloadProgressTitle(std::string_view caption, uint32_t address, uint32_t image_size) {
  const double percent = image_size ? address * 100.0 / image_size : 0.0;
  return std::string(caption) + " (" + FormatFixed(percent, 0) + "%)";
}

std::string DownloadProgressDetail(uint32_t address, uint32_t image_size, std::chrono::milliseconds elapsed) {
  std::string text = Format("%u of %u bytes", static_cast<unsigned>(address), static_cast<unsigned>(image_size));
  if (elapsed < std::chrono::seconds(1) || address == 0 || address >= image_size) return text;
  const double rate = address * 1000.0 / static_cast<double>(elapsed.count());
  const auto left = static_cast<long>((image_size - address) / rate + 0.5);
  text += ", " + FormatFixed(rate / 1000.0, 1) + " KB/s, ";
  text += left >= 60 ? Format("%ld min %ld s left", left / 60, left % 60) : Format("%ld s left", left);
  return text;
}

HistoryDownload::~HistoryDownload() {
  RequestStop();
  if (thread_.joinable()) thread_.join();
}

bool HistoryDownload::OpenPortForDownload() {
  const int baud = BaudForFamily(family_);
  if (!p_.line.Open(port_, baud)) {
    p_.notifier.Status(Format("COM port %d open failed.", port_));
    if (!p_.line.last_failure().empty()) p_.notifier.Status(p_.line.last_failure());
    return false;
  }
  if (p_.state.demo.load()) p_.notifier.Status("DEMO Mode!!!");
  return true;
}

bool HistoryDownload::StartDownload(const DownloadRequest& request, Completion completed) {
  // The window greys "Download" while one runs; a second start would share the port with it.
  if (running_.load()) {
    p_.notifier.Status("A download is already running.");
    return false;
  }
  if (thread_.joinable()) thread_.join();
  // Minutes of reading are worth nothing if the file cannot be written at the end.
  if (!request.path.empty() && request.path != "noname") {
    if (const auto problem = CheckFolderWritable(std::filesystem::path(request.path).parent_path().string())) {
      p_.notifier.Message(EnglishText(kTextMsgDownloadNotStarted, {*problem}), EnglishText(kTextCaptionDownload));
      last_report_ = DownloadReport{};
      last_report_.image_size = p_.dump.image_size();
      return false;
    }
  }

  DownloadRequest chosen = request;
  // A baseline longer than this model's flash belongs to another model: read everything.
  if (chosen.previous.size() > p_.dump.image_size()) chosen.previous.clear();
  chosen.options.speed = std::clamp(chosen.options.speed, 0, kMaxSpeed);
  chosen.options.end_mode = chosen.options.end_mode == 1 ? 1 : 0;
  if (p_.settings) {
    p_.settings->StoreNumber(setting_names::kDownloadSpeed, static_cast<uint32_t>(chosen.options.speed));
    p_.settings->StoreNumber(setting_names::kFastDownload, static_cast<uint32_t>(chosen.options.end_mode));
  }
  request_ = std::move(chosen);
  if (p_.settings && !request_.path.empty() && request_.path != "noname")
    p_.settings->StoreFolderOf(setting_names::kFileDownloadPath, request_.path);

  port_ = p_.state.current_port;
  family_ = p_.state.family.load();
  if (!p_.line.IsOpen()) {
    if (!OpenPortForDownload()) {
      p_.state.port_open = false;
      last_report_ = DownloadReport{};
      last_report_.image_size = p_.dump.image_size();
      return false;
    }
    p_.state.port_open = true;
  }

  const std::vector<uint8_t> heartbeat_off =
      family_ < 1 ? BuildFamily0HeartbeatFrame() : BuildFrame(commands::kHeartbeat0);
  p_.line.SendData(heartbeat_off, commands::kHeartbeat0.delay_ms, family_);

  completed_ = std::move(completed);
  address_.store(0);
  // Set here rather than in the thread, so a stop requested before it runs is not undone.
  running_.store(true);
  thread_ = std::thread([this] {
    last_report_ = Run();
    if (completed_) completed_(last_report_);
  });
  p_.notifier.Status("Downloading started..");
  return true;
}

void HistoryDownload::RequestStop() {
  running_.store(false);
  p_.line.Wake();
}

DownloadReport HistoryDownload::Wait() {
  if (thread_.joinable()) thread_.join();
  return last_report_;
}

bool HistoryDownload::AwaitData() {
  live::LiveClock& clock = p_.line.clock();
  const auto until = clock.Now() + stall_;
  // In slices, so a stop is heard within one.
  constexpr auto kSlice = std::chrono::milliseconds(50);
  while (running_.load()) {
    const auto now = clock.Now();
    if (now >= until) return false;
    const auto slice = std::min<live::Steady::duration>(kSlice, until - now);
    if (p_.line.WaitForInput(std::chrono::duration_cast<std::chrono::microseconds>(slice))) return true;
  }
  return false;
}

void HistoryDownload::Drain() {
  uint8_t scratch[kDrainChunk];
  while (p_.line.ReadAvailable(scratch, kDrainChunk) > 0) {
  }
}

uint32_t HistoryDownload::ProgressEnd(uint32_t address) const {
  const uint32_t size = p_.dump.image_size();
  if (request_.options.end_mode != 0 || request_.expected_end == 0) return size;
  // The end shows in the request that brings a request's worth of erased flash after the
  // history; a history grown since keeps a request ahead of the address.
  const uint32_t shows = (request_.expected_end + 2 * kDownloadRequestSize - 1) / kDownloadRequestSize * kDownloadRequestSize;
  return std::min(size, address <= shows ? shows : address + kDownloadRequestSize);
}

void HistoryDownload::Progress(uint32_t address) {
  address_.store(address);
  if (!p_.progress) return;
  if (address == 0) p_.progress->DownloadProgressed(0, ProgressEnd(start_) - start_);
  else p_.progress->DownloadProgressed(address - start_, ProgressEnd(address) - start_);
}

DownloadReport HistoryDownload::Run() {
  live::LiveClock& clock = p_.line.clock();
  const auto started = clock.Now();
  HistoryDump& dump = p_.dump;
  const uint32_t size = dump.image_size();
  const std::span<uint8_t> image = dump.buffer().first(size);
  std::fill(dump.buffer().begin(), dump.buffer().end(), uint8_t{0xFF});
  // A continued download takes the earlier blocks as they were and reads on from the block that
  // holds the earlier end of data, which must arrive as it was before anything after it counts.
  const std::span<const uint8_t> previous = request_.previous;
  const uint32_t previous_end = static_cast<uint32_t>(previous.size());
  start_ = ResumeAddress(previous_end);
  std::copy_n(previous.begin(), start_, image.begin());
  p_.line.Pause(std::chrono::milliseconds(10));

  DownloadReport report;
  report.image_size = size;
  report.start = start_;
  const DownloadOptions options = request_.options;
  const auto speed_wait = std::chrono::milliseconds(SpeedWaitMs(options.speed));
  uint32_t address = start_;
  uint32_t restart = start_;
  uint32_t fail_counter = 0;
  bool ended = false;

  const auto finish = [&](DownloadEnd end) {
    ended = true;
    report.end = end;
    report.bytes = address;
    report.fail_counter = fail_counter;
    // A failed request may have left bytes past the address reached; kept or shown, the image
    // holds only what arrived.
    std::fill(image.begin() + address, image.end(), uint8_t{0xFF});
  };

  for (;;) {
    p_.line.ClearLine();
    const uint32_t length = SpirRequestLength(address, size);
    const std::array<uint8_t, 12> frame = BuildSpirFrame(address, length);
    const int sent = p_.line.SendData(frame, commands::kSpir.delay_ms, family_);
    ++report.requests;
    bool stalled = false;
    if (sent <= 0) {
      // Nothing left the port (it was closed under us): asking again at once would spin for
      // ever; recovering as from a stall reopens it.
      stalled = true;
    } else {
      uint32_t received = 0;
      if (running_.load()) p_.line.Pause(speed_wait);
      while (running_.load() && received < length) {
        const int got = p_.line.ReadAvailable(image.subspan(address, length - received));
        const uint32_t n = got > 0 ? static_cast<uint32_t>(got) : 0;
        received += n;
        if (n == 0) {
          if (!AwaitData()) {
            // A stop is no stall: nothing failed.
            stalled = running_.load();
            break;
          }
          continue;
        }
        address += n;
        // Checked as soon as the earlier end is passed, so a cleared counter's erased flash can
        // never end the download as if it were the end of the old history.
        if (address >= previous_end && address - n < previous_end &&
            !std::equal(image.begin() + start_, image.begin() + previous_end, previous.begin() + start_)) {
          finish(DownloadEnd::kHistoryDiffers);
          break;
        }
        if (address >= size) {
          fail_counter = 0;
          finish(DownloadEnd::kImageEnd);
          break;
        }
        Progress(address);
        if (options.end_mode == 0 && IsEndOfData(image, address)) {
          fail_counter = 0;
          finish(DownloadEnd::kEndOfData);
          break;
        }
      }
      if (ended) break;
    }

    if (stalled) {
      // What the failed request brought is looked at before it is dropped: a counter outside
      // download mode may answer each request with a short prompt and then nothing.
      const bool prompt = LooksUnsynched(image.subspan(restart, address - restart));
      address = restart;
      ++report.failures;
      if (++fail_counter > kDownloadFailLimit) {
        finish(DownloadEnd::kTooManyFailures);
        break;
      }
      p_.notifier.Status(Format("FAIL #%d", static_cast<int>(report.failures - 1)));
      if (prompt) {
        finish(DownloadEnd::kUnsynched);
        break;
      }
      if (running_.load() && OpenPortForDownload()) continue;
      if (!running_.load()) {
        finish(DownloadEnd::kStopped);
        break;
      }
      running_.store(false);
      Drain();
      Progress(0);
      address_.store(0);
      p_.notifier.Status("Downloading failed.");
      finish(DownloadEnd::kPortLost);
      report.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(clock.Now() - started);
      return report;
    }
    if (!running_.load()) {
      finish(DownloadEnd::kStopped);
      break;
    }
    // Only a request that brought all it asked for ends a run of failures.
    fail_counter = 0;
    restart = address;
    // A counter outside download mode answers every request with its prompt: one request shows
    // it, and the rest of the flash would only repeat it.
    if (LooksUnsynched(image.first(address))) {
      finish(DownloadEnd::kUnsynched);
      break;
    }
  }

  running_.store(false);
  Drain();
  Progress(0);
  address_.store(0);
  report.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(clock.Now() - started);
  // One line for the whole download; each request's bytes are in the link trace (--trace).
  p_.notifier.Status(DownloadSummaryLine(report));
  // A cancelled download is dropped whole: the window saves only a complete one.
  p_.notifier.Status(report.end == DownloadEnd::kStopped ? EnglishText(kTextLineDownloadCancelled)
                                                         : std::string("Downloading ended."));
  // The prompt check reads the image as it stands, whatever address the download reached.
  const bool unsynched = report.end == DownloadEnd::kUnsynched || LooksUnsynched(image);
  if (unsynched && report.complete()) report.end = DownloadEnd::kUnsynched;
  EndMessages(report, unsynched);
  return report;
}

void HistoryDownload::EndMessages(const DownloadReport& report, bool unsynched) {
  if (report.fail_counter > 3) {
    p_.notifier.Message(
        "There are some unsynched communication. \r\n Check the unit communication baud rate setting. \r\nYou may "
        "need to restart/reconnect the unit and download again.");
    p_.notifier.Status("There are some unsynched communication, you may need to reconnect the unit and download again.");
    p_.notifier.Status("Check the unit communication baud rate setting.");
    p_.notifier.Status("Turn off and disconnect unit, then restart software.");
    p_.notifier.Status("Downloading ended with error.");
  }
  // Looked at after every download, not only after failures: a counter outside download mode
  // may answer every request in full, and its prompts would otherwise be saved as history.
  if (unsynched) {
    p_.notifier.Message(
        "There are some unsynched communication, you may need to restart and reconnect the unit and download again.");
    p_.notifier.Status("There are some unsynched communication, you may need to reconnect the unit and download again.");
    p_.notifier.Status("Downloading ended with error.");
  }
}

}  // namespace norvane
