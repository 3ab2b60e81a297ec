#include "core/config/editor_port.h"

namespace norvane {
namespace {

using namespace std::chrono_literals;

void Sleep(std::chrono::milliseconds ms) { std::this_thread::sleep_for(ms); }

// How long the task rests when nothing came, so it never spins a core.
constexpr auto kIdleRest = 1ms;

}  // namespace

EditorPort::~EditorPort() { StopTask(); }

bool EditorPort::TakeOver() {
  DeviceState& state = session_.state();
  const int port = state.current_port;
  session_.ConnectAndIdentify(port);
  session_.OpenPortForReader(state.current_port > 0 ? state.current_port : port);
  Sleep(100ms);
  {
    std::lock_guard lock(mutex_);
    captured_ = 0;
    dropped_ = 0;
  }
  session_.StopReader();
  Sleep(10ms);
  StopTask();
  Sleep(10ms);
  {
    std::lock_guard lock(mutex_);
    task_alive_ = true;
    parked_ = false;
  }
  run_ = true;
  task_ = std::thread(&EditorPort::Receive, this);
  taken_ = true;
  return session_.link().IsOpen();
}

void EditorPort::Reconnect() {
  const int port = session_.state().current_port;
  session_.link().Close();
  Sleep(200ms);
  session_.OpenPortForReader(port);
  Sleep(200ms);
  taken_ = false;
}

void EditorPort::Release() {
  session_.StopReader();
  Sleep(10ms);
  StopTask();
  Sleep(10ms);
  taken_ = false;
}

void EditorPort::Pause() {
  std::unique_lock lock(mutex_);
  pause_ = true;
  changed_.wait(lock, [this] { return parked_ || !task_alive_; });
}

void EditorPort::Resume() {
  std::lock_guard lock(mutex_);
  pause_ = false;
  changed_.notify_all();
}

size_t EditorPort::captured() const {
  std::lock_guard lock(mutex_);
  return captured_;
}

size_t EditorPort::dropped() const {
  std::lock_guard lock(mutex_);
  return dropped_;
}

void EditorPort::StopTask() {
  run_ = false;
  {
    std::lock_guard lock(mutex_);
    changed_.notify_all();
  }
  if (task_.joinable()) task_.join();
  std::lock_guard lock(mutex_);
  task_alive_ = false;
  changed_.notify_all();
}

void EditorPort::Receive() {
  CSerialLink& link = session_.link();
  while (run_) {
    {
      std::unique_lock lock(mutex_);
      if (pause_) {
        if (!parked_) {
          parked_ = true;
          changed_.notify_all();
        }
        changed_.wait_for(lock, kIdleRest, [this] { return !pause_ || !run_; });
        continue;
      }
      parked_ = false;
    }
    uint8_t byte = 0;
    if (link.ReadAvailable({&byte, 1}, 1) == 1) {
      std::lock_guard lock(mutex_);
      // Nothing reads these bytes; the area only must not overflow.
      if (captured_ < capture_.size()) capture_[captured_++] = byte;
      else ++dropped_;
      continue;
    }
    Sleep(kIdleRest);
  }
  std::lock_guard lock(mutex_);
  parked_ = false;
  task_alive_ = false;
  changed_.notify_all();
}

}  // namespace norvane
