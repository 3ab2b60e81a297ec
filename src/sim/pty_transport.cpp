#include "sim/pty_transport.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace norvane::sim {
namespace {

std::string Reason(std::string_view what) { return std::string(what) + ": " + std::strerror(errno); }

speed_t SpeedConstant(int baud) { return baud == 115200 ? B115200 : B57600; }

int BaudOf(speed_t speed) {
  switch (speed) {
    case B9600: return 9600;
    case B19200: return 19200;
    case B38400: return 38400;
    case B57600: return 57600;
    case B115200: return 115200;
    case B230400: return 230400;
    case B460800: return 460800;
    case B921600: return 921600;
    default: return -1;  // some other rate, surely not the counter's
  }
}

}  // namespace

std::unique_ptr<PtyTransport> PtyTransport::Open(SimulatedCounter& counter, std::string* error,
                                                 const std::optional<std::filesystem::path>& link) {
  std::unique_ptr<PtyTransport> t(new PtyTransport(counter));
  auto fail = [&](std::string reason) {
    if (error) *error = std::move(reason);
    return nullptr;
  };
  t->master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (t->master_ < 0) return fail(Reason("cannot create a pseudo-terminal"));
  if (grantpt(t->master_) != 0 || unlockpt(t->master_) != 0) return fail(Reason("cannot unlock the pseudo-terminal"));
  char name[128];
  if (ptsname_r(t->master_, name, sizeof name) != 0) return fail(Reason("cannot name the pseudo-terminal"));
  t->device_path_ = name;
  t->slave_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (t->slave_ < 0) return fail(Reason("cannot open " + t->device_path_));

  // Raw from the start: a line discipline that echoes would send every reply straight back.
  termios tio{};
  if (tcgetattr(t->slave_, &tio) != 0) return fail(Reason("cannot read the line settings"));
  cfmakeraw(&tio);
  cfsetispeed(&tio, SpeedConstant(counter.baud()));
  cfsetospeed(&tio, SpeedConstant(counter.baud()));
  if (tcsetattr(t->slave_, TCSANOW, &tio) != 0) return fail(Reason("cannot set the line to raw mode"));

  const int flags = fcntl(t->master_, F_GETFL);
  if (flags < 0 || fcntl(t->master_, F_SETFL, flags | O_NONBLOCK) != 0) return fail(Reason("cannot set non-blocking"));
  t->wake_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (t->wake_ < 0) return fail(Reason("cannot create an event descriptor"));

  if (link) {
    std::error_code ec;
    const auto status = std::filesystem::symlink_status(*link, ec);
    if (std::filesystem::is_symlink(status)) {
      std::filesystem::remove(*link, ec);  // left behind by an earlier run
    } else if (std::filesystem::exists(status)) {
      return fail(link->string() + " exists and is not a symbolic link; not replacing it");
    }
    std::filesystem::create_symlink(t->device_path_, *link, ec);
    if (ec) return fail("cannot create the link " + link->string() + ": " + ec.message());
    t->link_ = link;
  }
  return t;
}

PtyTransport::~PtyTransport() {
  Stop();
  if (link_) {
    std::error_code ec;
    // Only our own link: another simulator may have taken the name since.
    if (std::filesystem::read_symlink(*link_, ec) == device_path_) std::filesystem::remove(*link_, ec);
  }
  for (int fd : {wake_, slave_, master_})
    if (fd >= 0) close(fd);
}

bool PtyTransport::Start(std::string* error) {
  if (thread_.joinable()) return true;
  stop_ = false;
  try {
    thread_ = std::thread(&PtyTransport::Serve, this);
  } catch (const std::system_error& e) {
    if (error) *error = std::string("cannot start the serving thread: ") + e.what();
    return false;
  }
  return true;
}

void PtyTransport::Stop() {
  if (!thread_.joinable()) return;
  stop_ = true;
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = write(wake_, &one, sizeof one);
  thread_.join();
}

int PtyTransport::LineBaud() const {
  termios tio{};
  if (tcgetattr(slave_, &tio) != 0) return 0;
  return BaudOf(cfgetospeed(&tio));
}

void PtyTransport::Serve() {
  using Steady = std::chrono::steady_clock;
  const Steady::time_point start = Steady::now();
  auto sim_now = [&] { return std::chrono::duration_cast<SimTime>(Steady::now() - start); };
  std::vector<uint8_t> unsent;  // taken from the counter, not yet accepted by the line
  uint8_t buffer[4096];

  while (!stop_) {
    {
      std::lock_guard lock(mutex_);
      const std::vector<uint8_t> due = counter_.TakeDue(sim_now());
      unsent.insert(unsent.end(), due.begin(), due.end());
    }
    bool line_full = false;
    if (!unsent.empty()) {
      const ssize_t n = write(master_, unsent.data(), unsent.size());
      if (n > 0) unsent.erase(unsent.begin(), unsent.begin() + n);
      line_full = !unsent.empty();
    }

    // Sleep until input, the next reply byte's deadline, room on the line, or Stop.
    std::optional<SimTime> next;
    {
      std::lock_guard lock(mutex_);
      next = counter_.NextDue();
    }
    timespec timeout{};
    timespec* wait = nullptr;
    if (next && !line_full) {
      const SimTime left = std::max(*next - sim_now(), SimTime{0});
      timeout.tv_sec = static_cast<time_t>(left.count() / 1'000'000'000);
      timeout.tv_nsec = static_cast<long>(left.count() % 1'000'000'000);
      wait = &timeout;
    }
    pollfd fds[2] = {{master_, static_cast<short>(POLLIN | (line_full ? POLLOUT : 0)), 0}, {wake_, POLLIN, 0}};
    if (ppoll(fds, 2, wait, nullptr) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[1].revents & POLLIN) {
      uint64_t count;
      [[maybe_unused]] const ssize_t n = read(wake_, &count, sizeof count);  // so a restart does not spin
    }
    if (fds[0].revents & POLLIN) {
      const ssize_t n = read(master_, buffer, sizeof buffer);
      if (n > 0) {
        const int baud = LineBaud();
        std::lock_guard lock(mutex_);
        counter_.Receive({buffer, static_cast<size_t>(n)}, sim_now(), baud);
      }
    } else if (fds[0].revents & (POLLHUP | POLLERR)) {
      // Cannot happen while we hold the other end open; do not spin if it does.
      timespec pause{0, 10'000'000};
      nanosleep(&pause, nullptr);
    }
  }
}

}  // namespace norvane::sim
