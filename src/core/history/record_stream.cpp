#include "core/history/record_stream.h"

namespace norvane {

std::string_view SaveTypeName(uint8_t save_type) {
  switch (save_type) {
    case kEverySecond: return "Every Second";
    case kEveryMinute: return "Every Minute";
    case kEveryHour: return "Every Hour";
    case kThresholdSecond: return "Threshold Second";
    case kThresholdMinute: return "Threshold Minute";
    default: return {};
  }
}

int DaysInMonth(int year_since_2000, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  // A stamp may carry a month the counter never should; give it a full month rather than
  // indexing outside the table.
  if (month < 1 || month > 12) return 31;
  const int year = 2000 + year_since_2000;
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

void AdvanceStamp(StampTime& stamp, StampUnit unit) {
  if (unit == StampUnit::kSecond && ++stamp.second <= 59) return;
  if (unit == StampUnit::kSecond) stamp.second = 0;
  if (++stamp.minute <= 59) return;
  stamp.minute = 0;
  if (++stamp.hour <= 23) return;
  stamp.hour = 0;
  if (++stamp.day <= DaysInMonth(stamp.year, stamp.month)) return;
  stamp.day = 1;
  if (++stamp.month <= 12) return;
  stamp.month = 1;
  stamp.year = stamp.year >= 99 ? 0 : stamp.year + 1;
}

Sample NextSample(ImageView image, size_t start) {
  int64_t p = static_cast<int64_t>(start);
  uint8_t remembered = 0;
  for (;;) {
    // Leading records that carry no sample of their own.
    while (image[p] == kMarker0 && image[p + 1] == kMarker1) {
      const uint8_t code = image[p + 2];
      if (code == kCodeStamp) {
        remembered = image[p + 11];
        p += kStampLength;
      } else if (code == kCodeModeMark) {
        remembered = kThresholdMinute;
        p += 3;
      } else if (code == kCodeNote && !IsStampTail(image, p)) {
        p += image[p + 3] == kMarker0 ? 3 : 4 + image[p + 3];
      } else {
        break;
      }
    }

    if (image[p] == kMarker0 && image[p + 1] == kMarker1) {
      const uint8_t code = image[p + 2];
      if (code == kCodeValue2 || code == kCodeValue3 || code == kCodeValue4) {
        if (IsStampTail(image, p) || image[p + 3] == kMarker0) {
          p += 3;
          remembered = 0;
          continue;
        }
        const int bytes = code == kCodeValue2 ? 2 : code == kCodeValue3 ? 3 : 4;
        return {detail::BigEndian(image, p + 3, bytes), static_cast<size_t>(p + 3 + bytes), remembered, true};
      }
    }

    // The position may fall inside a stamp: continue after it (the nearest stamp wins). All 11
    // bytes after a stamp's first are inside it; its last one, the save type, is no count.
    bool inside_stamp = false;
    for (int64_t back = 1; back < static_cast<int64_t>(kStampLength); ++back) {
      if (IsMarker(image, p - back, kCodeStamp)) {
        p = p - back + static_cast<int64_t>(kStampLength);
        inside_stamp = true;
        break;
      }
    }
    if (inside_stamp) {
      remembered = 0;
      continue;
    }
    // Or on the first text byte of a note. A stamp's tail 55 AA 02 is no note, and an empty
    // note has no text to be inside of (skipping 0 bytes would never move on).
    if (IsMarker(image, p - 4, kCodeNote) && !IsStampTail(image, p - 4) && image[p - 1] != 0) {
      p += image[p - 1];
      remembered = 0;
      continue;
    }

    return {image[p], static_cast<size_t>(p + 1), remembered, false};
  }
}

uint8_t FindSaveType(ImageView image, size_t pos) {
  if (pos == 0) return kUnknownSaveType;
  const size_t lowest = pos >= kSaveTypeLookBack - 1 ? pos - (kSaveTypeLookBack - 1) : 0;
  for (size_t q = pos + 1; q-- > lowest;) {
    if (IsMarker(image, static_cast<int64_t>(q), kCodeStamp)) return image[static_cast<int64_t>(q) + 11];
  }
  return kUnknownSaveType;
}

int ClassifyStamp(ImageView image, size_t pos) {
  const int64_t p = static_cast<int64_t>(pos);
  if (IsMarker(image, p, kCodeNote)) return IsMarker(image, p - 12, kCodeStamp) ? 2 : 3;
  return IsMarker(image, p, kCodeStamp) ? 1 : 0;
}

}  // namespace norvane
