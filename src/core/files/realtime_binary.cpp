#include "core/files/realtime_binary.h"

#include "core/common/text_format.h"
#include "core/files/local_time.h"
#include "core/history/record_stream.h"
#include "core/platform/atomic_file.h"
#include "core/platform/file_read.h"

namespace norvane {
namespace {

constexpr uint32_t kLargestSingleByte = 254;
// A four-byte record whose first payload byte is 0x55 reads as a cut record; no second holds
// that many counts, but the file must stay readable all the same.
constexpr uint32_t kLargestRecordValue = 0x54FFFFFF;

void AppendRecord(std::string& out, uint32_t value) {
  out += static_cast<char>(kMarker0);
  out += static_cast<char>(kMarker1);
  // A two-byte payload starting with 0x55 would read as a cut record too: those go as four bytes.
  if (value <= 0xFFFF && (value >> 8) != kMarker0) {
    out += static_cast<char>(kCodeValue2);
    out += static_cast<char>(value >> 8);
    out += static_cast<char>(value & 0xFF);
    return;
  }
  if (value > kLargestRecordValue) value = kLargestRecordValue;
  out += static_cast<char>(kCodeValue4);
  for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((value >> shift) & 0xFF);
}

void AppendStamp(std::string& out, const StampTime& t, uint8_t save_type) {
  const uint8_t made[kStampLength] = {kMarker0, kMarker1, kCodeStamp, t.year,   t.month,  t.day,
                                      t.hour,   t.minute, t.second,   kMarker0, kMarker1, save_type};
  out.append(reinterpret_cast<const char*>(made), sizeof made);
}

void AppendSeconds(std::string& out, std::span<const uint32_t> seconds) {
  for (size_t i = 0; i < seconds.size(); ++i) {
    const uint32_t value = seconds[i];
    const bool starts_marker = value == kMarker0 && i + 1 < seconds.size() && seconds[i + 1] == kMarker1;
    if (value <= kLargestSingleByte && !starts_marker) out += static_cast<char>(value);
    else AppendRecord(out, value);
  }
}

void Fail(std::string* error, std::string text) {
  if (error) *error = std::move(text);
}

}  // namespace

std::string BuildRealtimeBinary(const RealtimeSeries& series, const Clock& clock) {
  std::string out;
  out.reserve(kStampLength + series.measured_count());
  const auto& stamp = series.start_stamp();
  if (stamp[0] == kMarker0 && stamp[1] == kMarker1 && stamp[2] == kCodeStamp) {
    out.append(reinterpret_cast<const char*>(stamp.data()), stamp.size());
  } else {
    // No session stamp (the series was only ever reset): the start time stands in, so the file
    // still opens as a recording.
    AppendStamp(out, StampFromLocal(clock.ToLocal(series.start_time())), kEverySecond);
  }
  AppendSeconds(out, series.measured());
  return out;
}

bool WriteRealtimeBinary(const std::string& path, const RealtimeSeries& series, const Clock& clock,
                         std::string* error) {
  return AtomicWriteFile(path, BuildRealtimeBinary(series, clock), error);
}

std::optional<RealtimeRecording> ParseRealtimeBinary(std::span<const uint8_t> bytes, std::string* error) {
  const ImageView image(bytes.data(), bytes.size());
  if (bytes.size() < kStampLength || !IsMarker(image, 0, kCodeStamp) || image[9] != kMarker0 || image[10] != kMarker1) {
    Fail(error, "not a realtime recording: it does not start with a time stamp record (55 AA 00 ... 55 AA type)");
    return std::nullopt;
  }
  RealtimeRecording recording;
  recording.start = {bytes[3], bytes[4], bytes[5], bytes[6], bytes[7], bytes[8]};
  recording.save_type = bytes[11];
  recording.counts.reserve(bytes.size() - kStampLength);
  size_t p = kStampLength;
  while (p < bytes.size()) {
    if (recording.counts.size() >= RealtimeSeries::kCapacity) {
      Fail(error, Format("not a realtime recording: more than %u seconds", RealtimeSeries::kCapacity));
      return std::nullopt;
    }
    const int64_t at = static_cast<int64_t>(p);
    if (bytes[p] == kMarker0 && p + 1 < bytes.size() && bytes[p + 1] == kMarker1) {
      const uint8_t code = image[at + 2];
      const size_t length = code == kCodeValue2 ? 2 : code == kCodeValue3 ? 3 : code == kCodeValue4 ? 4 : 0;
      if (length == 0) {
        Fail(error, Format("not a realtime recording: a record of kind %u at offset %zu", code, p));
        return std::nullopt;
      }
      if (p + 3 + length > bytes.size()) {
        Fail(error, Format("the recording ends inside a value record at offset %zu", p));
        return std::nullopt;
      }
      recording.counts.push_back(detail::BigEndian(image, at + 3, static_cast<int>(length)));
      p += 3 + length;
      continue;
    }
    recording.counts.push_back(bytes[p]);
    ++p;
  }
  return recording;
}

std::optional<RealtimeRecording> ReadRealtimeBinary(const std::filesystem::path& path, std::string* error) {
  const std::optional<std::string> file = ReadRegularFile(path, kLargestRealtimeBinary, error);
  if (!file) return std::nullopt;
  return ParseRealtimeBinary({reinterpret_cast<const uint8_t*>(file->data()), file->size()}, error);
}

std::string RecordingImage(const RealtimeRecording& recording) {
  std::string out;
  out.reserve(kStampLength + recording.counts.size());
  AppendStamp(out, recording.start, recording.save_type);
  AppendSeconds(out, recording.counts);
  return out;
}

}  // namespace norvane
