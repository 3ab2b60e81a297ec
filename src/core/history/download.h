// The history download: SPIR requests into the HistoryDump on a worker thread, with stall recovery.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "core/common/user_notifier.h"
#include "core/device/device_line.h"
#include "core/history/history_dump.h"
#include "core/protocol/device_state.h"
#include "core/settings/settings_store.h"

namespace norvane {

inline constexpr uint32_t kDownloadRequestSize = 1024;
// Above this many consecutive failed requests (any that did not bring all it asked for) the
// download gives up.
inline constexpr uint32_t kDownloadFailLimit = 30;
// End of data is only looked for once the address has passed this.
inline constexpr uint32_t kEndOfDataFloor = 2048;
inline constexpr char kDownloadProgressCaption[] = "Downloading history data from Norvane ZQT device";

struct DownloadOptions {
  int end_mode = 0;  // "Fast Download": 0 stops at the end of data, 1 takes the whole flash
  int speed = 50;    // "Download Speed", 0-100
  bool only_new = false;  // "Download New": continue the counter's last download
};

// The options as the dialog shows them: a stored speed above 100 is shown as 50.
DownloadOptions DownloadOptionsFromSettings(const Settings& settings);

// Milliseconds between sending a request and collecting its reply: 808 at speed 0, 8 at 100.
int SpeedWaitMs(int speed);

// "<SPIR", the address in 3 bytes and the length in 2, most significant first, then ">>".
std::array<uint8_t, 12> BuildSpirFrame(uint32_t address, uint32_t length);

// Bytes one request asks for at `address`: 1024, or what remains of the image.
uint32_t SpirRequestLength(uint32_t address, uint32_t image_size);


// True when the 1024 bytes before `address` are all 0xFF and the address is above 2048.
bool IsEndOfData(std::span<const uint8_t> image, uint32_t address);

// True when, for some k in 0..3, the image bytes at k, k+5, k+10 and k+15 are all '?': the
// counter answered with its command prompt instead of flash, so it is not in download mode.
bool LooksUnsynched(std::span<const uint8_t> image);

// "%s (%.0f%%)" with the caption and address × 100 / image size, for the progress window.
std::string DownloadProgressTitle(std::string_view caption, uint32_t address, uint32_t image_size);
// "65536 of 1048576 bytes, 2.4 KB/s, 6 min 40 s left" after `elapsed` since the download began;
// the rate and the time left wait for a second of data, since a long download starts unevenly.
std::string DownloadProgressDetail(uint32_t address, uint32_t image_size, std::chrono::milliseconds elapsed);

// The progress window's side: called from the download thread after every read with data, and
// with address 0 when the download ends. A download that continues an earlier one counts only
// what it reads: `address` and `image_size` are then measured from where it started.
class DownloadProgress {
 public:
  virtual ~DownloadProgress() = default;
  virtual void DownloadProgressed(uint32_t address, uint32_t image_size) = 0;
};

enum class DownloadEnd {
  kImageEnd,         // the whole image arrived
  kEndOfData,        // end mode 0 met erased flash
  kStopped,          // a stop request
  kTooManyFailures,  // more than 30 failed requests in a row
  kPortLost,         // the port could not be reopened after a stall
  kUnsynched,        // the counter answered '?' prompts instead of its flash
  kNotStarted,       // the port could not be opened, or a download was already running
  kHistoryDiffers,   // the counter no longer holds the history a continued download builds on
};

struct DownloadReport {
  DownloadEnd end = DownloadEnd::kNotStarted;
  uint32_t bytes = 0;         // the address reached: image bytes filled from the start
  uint32_t image_size = 0;
  uint32_t start = 0;         // where reading began: 0, or where a continued download took up
  uint32_t requests = 0;      // SPIR frames sent, repeats included
  uint32_t failures = 0;      // failed requests in this download, numbered from 0 in "FAIL #%d"
  uint32_t fail_counter = 0;  // consecutive failures when it ended
  std::chrono::milliseconds elapsed{0};
  // The image holds a download to save: the whole flash, or everything up to the end of data.
  bool complete() const { return end == DownloadEnd::kImageEnd || end == DownloadEnd::kEndOfData; }
};

// The status log's one line for a download: "Read 65536 bytes in 64 requests in 12.3 s, 5.3 KB/s.",
// with the repeated requests when there were any.
std::string DownloadSummaryLine(const DownloadReport& report);

// A request counts as stalled when the counter has sent nothing for this long.
inline constexpr std::chrono::milliseconds kStallSilence{1000};

struct DownloadRequest {
  DownloadOptions options;
  std::string path;       // the chosen file; empty or "noname" keeps the download in memory only
  std::string type_text;  // the file dialog's type text, lower case
  // A continued download: the last download of this counter up to its end of data. Its blocks
  // before the one holding that end are taken as they are; that block is read again and must
  // match. Empty: everything is read.
  std::vector<uint8_t> previous = {};
  // Where this counter's history ended at its last download, 0 when unknown: with end mode 0 the
  // progress counts against it rather than the whole flash.
  uint32_t expected_end = 0;
};

// Owns the download thread. Start and Wait come from the owner's thread, RequestStop from any
// thread while the object lives; progress and completion are reported from the download thread.
class HistoryDownload {
 public:
  struct Parts {
    DeviceLine& line;
    DeviceState& state;
    HistoryDump& dump;
    UserNotifier& notifier;
    SettingsStore* settings = nullptr;     // where the options and the folder are kept
    DownloadProgress* progress = nullptr;  // the progress window, if any
  };
  using Completion = std::function<void(const DownloadReport&)>;

  // `stall`: how long a silent counter is waited for before a request counts as stalled.
  explicit HistoryDownload(Parts parts, std::chrono::milliseconds stall = kStallSilence) : p_(parts), stall_(stall) {}
  ~HistoryDownload();
  HistoryDownload(const HistoryDownload&) = delete;
  HistoryDownload& operator=(const HistoryDownload&) = delete;

  // The "Download" button after its two dialogs: stores the options and the folder, opens the
  // port if needed, switches realtime monitoring off, sends the heartbeat-off
  // frame and starts the thread. `completed` runs on the download thread when it ends; the
  // window maps it to a queued signal and runs SaveDumpAfterDownload for a complete() report.
  // False (nothing started) when the chosen file's folder cannot take files (the user is told
  // why), the port cannot be opened or a download is running.
  bool StartDownload(const DownloadRequest& request, Completion completed = {});

  // Closes the port and opens the current port again at the family's rate.
  bool OpenPortForDownload();

  // Ends the thread at its next read. Safe from any thread, but only while this object lives.
  void RequestStop();
  // Waits for the thread to end; the report of the last download.
  DownloadReport Wait();
  bool running() const { return running_.load(); }

  const DownloadRequest& request() const { return request_; }
  // Where the current request began, and the next address to fill (0 once ended).
  uint32_t address() const { return address_.load(); }

 private:
  DownloadReport Run();
  // Waits for the counter's next bytes: false after `stall_` of silence, or at a stop.
  bool AwaitData();
  void Drain();
  void Progress(uint32_t address);
  // What the progress counts against: the whole image, or just past where the history is expected to end.
  uint32_t ProgressEnd(uint32_t address) const;
  void EndMessages(const DownloadReport& report, bool unsynched);

  Parts p_;
  const std::chrono::milliseconds stall_;
  DownloadRequest request_;
  Completion completed_;
  int port_ = 0;
  int family_ = 0;

  std::atomic<bool> running_{false};
  std::atomic<uint32_t> address_{0};
  uint32_t start_ = 0;
  std::thread thread_;
  DownloadReport last_report_;
};

}  // namespace norvane
