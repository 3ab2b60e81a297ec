// What the publishers are told about a live counter: who it is, each measured second, its link.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/store/store.h"
#include "core/store/store_quality.h"

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

// The counter's alarm as the publishers show it: off until an alarm, then the values of the last
// alarm or all-clear.
struct AlarmReading {
  bool on = false;
  int64_t utc = 0;             // 0: no alarm since the counter was first seen
  int window = 0;              // seconds of the window that fired; 0: the fixed dose threshold
  double level_cpm = 0;        // counts a minute in that window
  double threshold_cpm = 0;    // that window's threshold
  double background_cpm = 0;   // the learnt background
  double usv_h = 0;            // the live dose rate
};

// The store's verdict on a counter's recent seconds, rule by rule.
struct QualityReading {
  int64_t utc = 0;            // when it was judged
  int64_t from = 0, to = 0;   // the seconds judged: [from, to)
  std::vector<store::RuleResult> rules;
  bool ok() const {
    for (const store::RuleResult& r : rules)
      if (!r.ok) return false;
    return true;
  }
};

}  // namespace norvane::publish
