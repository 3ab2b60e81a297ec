// One trial connection to an MQTT broker, for a settings page to say whether its address works.
#pragma once

#include <chrono>
#include <string>

#include "core/publish/mqtt_url.h"

namespace norvane::publish {

struct MqttCheck {
  bool connected = false;
  std::string text;  // a sentence for the user; never holds the password
};

// Connects to the broker (TLS with `ca_file`, or the system's CAs when it is empty), waits for its
// answer at most `timeout`, and disconnects. Blocks: call it off the window's thread.
MqttCheck CheckMqttBroker(const MqttTarget& target, const std::string& ca_file, std::chrono::milliseconds timeout);

}  // namespace norvane::publish
