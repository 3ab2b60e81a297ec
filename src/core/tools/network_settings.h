// "Read From Device" and "Write to Device" of the WiFi and server setup of wireless counters.
#pragma once

#include <chrono>
#include <optional>

#include "core/config/config_block.h"
#include "core/config/config_transfer.h"
#include "core/config/editor_port.h"
#include "core/tools/network_values.h"

namespace norvane {

enum class NetworkOutcome {
  kDone,
  kUnsupported,   // "This model does not support WiFi. "; nothing sent
  kDeclined,      // the user answered No; nothing sent
  kRefused,       // a value cannot be sent, the message names it; nothing sent
  kReadFailed,    // the block never came: "Comport error! \r\n Please try again!"
  kNoAnswer,      // a frame went unanswered: "Comport error on …"; the Settings dialog closes
  kSendRefused,   // the link refused a frame's length with its own message
};

struct NetworkReadResult {
  NetworkOutcome outcome = NetworkOutcome::kReadFailed;
  NetworkValues values;
};

struct NetworkWriteResult {
  NetworkOutcome outcome = NetworkOutcome::kRefused;
  std::optional<NetworkField> stopped_at;  // the frame that went unanswered or was refused
  int frames_sent = 0;
};

struct NetworkOptions {
  // Rounds of reading the block, with a reconnect between them, before the read gives up.
  int read_rounds = 3;
  TransferOptions transfer;
  // How long a written value waits for its answer: 655350 empty polls of about 5 µs.
  std::chrono::milliseconds reply_wait{3277};
};

// Borrows the dialog's hold on the port and the application's configuration block, which a read
// fills as the configuration editor's read does.
class NetworkSettings {
 public:
  NetworkSettings(EditorPort& port, ConfigBlock& block, NetworkOptions options = {})
      : port_(port), block_(block), options_(options) {}

  NetworkReadResult Read();
  // Asks for confirmation first; then the seven frames, each answered before the next.
  NetworkWriteResult Write(const NetworkValues& values);

 private:
  bool ReadBlock();
  bool Answered();

  EditorPort& port_;
  ConfigBlock& block_;
  NetworkOptions options_;
};

}  // namespace norvane
