#include "core/config/editor_port.h"

namespace norvane {

using namespace std::chrono_literals;

bool EditorPort::TakeOver() {
  DeviceState& state = session_.state();
  const int port = state.current_port;
  session_.ConnectAndIdentify(port);
  session_.OpenPort(state.current_port > 0 ? state.current_port : port);
  session_.link().Pause(100ms);
  taken_ = true;
  return session_.link().IsOpen();
}

void EditorPort::Reconnect() {
  const int port = session_.state().current_port;
  DeviceLine& line = session_.link();
  line.Close();
  line.Pause(200ms);
  session_.OpenPort(port);
  line.Pause(200ms);
  taken_ = false;
}

}  // namespace norvane
