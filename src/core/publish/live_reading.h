// What the publishers are told about a live counter: who it is, each measured second, its link.
#pragma once

#include <cstdint>
#include <string>

#include "core/store/store.h"

namespace norvane::publish {

// A counter as the logging service knows it; `store_id` is its number in the long-term store,
// which also names it in topics and metric labels, so it stays the same across ports.
struct LiveCounter {
  store::CounterId store_id = 0;
  std::string model;
  std::string version;  // the counter's version reply
  std::string port;
  // What a centre collecting many stations tells counters apart by.
  std::string serial{};       // empty when the counter gave none
  std::string device_path{};
  std::string family{};
};

// One measured second as the poll delivered it.
struct LiveReading {
  store::CounterId store_id = 0;
  std::string model;
  std::string version;
  std::string port;
  int64_t utc = 0;       // the second's UTC time
  uint32_t count = 0;    // counts in that second
  double cpm = 0;        // counts over the last 60 seconds
  double usv_h = 0;      // dose rate from that CPM
  double acpm = 0;       // mean CPM since monitoring started
};

enum class ConnectionState { kConnected, kLost };

}  // namespace norvane::publish
