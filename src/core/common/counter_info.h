// What a counter is known by, as every layer that hands its readings on names it: the store, the
// live engine's sinks, publishing and the alarm.
#pragma once

#include <string>

namespace norvane::store {

// What identifies a counter: a user-given name once set; else its serial number where it answers
// one; else its version reply together with the stable device path it was seen on, or the version
// reply alone where the store knows no such path.
struct CounterInfo {
  std::string version;  // the counter's version reply, as it answered
  std::string family;
  std::string model;    // the model list entry
  std::string port;
  std::string name;     // empty unless the user named it
  std::string serial{};       // lowercase hex of the raw serial reply; empty when it gave none
  std::string device_path{};  // /dev/serial/by-id/... where there is one, else the port; may be empty
};

}  // namespace norvane::store
