// The configuration editor's hold on the counter: identifying it, opening its port for the
// transfers, and letting it go.
#pragma once

#include "core/protocol/device_session.h"

namespace norvane {

// A device dialog (the configuration editor, the network settings) keeps one of these. Nothing
// reads the port between transfers: each transfer clears the line before its request, so bytes
// the counter sent meanwhile never pass for its reply.
class EditorPort {
 public:
  explicit EditorPort(DeviceSession& session) : session_(session) {}

  // Identifies the counter again and opens the port afresh. Returns whether the port is open.
  bool TakeOver();
  // After a read that went unanswered: closes the port, opens it again and forgets the
  // take-over, so the next attempt takes the port over anew.
  void Reconnect();
  // "Exit".
  void Release() { taken_ = false; }

  bool taken() const { return taken_; }
  DeviceSession& session() { return session_; }

 private:
  DeviceSession& session_;
  bool taken_ = false;
};

}  // namespace norvane
