// The 60 samples the chart shows at the scroll position, and the texts that describe them.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "core/common/dose_conversion.h"
#include "core/history/record_stream.h"

namespace norvane {

struct HistoryWindow {
  static constexpr size_t kSamples = 60;

  size_t position = 0;  // scroll position the window was filled at
  std::array<uint32_t, kSamples> values{};  // kNoData / kNoDataWide where the flash holds none
  std::array<uint8_t, kSamples> types{};    // save type of each sample, 0 when unknown
  uint32_t sum = 0;                         // of the values that hold data
  // Bytes taken by the first reading that consumed more than one byte (less one when it was a
  // value record); 0 if all readings were single bytes. The scroll bar creeps by it.
  uint32_t first_step = 0;
};

// Positions below this count as the start of the image.
inline constexpr size_t kWindowStartSnap = 30;

void FillWindow(ImageView image, size_t pos, HistoryWindow& window);
// From the first marker of the image, as after a download or a load (scroll position 0).
void FillWindowFromStart(ImageView image, HistoryWindow& window);
// Any number of samples from `pos`, low 8 bits each, for the long chart view. Returns their sum
// without the no-data value 255.
uint32_t FillSamples(ImageView image, size_t pos, std::span<uint8_t> out);
bool WindowTypesUniform(const HistoryWindow& window);

// What the window shows beside the chart; each field keeps its text until a rule replaces it.
struct WindowReadout {
  std::string time = "No data loaded.";
  StampTime shown;             // the time fields behind `time`
  bool clock_known = false;    // `shown` is a time of the data loaded now, so playback may run it on
  std::string note;
  std::string rate = "CPM:-";
  std::string dose = "-";
};

// ISO 8601 "20%02d-%02d-%02d %02d:%02d:%02d" (month-first dates read wrongly in most of the world),
// or " %02d:%02d:%02d" when year, month and day are all 0.
std::string FormatShownTime(const StampTime& time);

// Updates the time label, note, rate and dose-rate texts for a freshly filled window. The dose
// rate always belongs to the rate text: "-" when that shows no number.
// `playing`: history playback runs, so a stamp never moves the shown time backwards.
void WindowRateText(ImageView image, const HistoryWindow& window, const ConversionTable& table, bool playing,
                    WindowReadout& readout);

}  // namespace norvane
