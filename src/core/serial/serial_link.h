// CSerialLink: the one serial port to the counter, over a termios device node.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>

#include "core/common/user_notifier.h"
#include "core/serial/link_trace.h"
#include "core/serial/port_catalogue.h"

namespace norvane {

// Frame limits by model family: families 8 and above take up to 256 bytes, the others 32.
inline constexpr int kShortFrameLimit = 32;
inline constexpr int kLongFrameLimit = 256;

// Why the last Open failed, in words for the status log (the caller shows its own message box).
struct OpenFailure {
  int error_number = 0;  // errno, or 0 when the failure is not the system's
  std::string reason;
};

// The system's reason for a failed open of `path`, with the fix for a permission error: the
// group that owns the device, e.g. "dialout".
std::string DescribeOpenError(const std::string& path, int error_number);

// The message box a failed open shows: which port, and why in words when the reason is known.
inline constexpr char kOpenFailureCaption[] = "Cannot open the port";
std::string OpenFailureText(int port, std::string_view reason);

// Opens by port number through the catalogue, always 8-N-1 at the given baud. Reads never block
// for new bytes and are serialised inside the link, so two threads may call
// ReadAvailable at the same time; one write may run beside them. No operation throws.
class CSerialLink {
 public:
  CSerialLink(const PortCatalogue& ports, UserNotifier& notifier);
  ~CSerialLink();
  CSerialLink(const CSerialLink&) = delete;
  CSerialLink& operator=(const CSerialLink&) = delete;

  // Parity, data and stop bits are taken for the callers' sake and ignored: the counter only
  // speaks 8-N-1. An open link returns true unchanged, whatever the arguments. The port is taken
  // exclusively (an advisory lock, which binds root too, and TIOCEXCL) until Close: another
  // opener, in this process or another, fails at once with error_number EBUSY and a reason
  // naming the holder, "The port /dev/ttyUSB0 is in use by process 4711 (norvane-cli record).".
  bool Open(int port_number, int baud, std::string_view parity = "n", int data_bits = 8, int stop_bits = 1);
  bool OpenPath(const std::string& path, int baud);
  bool Close();
  bool IsOpen() const { return open_.load(); }
  // Waits for pending output, purges both directions and drains up to 60 stale bytes.
  void ClearLine();

  // Writes byte by byte with `delay_ms` after each byte, also after the last. Returns the count
  // written, 0 on a closed port, -1 (with a message) when the frame is too long for the family.
  int SendData(std::span<const uint8_t> bytes, int delay_ms, int model_family);
  // At most `limit` of the bytes already queued; the rest stay queued. 0 when none or closed.
  int ReadAvailable(std::span<uint8_t> destination, int limit);
  int ReadAvailable(std::span<uint8_t> destination) {
    return ReadAvailable(destination, static_cast<int>(destination.size()));
  }

  // Waits up to `limit` for input and returns at once when some is queued. A line that reports a
  // hang-up or an error still takes the whole wait, so a caller counting empty reads keeps its
  // pace instead of spinning on a vanished device.
  bool WaitForInput(std::chrono::microseconds limit);

  enum class InputWait { kReady, kTimedOut, kGone, kClosed };
  // Blocks on the descriptor until input is queued, `limit` passes, or the device goes away, and
  // says which at once: for a caller that reacts to an unplug rather than counting empty reads.
  InputWait AwaitInput(std::chrono::microseconds limit);
  // The device vanished under the open link (unplugged, or its simulator ended): the line hung
  // up or failed with EIO/ENXIO. Stays so until the link is closed and opened again.
  bool Gone() const { return gone_.load(); }

  const OpenFailure& last_failure() const { return last_failure_; }
  const std::string& path() const { return path_; }
  // The trace must outlive the link, or be detached first.
  void SetTrace(LinkTrace* trace) { trace_.store(trace); }

 private:
  void WriteBytes(std::span<const uint8_t> bytes);
  bool Fail(int error_number, std::string reason);
  // Marks the link gone when a descriptor error says the device went away.
  void NoteFailure(int error_number);

  const PortCatalogue& ports_;
  UserNotifier& notifier_;
  std::mutex read_mutex_;   // one read at a time
  std::mutex write_mutex_;  // one write at a time
  std::atomic<int> fd_{-1};
  std::atomic<bool> open_{false};
  std::atomic<bool> gone_{false};
  std::string path_;
  OpenFailure last_failure_;
  std::atomic<LinkTrace*> trace_{nullptr};
};

}  // namespace norvane
