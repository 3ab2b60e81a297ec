// Everything held in memory about measurements: the history half and the realtime half.
#pragma once

#include <ctime>

#include "core/common/dose_conversion.h"
#include "core/history/history_dump.h"
#include "core/history/history_window.h"
#include "core/history/realtime_series.h"
#include "core/history/time_index.h"

namespace norvane {

class DataSet {
 public:
  explicit DataSet(std::time_t now) : realtime(now) {}

  // Refills the window at a scroll position and updates the texts beside the chart.
  void Refill(size_t pos, bool playing);
  // After a download or a load: the window from the image start, its texts, the time index.
  void RefillFromStart();
  // Empties the realtime half, zeroes the whole image buffer and clears the window. Stopping
  // playback is the navigation's part of this.
  void ClearAll(std::time_t now);

  HistoryDump dump;
  HistoryWindow window;
  WindowReadout readout;
  TimeIndex time_index;
  RealtimeSeries realtime;
  ConversionTable conversion = kDefaultConversionTable;
};

}  // namespace norvane
