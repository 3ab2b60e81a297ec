#include "core/serial/serial_link.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <system_error>
#include <thread>

#include "core/common/text_format.h"
#include "core/i18n/language_dictionary.h"
#include "core/i18n/window_texts.h"
#include "core/platform/serial_device.h"
#include "core/platform/system_error.h"
#include "core/serial/port_access.h"

namespace norvane {
namespace {

using namespace std::chrono_literals;

constexpr int kDrainLimit = 60;
constexpr int kWriteWaitMs = 1000;
// How long ClearLine waits for queued output to leave; a stuck line must not hang the caller.
constexpr auto kOutputDrainLimit = 1000ms;

std::optional<speed_t> SpeedOf(int baud) {
  switch (baud) {
    case 110: return B110;
    case 300: return B300;
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
#ifdef B460800
    case 460800: return B460800;
#endif
#ifdef B921600
    case 921600: return B921600;
#endif
    default: return std::nullopt;
  }
}

std::string SystemText(int error_number) { return SystemErrorText(error_number); }

std::string InUseReason(const std::string& path) {
  const std::optional<PortHolder> holder = FindPortHolder(path);
  return "The port " + path + " is " + InUsePhrase(holder.value_or(PortHolder{})) + ".";
}

bool MeansGone(int error_number) { return error_number == EIO || error_number == ENXIO || error_number == ENODEV; }

}  // namespace

std::string DescribeOpenError(const std::string& path, int error_number) {
  std::string text = path + ": " + SystemText(error_number);
  if (error_number == EACCES || error_number == EPERM) {
    struct stat info {};
    std::string group;
    if (::stat(path.c_str(), &info) == 0) {
      // getgrgid_r: another thread may be opening a port at the same time.
      char scratch[4096];
      struct group entry {};
      struct group* found = nullptr;
      if (::getgrgid_r(info.st_gid, &entry, scratch, sizeof scratch, &found) == 0 && found && found->gr_name)
        group = found->gr_name;
    }
    if (!group.empty() && group != "root")
      text += ". The port belongs to the group '" + group + "': add yourself with 'sudo usermod -aG " + group +
              " $USER', then log out and in again";
    else
      text += ". Ask the administrator for read and write access to the port";
  } else if (error_number == EBUSY) {
    text += " (another program has the port open)";
  } else if (error_number == ENOENT || error_number == ENODEV || error_number == ENXIO) {
    text += " (is the counter plugged in?)";
  }
  return text;
}

CSerialLink::CSerialLink(const PortCatalogue& ports, UserNotifier& notifier) : ports_(ports), notifier_(notifier) {}

CSerialLink::~CSerialLink() { Close(); }

std::string OpenFailureText(int port, std::string_view reason) {
  const std::string number = std::to_string(port);
  if (reason.ends_with('.')) reason.remove_suffix(1);  // the message ends the sentence itself
  return reason.empty() ? EnglishText(kTextMsgPortCannotOpen, {number})
                        : EnglishText(kTextMsgPortCannotOpenWhy, {number, std::string(reason)});
}

bool CSerialLink::Fail(int error_number, std::string reason) {
  last_failure_ = {error_number, std::move(reason)};
  if (LinkTrace* trace = trace_.load()) trace->Event("open failed: " + last_failure_.reason);
  return false;
}

bool CSerialLink::Open(int port_number, int baud, std::string_view, int, int) {
  if (open_.load()) return true;
  const auto path = ports_.PathOf(port_number);
  if (!path)
    return Fail(0, Format("COM%d is not in the port list (%zu ports known; 'norvane-cli ports' lists them)",
                          port_number, ports_.ports().size()));
  return OpenPath(*path, baud);
}

bool CSerialLink::OpenPath(const std::string& path, int baud) {
  if (open_.load()) return true;
  const auto speed = SpeedOf(baud);
  if (!speed) return Fail(0, Format("%s: the line rate %d baud is not available on this system", path.c_str(), baud));
  {
    std::scoped_lock lock(read_mutex_, write_mutex_);
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
      const int error = errno;
      // TIOCEXCL of a holder turns away all but root.
      return Fail(error, error == EBUSY ? InUseReason(path) : DescribeOpenError(path, error));
    }
    // The lock before anything else, so a second opener leaves the holder's line as it is. It
    // belongs to this open file description: another one, even in this process, is refused.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
      ::close(fd);
      return Fail(EBUSY, InUseReason(path));
    }
    ::ioctl(fd, TIOCEXCL);  // keeps out programs that take no lock, unless they run as root

    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) {
      const int error = errno;
      ::close(fd);
      return Fail(error, path + ": not a serial port (" + SystemText(error) + ")");
    }
    // Raw 8-N-1 with no flow control of any kind: software flow control, on by default here,
    // would swallow 0x11 and 0x13 bytes of binary replies, and line editing would hold bytes back.
    tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF |
                                          IXANY | INPCK);
    tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CREAD | CLOCAL;
    tio.c_cc[VMIN] = 0;  // reads return at once with what is queued
    tio.c_cc[VTIME] = 0;
    if (::cfsetispeed(&tio, *speed) != 0 || ::cfsetospeed(&tio, *speed) != 0 || ::tcsetattr(fd, TCSANOW, &tio) != 0) {
      const int error = errno;
      ::ioctl(fd, TIOCNXCL);
      ::close(fd);
      return Fail(error, path + ": the line settings were refused (" + SystemText(error) + ")");
    }
    fd_.store(fd);
    path_ = path;
    last_failure_ = {};
    gone_.store(false);
    open_.store(true);
  }
  if (LinkTrace* trace = trace_.load()) trace->Event(Format("opened %s at %d baud, 8-N-1", path.c_str(), baud));
  ClearLine();
  return true;
}

bool CSerialLink::Close() {
  if (!open_.load()) return true;
  ClearLine();
  {
    std::scoped_lock lock(read_mutex_, write_mutex_);
    const int fd = fd_.exchange(-1);
    open_.store(false);
    if (fd >= 0) {
      ::ioctl(fd, TIOCNXCL);
      ::close(fd);
    }
  }
  if (LinkTrace* trace = trace_.load()) trace->Event("closed " + path_);
  return true;
}

void CSerialLink::ClearLine() {
  if (!open_.load()) return;
  // True once what was sent has left; false when it is still stuck at the limit.
  const auto wait_for_output = [this] {
    const auto deadline = std::chrono::steady_clock::now() + kOutputDrainLimit;
    for (;;) {
      int queued = 0;
      {
        std::lock_guard lock(write_mutex_);
        const int fd = fd_.load();
        if (fd < 0 || ::ioctl(fd, TIOCOUTQ, &queued) != 0) return true;
      }
      if (queued <= 0) return true;
      if (std::chrono::steady_clock::now() >= deadline) return false;
      std::this_thread::sleep_for(2ms);
    }
  };
  const bool sent = wait_for_output();
  {
    std::scoped_lock lock(read_mutex_, write_mutex_);
    const int fd = fd_.load();
    // Output that left is on the wire; only output stuck in the queue is thrown away. (A
    // pseudo-terminal reports its queue empty, and flushing it would take back frames the
    // other end has not read yet, which a wire never does.)
    if (fd >= 0) ::tcflush(fd, sent ? TCIFLUSH : TCIOFLUSH);
  }
  wait_for_output();
  uint8_t stale[kDrainLimit];
  ReadAvailable(stale, kDrainLimit);
}

int CSerialLink::SendData(std::span<const uint8_t> bytes, int delay_ms, int model_family) {
  const size_t length = bytes.size();
  if (model_family < 8 && length > static_cast<size_t>(kShortFrameLimit)) {
    notifier_.Message("Data too long to send! (Maximum 32 bytes)");
    return -1;
  }
  if (length > static_cast<size_t>(kLongFrameLimit)) {
    notifier_.Message("Data too long to send! (Maximum 256 bytes)");
    return -1;
  }
  if (!open_.load()) return 0;
  if (LinkTrace* trace = trace_.load()) trace->Bytes(LinkTrace::Direction::kOut, bytes);
  // A frame without pauses goes out in one write: the once-a-second poll wakes the line once.
  if (delay_ms <= 0) {
    WriteBytes(bytes);
    return static_cast<int>(length);
  }
  for (size_t i = 0; i < length; ++i) {
    WriteBytes(bytes.subspan(i, 1));
    // The pause follows every byte, the last one too: some commands count on it as settle time.
    std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
  }
  return static_cast<int>(length);
}

void CSerialLink::WriteBytes(std::span<const uint8_t> bytes) {
  std::lock_guard lock(write_mutex_);
  const int fd = fd_.load();
  if (fd < 0) return;
  size_t done = 0;
  bool waited = false;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      waited = false;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    // A full output queue is waited for once before the rest counts as not sent.
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && !waited) {
      waited = true;
      pollfd p{fd, POLLOUT, 0};
      if (::poll(&p, 1, kWriteWaitMs) > 0) continue;
    }
    if (n < 0) NoteFailure(errno);
    break;
  }
  // Write failures stay silent: a counter that got nothing simply does not answer.
  if (done < bytes.size())
    if (LinkTrace* trace = trace_.load())
      trace->Event(Format("write of %zu of %zu bytes failed", bytes.size() - done, bytes.size()));
}

bool CSerialLink::WaitForInput(std::chrono::microseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  const InputWait result = AwaitInput(limit);
  if (result == InputWait::kReady) return true;
  if (result != InputWait::kTimedOut) std::this_thread::sleep_until(deadline);
  return false;
}

CSerialLink::InputWait CSerialLink::AwaitInput(std::chrono::microseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  const int fd = fd_.load();
  if (fd < 0 || !open_.load()) return InputWait::kClosed;
  if (gone_.load()) return InputWait::kGone;
  for (;;) {
    const auto left = std::max(std::chrono::nanoseconds(0), deadline - std::chrono::steady_clock::now());
    const timespec wait{static_cast<time_t>(left.count() / 1'000'000'000),
                        static_cast<long>(left.count() % 1'000'000'000)};
    pollfd p{fd, POLLIN, 0};
    // No lock: a Close meanwhile shows up as POLLNVAL.
    const int ready = ::ppoll(&p, 1, &wait, nullptr);
    if (ready < 0 && errno == EINTR) continue;
    if (ready == 0) return InputWait::kTimedOut;
    if (ready < 0 || (p.revents & POLLNVAL)) return InputWait::kClosed;
    if (p.revents & (POLLHUP | POLLERR)) {
      NoteFailure(EIO);
      return InputWait::kGone;
    }
    return InputWait::kReady;
  }
}

void CSerialLink::NoteFailure(int error_number) {
  if (!MeansGone(error_number) || gone_.exchange(true)) return;
  if (LinkTrace* trace = trace_.load()) trace->Event("the device is gone: " + SystemText(error_number));
}

int CSerialLink::ReadAvailable(std::span<uint8_t> destination, int limit) {
  if (!open_.load() || limit <= 0) return 0;
  const size_t wanted = std::min(static_cast<size_t>(limit), destination.size());
  if (wanted == 0) return 0;
  ssize_t got = 0;
  {
    std::lock_guard lock(read_mutex_);
    const int fd = fd_.load();
    if (fd < 0) return 0;
    int queued = 0;
    if (::ioctl(fd, FIONREAD, &queued) != 0) {
      NoteFailure(errno);
      return 0;
    }
    if (queued <= 0) return 0;
    got = ::read(fd, destination.data(), std::min(static_cast<size_t>(queued), wanted));
    if (got < 0) NoteFailure(errno);
    if (got <= 0) return 0;
  }
  if (LinkTrace* trace = trace_.load())
    trace->Bytes(LinkTrace::Direction::kIn, destination.first(static_cast<size_t>(got)));
  return static_cast<int>(got);
}

}  // namespace norvane
