// What the program knows about the connected counter and its port, one instance for the program.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "core/protocol/model_table.h"
#include "core/serial/port_settings.h"

namespace norvane {

// Owned by the application context and passed to whoever needs it. The atomics are read by
// worker threads (the family, the demo and monitoring flags); the rest belongs to the
// thread that runs device operations one at a time.
struct DeviceState {
  std::atomic<int> family{kDefaultModel.family};  // ModelFamily
  std::atomic<int> firmware_version{0};           // version × 100, 0 until read
  std::string model_text;                         // the last version reply, or the list entry
  uint32_t memory_size = kDefaultModel.image_size;
  int selected_model = 0;  // the model list's selection; identification moves it, applying it is separate
  int current_port = 0;    // port in use or to try; -1 after a failed open
  bool port_open = false;  // set when the session opened the port
  PortSettings port_settings;  // the line last asked for
  PortSettings last_opened;    // the line values last opened, as the window shows them
  std::atomic<bool> demo{false};
};

}  // namespace norvane
