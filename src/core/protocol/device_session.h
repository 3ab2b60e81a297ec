// Connecting to a counter: the version request, model selection, opening the port,
// connect-and-identify, disconnect and the port settings.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "core/common/user_notifier.h"
#include "core/protocol/device_state.h"
#include "core/device/device_line.h"
#include "core/serial/port_settings.h"
#include "core/settings/settings_store.h"

namespace norvane {

class HistoryDump;

// Identification tries this many times at the selected model's line rate...
inline constexpr int kIdentifyAttempts = 4;
// ...and then this many times at the other rate, for a counter of another model than selected.
inline constexpr int kOtherRateAttempts = 2;

// The counters' other line rate: 57600 for 115200 and the other way round.
int OtherLineRate(int baud);

// The six choices of the port settings dialog, as list indices.
struct PortDialogChoice {
  int flow_control = 0;  // "None", "Xon/Xoff", "Hardware"
  int data_bits = 4;     // 4..8 bits
  int parity = 0;        // "None", "Even", "Odd", "Mark", "Space"
  int port = 2;          // "COM1".. so 2 is COM3
  int rate = 10;         // 57600
  int stop_bits = 0;     // 1 or 2
};

// The record a dialog choice stands for; empty when an index lies outside its list.
std::optional<PortSettings> MapPortDialogChoice(const PortDialogChoice& choice);

struct IdentifyResult {
  bool port_open = false;      // the Connect button's caption follows this
  std::optional<int> family;   // empty: nothing recognised
  std::string reply;           // the last version reply
  int attempts = 0;
};

// Blocking operations with the exact delays, on the line's clock; run them on a worker thread
// when a window waits.
// The dump and the settings store are optional: the CLI neither keeps a history buffer for
// identification nor writes the user's settings.
class DeviceSession {
 public:
  struct Parts {
    DeviceLine& line;
    UserNotifier& notifier;
    DeviceState& state;
    HistoryDump* dump = nullptr;
    SettingsStore* settings = nullptr;
  };
  explicit DeviceSession(Parts parts) : p_(parts) {}

  // "<GETVER>>"; sets the firmware version number. The text ends at
  // the first zero byte, so a silent counter gives "".
  std::string RequestVersion();

  // Applies a model list entry: family, history size, a fresh erased history buffer; the index
  // is remembered as nLastGeigerCounterSelected.
  void SelectModelFromList(int index);
  // Moves the list selection to the entry the reply names, without applying it.
  void MatchModelInList(std::string_view reply);

  // (Re)opens port `port` at the family's rate.
  bool OpenPort(int port);
  // Opens `port` and asks for the version up to 4 times until the reply names a family; when
  // the selected model's rate brings no such reply, twice more at the other rate. A counter
  // found there has its model selected and applied.
  IdentifyResult ConnectAndIdentify(int port);
  // A counter answered at `baud`, the other rate than the selected model's: selects and applies
  // the model its reply names, and says on the log at which rate it was found.
  void AdoptModelFoundAt(int baud, std::string_view reply);
  // What the "Connect"/"Disconnect" button does with its caption; returns the new caption.
  std::string PressConnectButton(std::string_view caption);
  void Disconnect();
  // The port settings dialog's OK: opens the chosen port with the chosen line and asks for the
  // version on it.
  bool ApplyPortSettings(const PortDialogChoice& choice);

  DeviceState& state() { return p_.state; }
  DeviceLine& link() { return p_.line; }
  UserNotifier& notifier() { return p_.notifier; }

 private:
  void StatusReason();
  bool OpenPortAtRate(int port, int baud);

  Parts p_;
};

}  // namespace norvane
