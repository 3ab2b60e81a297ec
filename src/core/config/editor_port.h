// The configuration editor's hold on the port: taking it over from the main window, draining
// stray bytes between transfers, and giving it back.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "core/protocol/device_session.h"

namespace norvane {

// A device dialog (the configuration editor, the network settings) owns one of these while it
// is open. Transfers pause the receiving task so that it never takes their reply bytes.
class EditorPort {
 public:
  static constexpr size_t kCaptureSize = 4096;

  explicit EditorPort(DeviceSession& session) : session_(session) {}
  // Ends the receiving task; the main reader stays stopped, as after Release.
  ~EditorPort();
  EditorPort(const EditorPort&) = delete;
  EditorPort& operator=(const EditorPort&) = delete;

  // Identifies the counter again, opens the port afresh, stops the main reader and any earlier
  // receiving task, and starts this one. Returns whether the port is open afterwards.
  bool TakeOver();
  // After a read that went unanswered: closes the port, opens it again for the main reader and
  // forgets the take-over, so the next attempt takes the port over anew.
  void Reconnect();
  // "Exit": stops the main reader and the receiving task; the connect code or realtime
  // monitoring start the reader again.
  void Release();

  bool taken() const { return taken_; }
  // Returns once the receiving task is parked, so no byte of the coming exchange can reach it.
  void Pause();
  void Resume();

  // Stray bytes the task collected, and those beyond its area that it dropped.
  size_t captured() const;
  size_t dropped() const;

  DeviceSession& session() { return session_; }

 private:
  void Receive();
  void StopTask();

  DeviceSession& session_;
  bool taken_ = false;

  std::thread task_;
  std::atomic<bool> run_{false};
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool pause_ = false;
  bool parked_ = false;
  bool task_alive_ = false;
  std::array<uint8_t, kCaptureSize> capture_{};
  size_t captured_ = 0;
  size_t dropped_ = 0;
};

// Holds the pause for one transfer, and lifts it however the transfer ends.
class PauseScope {
 public:
  explicit PauseScope(EditorPort& port) : port_(port) { port_.Pause(); }
  ~PauseScope() { port_.Resume(); }
  PauseScope(const PauseScope&) = delete;
  PauseScope& operator=(const PauseScope&) = delete;

 private:
  EditorPort& port_;
};

}  // namespace norvane
