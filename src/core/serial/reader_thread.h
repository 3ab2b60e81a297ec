// The background reader: SerialReceivingToBuffer moves the counter's bytes into ReceiveBuffer.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <random>
#include <thread>

#include "core/common/user_notifier.h"
#include "core/serial/port_settings.h"
#include "core/serial/receive_buffer.h"
#include "core/serial/serial_link.h"

namespace norvane {

struct ReaderOptions {
  // Silent passes before the reader gives up (about 15 s at 10 ms); tests make it short.
  int silence_passes = 1500;
  std::chrono::milliseconds pass{10};
  std::chrono::milliseconds demo_pass{1000};
  uint32_t demo_seed = 1;
};

// Owns the one reader thread; starting it again stops and joins the previous one first, so two
// readers never run at once. Messages it shows come from the reader thread: the notifier must
// pass them to its own thread if it needs to.
class ReaderThread {
 public:
  ReaderThread(CSerialLink& link, ReceiveBuffer& buffer, UserNotifier& notifier, ReaderOptions options = {});
  ~ReaderThread();
  ReaderThread(const ReaderThread&) = delete;
  ReaderThread& operator=(const ReaderThread&) = delete;

  // Opens the port unless demo mode or already open (8-N-1 at the family's rate, whatever the
  // record says), empties the buffer and starts polling. Returns once the thread is running,
  // or has failed to open the port ("COM port open error 3").
  bool Start(const PortSettings& settings, int family, bool demo);

  // Clears the running flag and sets the stopped flag; the loop ends at its next pass.
  void RequestStop();
  // RequestStop, then waits for the loop to end.
  void Stop();

  bool running() const { return running_.load(); }
  bool stopped() const { return stopped_.load(); }

 private:
  void SerialReceivingToBuffer(PortSettings settings, int family, bool demo, std::function<void(bool)> started);
  // Sleeps one pass, waking early when a stop is requested.
  void Pause(std::chrono::milliseconds length);
  void Join();

  CSerialLink& link_;
  ReceiveBuffer& buffer_;
  UserNotifier& notifier_;
  ReaderOptions options_;
  std::minstd_rand demo_random_;

  std::atomic<bool> running_{false};
  std::atomic<bool> stopped_{true};
  std::mutex wake_mutex_;
  std::condition_variable wake_;
  std::mutex thread_mutex_;  // Start and Stop from different threads
  std::thread thread_;
};

}  // namespace norvane
