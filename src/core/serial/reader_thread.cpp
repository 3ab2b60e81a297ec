#include "core/serial/reader_thread.h"

#include <future>

namespace norvane {

ReaderThread::ReaderThread(CSerialLink& link, ReceiveBuffer& buffer, UserNotifier& notifier, ReaderOptions options)
    : link_(link), buffer_(buffer), notifier_(notifier), options_(std::move(options)),
      demo_random_(options_.demo_seed) {}

ReaderThread::~ReaderThread() { Stop(); }

bool ReaderThread::Start(const PortSettings& settings, int family, bool demo) {
  std::lock_guard lock(thread_mutex_);
  RequestStop();
  Join();
  std::promise<bool> started;
  std::future<bool> result = started.get_future();
  thread_ = std::thread(&ReaderThread::SerialReceivingToBuffer, this, settings, family, demo,
                        [&started](bool ok) { started.set_value(ok); });
  return result.get();
}

void ReaderThread::RequestStop() {
  {
    std::lock_guard lock(wake_mutex_);
    running_.store(false);
    stopped_.store(true);
  }
  wake_.notify_all();
}

void ReaderThread::Stop() {
  std::lock_guard lock(thread_mutex_);
  RequestStop();
  Join();
}

void ReaderThread::Join() {
  if (!thread_.joinable()) return;
  // A reaction running on the reader thread may ask for a stop; it cannot wait for itself.
  if (thread_.get_id() == std::this_thread::get_id()) {
    thread_.detach();
    return;
  }
  thread_.join();
}

void ReaderThread::Pause(std::chrono::milliseconds length) {
  std::unique_lock lock(wake_mutex_);
  wake_.wait_for(lock, length, [this] { return !running_.load(); });
}

void ReaderThread::SerialReceivingToBuffer(PortSettings settings, int family, bool demo,
                                           std::function<void(bool)> started) {
  const int baud = BaudForFamily(family);
  if (!demo && !link_.Open(settings.port, baud, "n", 8, 1)) {
    running_.store(false);
    stopped_.store(true);
    notifier_.Message(OpenFailureText(settings.port, link_.last_failure().reason), kOpenFailureCaption);
    if (!link_.last_failure().reason.empty()) notifier_.Status(link_.last_failure().reason);
    started(false);  // after the message, so the caller sees the failure complete
    return;
  }
  {
    std::lock_guard lock(wake_mutex_);
    running_.store(true);
    stopped_.store(false);
  }
  buffer_.Reset();
  started(true);

  int idle = 0;
  while (running_.load()) {
    Pause(demo ? options_.demo_pass : options_.pass);
    if (!running_.load()) break;
    uint8_t bytes[2];
    int got = 0;
    if (demo) {
      // A count of 0, 1 or 2 behind the 0x80 mark, as a counter's realtime reply would carry.
      const unsigned x = static_cast<unsigned>(demo_random_()) % 10;
      bytes[0] = 0x80;
      bytes[1] = static_cast<uint8_t>(x > 5 ? x % 3 : 0);
      got = 2;
    } else {
      if (idle > options_.silence_passes) {
        RequestStop();
        break;
      }
      got = link_.ReadAvailable(bytes, 1);
    }
    if (got <= 0) {
      ++idle;
      continue;
    }
    idle = 0;
    buffer_.Append(std::span<const uint8_t>(bytes, static_cast<size_t>(got)));
  }
  stopped_.store(true);
}

}  // namespace norvane
