#include "core/files/history_csv.h"

#include <algorithm>
#include <charconv>
#include <limits>

#include "core/common/text_format.h"
#include "core/history/record_stream.h"

namespace norvane {
namespace {

constexpr uint32_t kSecondsPerRow = 60;
constexpr size_t kDoseCacheSize = 2048;

void AppendTwoDigits(std::string& out, unsigned value) {
  if (value > 99) {
    out += std::to_string(value);  // cannot come from a stamp; kept readable all the same
    return;
  }
  out += static_cast<char>('0' + value / 10);
  out += static_cast<char>('0' + value % 10);
}

void AppendNumber(std::string& out, uint64_t value) {
  // Most counts are one or two digits; this is the export's innermost step.
  if (value < 10) {
    out += static_cast<char>('0' + value);
    return;
  }
  if (value < 100) {
    const char two[2] = {static_cast<char>('0' + value / 10), static_cast<char>('0' + value % 10)};
    out.append(two, 2);
    return;
  }
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  out.append(digits, end);
}

// A row start whose time could not have come from a real clock (only a damaged stamp gives one).
bool Plausible(const StampTime& t) {
  return t.year <= 99 && t.month <= 12 && t.day <= 49 && t.hour <= 36 && t.minute <= 59;
}

}  // namespace

std::string CsvFirstLine(char sep) {
  return Format("Norvane Electronics LLC%c ZQT Data Viewer%cVersion %s\r\n", sep, sep, kExportVersionText);
}

HistoryCsvBuilder::HistoryCsvBuilder(ImageView image, const WriterOptions& options, std::string& out)
    : image_(image), options_(options), out_(out), sep_(options.separator) {
  head_.reserve(64);
  counts_.reserve(kSecondsPerRow * 8);
}

void HistoryCsvBuilder::StartRow(bool check_plausible) {
  head_.clear();
  counts_.clear();
  pending_ = true;
  head_ += "\r\n";
  // An implausible time leaves the date cell empty; the other cells stay where they belong.
  if (!check_plausible || Plausible(stamp_)) {
    head_ += "20";
    AppendTwoDigits(head_, stamp_.year);
    head_ += '-';
    AppendTwoDigits(head_, stamp_.month);
    head_ += '-';
    AppendTwoDigits(head_, stamp_.day);
    head_ += ' ';
    AppendTwoDigits(head_, stamp_.hour);
    head_ += ':';
    AppendTwoDigits(head_, stamp_.minute);
  }
  head_ += sep_;
  head_ += SaveTypeName(type_);
  head_ += sep_;
}

void HistoryCsvBuilder::AppendDose(uint64_t sum) {
  if (sum == 0) {
    out_ += '-';
    out_ += sep_;
    return;
  }
  const auto text = [&] {
    const uint32_t cpm = static_cast<uint32_t>(std::min<uint64_t>(sum, std::numeric_limits<uint32_t>::max()));
    return FormatFixed(DoseRateFromCpm(options_.conversion, cpm), 3);
  };
  if (sum < kDoseCacheSize) {
    if (dose_cache_.empty()) dose_cache_.resize(kDoseCacheSize);
    std::string& cached = dose_cache_[sum];
    if (cached.empty()) cached = text();
    out_ += cached;
  } else {
    out_ += text();
  }
  out_ += sep_;
}

bool HistoryCsvBuilder::FollowedByStamp(size_t offset) const {
  const int64_t at = static_cast<int64_t>(offset);
  // A plain count followed by anything but 0x55 is the common case.
  if (image_[at] != kMarker0 && image_[at + 1] != kMarker0) return false;
  int64_t length = 1;
  if (image_[at] == kMarker0 && image_[at + 1] == kMarker1) {
    const uint8_t code = image_[at + 2];
    if (code == kCodeValue2) length = 5;
    else if (code == kCodeValue3) length = 6;
    else if (code == kCodeValue4) length = 7;
  }
  return IsMarker(image_, at + length, kCodeStamp);
}

void HistoryCsvBuilder::WriteClosedSecondRow(bool advance) {
  row_counter_ = 0;
  if (advance) AdvanceStamp(stamp_, StampUnit::kMinute);
  out_ += head_;
  AppendDose(row_sum_);
  AppendNumber(out_, row_sum_);
  out_ += sep_;
  out_ += counts_;
  row_sum_ = 0;
  StartRow(true);
}

void HistoryCsvBuilder::ClosePending(bool advance) {
  // Only the per-second types hold samples back; a row cut short is still data.
  if (!pending_ || counts_.empty()) return;
  if (type_ == kEverySecond) {
    WriteClosedSecondRow(advance);
  } else if (type_ == kThresholdSecond) {
    out_ += head_;
    out_ += sep_;
    out_ += sep_;
    out_ += counts_;
    pending_ = false;
    counts_.clear();
    row_counter_ = 0;
  }
}

void HistoryCsvBuilder::OnStamp(size_t, const StampTime& stamp, uint8_t save_type) {
  // During a walk the stamp record has already set the time the next rows start at.
  ClosePending(false);
  if (!SaveTypeName(save_type).empty()) type_ = save_type;
  stamp_ = stamp;
  row_counter_ = 0;
  row_sum_ = 0;
  StartRow(false);
}

void HistoryCsvBuilder::OnNote(size_t, std::string_view text) {
  ClosePending(true);
  pending_ = false;
  head_.clear();
  counts_.clear();
  row_counter_ = 0;
  row_sum_ = 0;  // the next row's CPM counts only its own samples
  out_ += "\r\n";
  out_ += text;
  out_.append(3, sep_);
  out_ += "\r\n";
}

void HistoryCsvBuilder::OnSample(size_t offset, uint32_t value) {
  row_sum_ += value;
  // Before any stamp with a known save type there is no row these samples could go into.
  if (type_ == kSaveNone) return;
  if (!pending_) StartRow(true);
  AppendNumber(counts_, value);
  counts_ += sep_;

  switch (type_) {
    case kEverySecond:
      if (!FollowedByStamp(offset) && ++row_counter_ < kSecondsPerRow) return;
      WriteClosedSecondRow(true);
      return;
    case kThresholdSecond:
      if (++row_counter_ < kSecondsPerRow) return;
      ClosePending(true);
      return;
    case kThresholdMinute:
      out_ += head_;
      out_ += sep_;
      out_ += counts_;
      row_sum_ = 0;
      StartRow(true);
      return;
    case kEveryMinute:
    case kEveryHour:
      for (int minutes = type_ == kEveryHour ? 60 : 1; minutes > 0; --minutes)
        AdvanceStamp(stamp_, StampUnit::kMinute);
      out_ += head_;
      AppendDose(row_sum_);
      out_ += counts_;
      row_sum_ = 0;
      StartRow(true);
      return;
    default:
      return;
  }
}

void HistoryCsvBuilder::Finish() { ClosePending(true); }

std::string BuildHistoryCsv(ImageView image, const WriterOptions& options) {
  const char sep = options.separator;
  std::string out = CsvFirstLine(sep);
  out += Format("%s %s%cType%cuSv/h%cCPM%c", options.date_word.c_str(), options.time_word.c_str(), sep, sep, sep, sep);
  for (int i = 1; i <= 60; ++i) out += Format("#%d(CPS)%c", i, sep);
  out += "\r\n";
  // Rows of per-second data are about four bytes per image byte; reserve for the common case.
  out.reserve(out.size() + image.size() * 2);
  HistoryCsvBuilder builder(image, options, out);
  HistoryWalk(image.data(), image.size(), builder, builder.current_time());
  builder.Finish();
  return out;
}

}  // namespace norvane
