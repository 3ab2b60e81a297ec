#include "core/history/history_window.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <tuple>

#include "core/common/text_format.h"

namespace norvane {
namespace {

// FindSaveType for rising positions without looking back 660 bytes every time: only the bytes
// since the previous query are new, and the nearest stamp found so far stays the answer while it
// is within reach.
class SaveTypeScanner {
 public:
  explicit SaveTypeScanner(ImageView image) : image_(image) {}

  uint8_t Find(size_t pos) {
    const size_t lowest = pos >= kSaveTypeLookBack - 1 ? pos - (kSaveTypeLookBack - 1) : 0;
    const size_t scan_from = scanned_ && last_ + 1 > lowest ? last_ + 1 : lowest;
    int64_t found = -1;
    for (size_t q = pos + 1; q-- > scan_from;) {
      if (IsMarker(image_, static_cast<int64_t>(q), kCodeStamp)) {
        found = static_cast<int64_t>(q);
        break;
      }
    }
    if (found < 0 && nearest_ >= static_cast<int64_t>(lowest)) found = nearest_;
    nearest_ = found;
    last_ = pos;
    scanned_ = true;
    if (pos == 0 || found < 0) return kUnknownSaveType;
    return image_[found + 11];
  }

 private:
  ImageView image_;
  bool scanned_ = false;
  size_t last_ = 0;
  int64_t nearest_ = -1;
};

void ReadSamples(ImageView image, size_t from, HistoryWindow& window) {
  SaveTypeScanner scanner(image);
  size_t pos = from;
  window.sum = 0;
  window.first_step = 0;
  for (size_t i = 0; i < HistoryWindow::kSamples; ++i) {
    const Sample s = NextSample(image, pos);
    window.values[i] = s.value;
    if (s.value != kNoData && s.value != kNoDataWide) window.sum += s.value;
    const uint8_t type = scanner.Find(s.next - 1);
    if (type <= kThresholdMinute) window.types[i] = type;
    const size_t consumed = s.next - pos;
    if (window.first_step == 0 && consumed > 1)
      window.first_step = static_cast<uint32_t>(s.value_record ? consumed - 1 : consumed);
    pos = s.next;
  }
}

}  // namespace

void FillWindow(ImageView image, size_t pos, HistoryWindow& window) {
  if (pos < kWindowStartSnap) pos = 0;
  window.position = pos;
  window.values.fill(0);
  ReadSamples(image, pos, window);
}

void FillWindowFromStart(ImageView image, HistoryWindow& window) {
  window.position = 0;
  window.values.fill(0);
  window.types.fill(0);
  window.sum = 0;
  window.first_step = 0;
  const void* first = image.size() ? std::memchr(image.data(), kMarker0, image.size()) : nullptr;
  if (!first) return;
  ReadSamples(image, static_cast<size_t>(static_cast<const uint8_t*>(first) - image.data()), window);
}

uint32_t FillSamples(ImageView image, size_t pos, std::span<uint8_t> out) {
  if (pos < kWindowStartSnap) pos = 0;
  uint32_t sum = 0;
  for (uint8_t& slot : out) {
    const Sample s = NextSample(image, pos);
    slot = static_cast<uint8_t>(s.value);
    if (slot != kNoData) sum += slot;
    pos = s.next;
  }
  return sum;
}

bool WindowTypesUniform(const HistoryWindow& window) {
  return std::all_of(window.types.begin(), window.types.end(), [&](uint8_t t) { return t == window.types[0]; });
}

std::string FormatShownTime(const StampTime& t) {
  if (t.year == 0 && t.month == 0 && t.day == 0) return Format(" %02d:%02d:%02d", t.hour, t.minute, t.second);
  return Format("20%02d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute, t.second);
}

namespace {

StampTime StampAt(ImageView image, int64_t pos) {
  return {image[pos + 3], image[pos + 4], image[pos + 5], image[pos + 6], image[pos + 7], image[pos + 8]};
}

bool ShowableStamp(const StampTime& s) {
  return s.month >= 1 && s.month <= 12 && s.day >= 1 && s.day <= 31 && s.hour <= 23 && s.minute <= 59 &&
         s.second <= 59;
}

// During playback the clock runs ahead on its own; a stamp it has already passed must not pull
// it back. The times are compared as times: 01:00 is later than 00:29.
bool StampBehind(const StampTime& shown, const StampTime& s) {
  auto key = [](const StampTime& t) { return std::tie(t.year, t.month, t.day, t.hour, t.minute, t.second); };
  return key(shown) >= key(s);
}

// Searches back from the window position for the stamp (and a note right after it) that the
// window's samples belong to. Returns whether one was found.
bool UpdateTimeLabel(ImageView image, size_t pos, bool playing, WindowReadout& readout) {
  // Position 0 searches too: an image that starts with its stamp shows that time at the start,
  // rather than blanking it at the first step of the scroll bar.
  const size_t lowest = pos >= kSaveTypeLookBack - 1 ? pos - (kSaveTypeLookBack - 1) : 0;
  for (size_t q = pos + 1; q-- > lowest;) {
    const int kind = ClassifyStamp(image, q);
    if (kind != 1 && kind != 2) continue;
    const int64_t stamp_at = static_cast<int64_t>(q) - (kind == 2 ? 12 : 0);
    if (kind == 2) {
      const int64_t note = static_cast<int64_t>(q);
      const size_t length = std::min<size_t>(image[note + 3], kMaxNoteLength);
      readout.note.clear();
      for (size_t i = 0; i < length; ++i) readout.note.push_back(static_cast<char>(image[note + 4 + i]));
    } else {
      readout.note.clear();
    }
    const StampTime stamp = StampAt(image, stamp_at);
    if (ShowableStamp(stamp) && !(playing && readout.clock_known && StampBehind(readout.shown, stamp))) {
      readout.shown = stamp;
      readout.clock_known = true;
      readout.time = FormatShownTime(stamp);
    }
    return true;
  }
  return false;
}

}  // namespace

void WindowRateText(ImageView image, const HistoryWindow& window, const ConversionTable& table, bool playing,
                    WindowReadout& readout) {
  const size_t pos = window.position;
  const bool found = UpdateTimeLabel(image, pos, playing, readout);
  const bool erased = image[static_cast<int64_t>(pos)] == 0xFF;
  const bool uniform = WindowTypesUniform(window);
  // Minute and hour logs hold one count rate per sample: the window's rate is their average
  // (the sum would overstate it sixty-fold), also at the start of the image.
  const bool averaged = uniform && (window.types[0] == kEveryMinute || window.types[0] == kEveryHour);
  std::optional<uint32_t> rate;
  if (erased || (!found && (pos == 0 || window.types[0] == kEverySecond))) {
    readout.time = "-";
    // A lone FF inside a minute log is a minute without data, not erased flash: the window is
    // still sixty minutes and stays an average. Only a window of nothing but erased bytes is
    // read as the original read erased flash.
    const bool holds_data = std::any_of(window.values.begin(), window.values.end(),
                                        [](uint32_t v) { return v != kNoData && v != kNoDataWide; });
    const bool average = averaged && (!erased || holds_data);
    rate = average ? window.sum / 60 : window.sum;
    readout.rate = Format(average ? "ACPM:%u" : "CPM:%u", *rate);
  } else if (!uniform) {
    readout.rate = "CPM:-";
  } else if (averaged) {
    rate = window.sum / 60;
    readout.rate = Format("ACPM:%u", *rate);
  } else {
    rate = window.sum;
    readout.rate = Format("CPM:%u", *rate);
  }
  // Never a dose left over from other data: it is the dose of the rate shown beside it.
  readout.dose = rate ? FormatFixed(DoseRateFromCpm(table, *rate), 3) + " uSv/h" : "-";
}

}  // namespace norvane
