// An alarm and its all-clear in words, alike in the service's log and the window.
#pragma once

#include <optional>
#include <string>

#include "core/alarm/alarm_detector.h"

namespace norvane::alarm {

// "Alarm: 95.0 CPM in the last 10 s, at or above its threshold of 80.2 CPM (background 20.1 CPM)."
std::string DescribeAlarm(const AlarmEvent& event, std::optional<double> fixed_usv_h);

}  // namespace norvane::alarm
