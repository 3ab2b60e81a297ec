// Decoding of the counter's history byte stream: samples, time stamps, notes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace norvane {

// Read-only view of a history image. Every position outside it reads as erased flash (0xFF),
// so decoders can look ahead and behind freely without bounds checks of their own.
class ImageView {
 public:
  ImageView() = default;
  ImageView(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  uint8_t operator[](int64_t pos) const {
    return pos >= 0 && static_cast<uint64_t>(pos) < size_ ? data_[pos] : uint8_t{0xFF};
  }
  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }

 private:
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
};

inline constexpr uint8_t kMarker0 = 0x55;
inline constexpr uint8_t kMarker1 = 0xAA;
inline constexpr size_t kStampLength = 12;
inline constexpr size_t kMaxNoteLength = 16;
inline constexpr uint32_t kNoData = 255;           // a one-byte sample of erased flash
inline constexpr uint32_t kNoDataWide = 0xFFFF;    // a two-byte sample the counter left empty
inline constexpr uint8_t kUnknownSaveType = 255;   // FindSaveType found no stamp

enum MarkerCode : uint8_t {
  kCodeStamp = 0x00,
  kCodeValue2 = 0x01,
  kCodeNote = 0x02,
  kCodeValue3 = 0x03,
  kCodeValue4 = 0x04,
  kCodeModeMark = 0x05,
};

// Logging modes carried by a stamp; the names are shown and exported as they stand.
enum SaveType : uint8_t {
  kSaveNone = 0,
  kEverySecond = 1,
  kEveryMinute = 2,
  kEveryHour = 3,
  kThresholdSecond = 4,
  kThresholdMinute = 5,
};
std::string_view SaveTypeName(uint8_t save_type);  // empty for 0 and unknown codes

struct StampTime {
  uint8_t year = 0;  // years since 2000
  uint8_t month = 0;
  uint8_t day = 0;
  uint8_t hour = 0;
  uint8_t minute = 0;
  uint8_t second = 0;

  bool operator==(const StampTime&) const = default;
};

enum class StampUnit { kSecond, kMinute };

// Moves a stamp on by one second or minute. February has 29 days in leap years (2000 + year).
void AdvanceStamp(StampTime& stamp, StampUnit unit);
int DaysInMonth(int year_since_2000, int month);

inline bool IsMarker(ImageView image, int64_t pos, uint8_t code) {
  return image[pos] == kMarker0 && image[pos + 1] == kMarker1 && image[pos + 2] == code;
}

// Bytes 9-11 of a stamp look like a marker of their own (55 AA and the save type): three bytes
// at `pos` are such a tail when a stamp marker starts 9 bytes earlier.
inline bool IsStampTail(ImageView image, int64_t pos) { return IsMarker(image, pos - 9, kCodeStamp); }

struct Sample {
  uint32_t value = kNoData;
  size_t next = 0;          // position just after the sample
  uint8_t save_type = 0;    // of a stamp or mode mark directly before the sample, else 0
  bool value_record = false;  // read from a 55 AA 01/03/04 record rather than a single byte
};

// Reads the next sample from any position, also one that falls inside a record.
Sample NextSample(ImageView image, size_t pos);

// Save type of the nearest stamp at or before `pos` within 660 bytes; kUnknownSaveType if none
// or if `pos` is the first byte of the image.
uint8_t FindSaveType(ImageView image, size_t pos);
inline constexpr size_t kSaveTypeLookBack = 660;

// 1: a stamp starts at `pos`; 2: a note starts here directly after a stamp; 3: a note without a
// stamp before it; 0: anything else.
int ClassifyStamp(ImageView image, size_t pos);

// Receives the events of HistoryWalk in image order. `offset` is where the record starts.
class HistoryEventSink {
 public:
  virtual ~HistoryEventSink() = default;
  virtual void OnStamp(size_t offset, const StampTime& stamp, uint8_t save_type) = 0;
  virtual void OnNote(size_t offset, std::string_view text) = 0;
  virtual void OnSample(size_t offset, uint32_t value) = 0;
};

namespace detail {

inline uint32_t BigEndian(ImageView image, int64_t pos, int bytes) {
  uint32_t value = 0;
  for (int i = 0; i < bytes; ++i) value = (value << 8) | image[pos + i];
  return value;
}

// Replaces the stamp's fields in order up to the first one out of range; that field and all
// after it keep what the walker held (a counter with an unset clock writes 0xFF there).
inline void TakeStampFields(ImageView image, int64_t pos, StampTime& stamp) {
  const uint8_t year = image[pos + 3], month = image[pos + 4], day = image[pos + 5], hour = image[pos + 6],
                minute = image[pos + 7], second = image[pos + 8];
  if (year > 98) return;
  stamp.year = year;
  if (month < 1 || month > 12) return;
  stamp.month = month;
  if (day < 1 || day > 31) return;
  stamp.day = day;
  if (hour > 23) return;
  stamp.hour = hour;
  if (minute > 59) return;
  stamp.minute = minute;
  if (second > 59) return;
  stamp.second = second;
}

}  // namespace detail

// Decodes image bytes [0, length) from the start and reports every stamp, note and sample.
// Takes any sink with the three On… members, a HistoryEventSink& included. Runs of one-byte
// counts are found with memchr, so a 2 MiB image decodes in a few milliseconds.
// `stamp` is the time the walk has reached. A sink that moves the time on between stamps (an
// export whose rows advance minute by minute) passes its own, so that a stamp with a field out
// of range keeps the fields of the time reached rather than those of an older stamp.
template <typename Sink>
void HistoryWalk(const uint8_t* data, size_t length, Sink& sink, StampTime& stamp) {
  const ImageView image(data, length);
  bool stamp_seen = false;  // any time field non-zero
  size_t p = 0;
  while (p < length) {
    const uint8_t b = data[p];
    if (b != kMarker0) {
      // The common case: a run of one-byte counts up to the next possible marker.
      const void* found = std::memchr(data + p, kMarker0, length - p);
      const size_t end = found ? static_cast<size_t>(static_cast<const uint8_t*>(found) - data) : length;
      if (stamp_seen) {
        for (; p < end; ++p)
          if (data[p] != 0xFF) sink.OnSample(p, data[p]);
      }
      p = end;
      continue;
    }
    if (image[p + 1] != kMarker1) {
      if (stamp_seen) sink.OnSample(p, b);
      ++p;
      continue;
    }
    const int64_t at = static_cast<int64_t>(p);
    switch (const uint8_t code = image[at + 2]) {
      case kCodeStamp: {
        detail::TakeStampFields(image, at, stamp);
        stamp_seen = stamp != StampTime{};
        sink.OnStamp(p, stamp, image[at + 11]);
        p += kStampLength;
        break;
      }
      case kCodeNote:
      case kCodeValue2:
      case kCodeValue3:
      case kCodeValue4: {
        // A marker is real only if it is not a stamp's tail and its payload does not begin
        // with a new marker; otherwise its three bytes are skipped.
        if (IsStampTail(image, at) || image[at + 3] == kMarker0) {
          p += 3;
          break;
        }
        if (code == kCodeNote) {
          const uint8_t n = image[at + 3];
          if (n <= kMaxNoteLength) {
            char text[kMaxNoteLength];
            for (uint8_t i = 0; i < n; ++i) text[i] = static_cast<char>(image[at + 4 + i]);
            sink.OnNote(p, std::string_view(text, n));
            p += 4 + n;
          } else {
            // A damaged note: resume at the next possible marker.
            const size_t from = p + 3;
            const void* found = from < length ? std::memchr(data + from, kMarker0, length - from) : nullptr;
            p = found ? static_cast<size_t>(static_cast<const uint8_t*>(found) - data) : length;
          }
          break;
        }
        const int bytes = code == kCodeValue2 ? 2 : code == kCodeValue3 ? 3 : 4;
        const uint32_t value = detail::BigEndian(image, at + 3, bytes);
        if (value != kNoData) sink.OnSample(p, value);
        p += 3 + bytes;
        break;
      }
      case kCodeModeMark:
        p += 3;
        break;
      default:
        if (stamp_seen && image[at + 9] == kMarker0 && image[at + 10] == kMarker1) {
          p += kStampLength;  // a stamp whose marker code was damaged
        } else {
          if (stamp_seen) sink.OnSample(p, b);
          ++p;
        }
        break;
    }
  }
}

template <typename Sink>
void HistoryWalk(const uint8_t* data, size_t length, Sink& sink) {
  StampTime stamp;
  HistoryWalk(data, length, sink, stamp);
}

}  // namespace norvane
