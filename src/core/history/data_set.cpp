#include "core/history/data_set.h"

namespace norvane {

void DataSet::Refill(size_t pos, bool playing) {
  FillWindow(dump.image(), pos, window);
  WindowRateText(dump.image(), window, conversion, playing, readout);
}

void DataSet::RefillFromStart() {
  // Nothing shown for the data before survives: not its date, its clock or its note.
  readout = WindowReadout{};
  FillWindowFromStart(dump.image(), window);
  WindowRateText(dump.image(), window, conversion, false, readout);
  if (const TimeIndexEntry* entry = BuildTimeIndex(dump.image(), time_index)) {
    readout.time = entry->text;
    readout.shown = *time_index.start;
    readout.clock_known = true;
  }
}

void DataSet::ClearAll(std::time_t now) {
  realtime.Reset(now);
  dump.Fill(0);
  window = HistoryWindow{};
}

}  // namespace norvane
