// The port and line values the connect code asks for and shows.
#pragma once

#include <string>

namespace norvane {

struct PortSettings {
  int flow_control = 0;  // 0 none, 1 Xon/Xoff, 2 hardware: carried, never applied
  int data_bits = 8;
  std::string parity = "n";
  int port = 0;  // 1 is the first port
  int baud = 57600;
  int stop_bits = 1;
};

// The counter's line rate: 115200 for families above 3, else 57600.
inline int BaudForFamily(int family) { return family > 3 ? 115200 : 57600; }

}  // namespace norvane
